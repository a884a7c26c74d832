#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <thread>

#include "zarngen/support.h"

namespace {

struct Case {
  double x;
  int precision;
  const char* text;
};

// Exactly on a layout threshold: (1 - 10^-(precision + 1)) times 10, 100 or 1000.
double threshold(double decade, int precision) {
  return (1 - std::pow(10.0, -precision - 1)) * decade;
}

TEST(Eng, FormatsWithTheFixedLayout) {
  const double inf = std::numeric_limits<double>::infinity();
  const Case cases[] = {
      {0, 3, " 0.00   "},
      {-0.0, 3, " 0.00   "},
      {1, 3, " 1.00   "},
      {-1, 3, "-1.00   "},
      {0.5, 3, " 500   m"},
      {0.001, 3, " 1.00  m"},
      {4.7e-9, 3, " 4.70  n"},
      {12.345, 3, " 12.3   "},
      {-0.0123, 3, "-12.3  m"},
      {1234.5, 3, " 1.23  k"},
      {999.95, 3, " 1.00  k"},
      {999.8, 3, " 1000    "},  // rounds into the next decade: 9 wide
      {99.95, 3, " 100.0   "},
      {1e-27, 3, " 0.00  y"},
      {1e-40, 3, " 0.00  y"},
      {-1e-30, 3, "-0.00  y"},
      {1e30, 3, " 1000000   Y"},
      {123.45678, 4, " 123.5  "},
      {12.345678, 4, " 12.35  "},
      {1, 4, " 1.000  "},
      {999.99, 4, " 1.000 k"},
      {12.345678, 6, " 12.3457  "},
      {100000, 6, " 100.000 k"},
      {950, 0, " 0.95  k"},
      {0.95, 0, " 0.95   "},
      {950, 1, " 950    "},
      {0.95, 1, " 950   m"},
      {950, 2, " 950    "},
      {0.95, 2, " 950   m"},
      {950, -7, " 0.95  k"},  // a negative precision counts as 0
      {0.95, std::numeric_limits<int>::min(), " 0.95   "},
      {47e3, 5, " 47.000 k"},
      {1e24, 3, " 1.00  Y"},
      {inf, 3, " inf   Y"},
      {-inf, 3, "-inf   Y"},
      {inf, 5, " inf Y"},
      {std::numeric_limits<double>::quiet_NaN(), 3, " nan   "},
      {-std::numeric_limits<double>::quiet_NaN(), 3, " nan   "},
      {std::copysign(std::numeric_limits<double>::quiet_NaN(), -1.0), 7, " nan  "},
      {std::numeric_limits<double>::denorm_min(), 3, " 0.00  y"},
      {0x1.5c72fb1552d84p-129, 16, " 0.000000000000000 y"},  // scales to 2e-15 exactly
      // A value on a threshold takes the wider layout.
      {threshold(100, 0), 0, "  90    "},
      {threshold(10, 0), 0, " 9.0   "},
      {threshold(100, 1), 1, "  99    "},
      {threshold(10, 1), 1, " 9.9   "},
      {threshold(100, 2), 2, " 100    "},
      {threshold(10, 2), 2, " 10.0   "},
      {threshold(100, 3), 3, " 100    "},
      {threshold(10, 3), 3, " 10.0   "},
      {threshold(100, 4), 4, " 100.0  "},
      {threshold(10, 4), 4, " 10.00  "},
      {threshold(1000, 3), 3, " 1.00  k"},  // and the next prefix
      // A precision above 26, where the text with its prefix fills the 30 characters,
      // counts as 26.
      {1.5, 26, " 1.5000000000000000000000000  "},
      {1.5, 27, " 1.5000000000000000000000000  "},
      {4700, 27, " 4.7000000000000001776356839 k"},
      {1.0 / 3, std::numeric_limits<int>::max(), " 333.33333333333331438552705 m"},
      // Far beyond the prefix range the mantissa alone outgrows the bound.
      {1e48, 3, " 1000000000000000117440512   Y"},
      {-1e49, 3, "-10000000000000003053453312   Y"},
  };
  for (const auto& c : cases) {
    // Every result fits the 30-character bound; longer texts are cut there.
    const std::string expected = std::string(c.text).substr(0, 30);
    EXPECT_EQ(eng(c.x, c.precision), expected) << c.x << " at precision " << c.precision;
  }
}

TEST(Eng, KeepsOneResultPerThread) {
  const char* mine = eng(1, 3);
  std::string theirs;
  std::thread([&theirs] { theirs = eng(2, 3); }).join();
  EXPECT_STREQ(mine, " 1.00   ");
  EXPECT_EQ(theirs, " 2.00   ");
}

// The same steps done another way: the prefix from a logarithm instead of a loop of
// multiplications, the mantissa from a division, the digits from the precision.
struct Expected {
  int prefix;       // index into "yzafpnum kMGTPEZY"
  double mantissa;  // within [1 - eps, 1000 * (1 - eps))
  int decimals;
  // The mantissa text keeps its width while it shows as many integer digits as the
  // layout chose: below `decade` and, but for the smallest layout, not below a tenth of it
  // (at precision 2 and less, 9.95 takes the layout of 10 to 100).
  double decade;
  bool near_edge;
};

Expected expect(double a, int precision) {
  const double eps = std::pow(10.0, -precision - 1);
  const int k = static_cast<int>(std::floor(std::log10(a / (1 - eps)) / 3));
  const double m = a / std::pow(10.0, 3 * k);
  const double t100 = (1 - eps) * 100;
  const double t10 = (1 - eps) * 10;
  const int bigger = precision <= 3 ? 0 : precision - 3;
  Expected e{8 + k, m, 0, 0, false};
  if (m >= t100) {
    e.decimals = bigger;
    e.decade = 1000;
  } else if (m >= t10) {
    e.decimals = bigger + 1;
    e.decade = 100;
  } else {
    e.decimals = bigger + 2;
    e.decade = 10;
  }
  for (const double edge : {1 - eps, t10, t100, 1000 * (1 - eps)}) {
    e.near_edge = e.near_edge || std::fabs(m - edge) <= 1e-9 * edge;
  }
  return e;
}

TEST(Eng, AgreesWithAnIndependentComputationForRandomValues) {
  std::mt19937_64 random(20261208);
  std::uniform_real_distribution<double> exponent(-23.5, 26.5);
  std::uniform_int_distribution<int> precision_of(0, 12);
  const std::string prefixes = "yzafpnum kMGTPEZY";
  int checked = 0;
  for (int i = 0; i < 20000; ++i) {
    const double x = (i % 2 ? -1 : 1) * std::pow(10.0, exponent(random));
    const int precision = precision_of(random);
    const Expected e = expect(std::fabs(x), precision);
    if (e.near_edge || e.prefix < 0 || e.prefix > 16) continue;
    ++checked;

    const std::string text = eng(x, precision);
    SCOPED_TRACE(std::to_string(x) + " at precision " + std::to_string(precision) + ": '" + text +
                 "'");
    ASSERT_GE(text.size(), 3u);
    EXPECT_EQ(text.front(), x < 0 ? '-' : ' ');
    EXPECT_EQ(text.back(), prefixes[static_cast<std::size_t>(e.prefix)]);
    const double shown = std::strtod(text.c_str() + 1, nullptr);
    EXPECT_LE(std::fabs(shown - e.mantissa), 0.5 * std::pow(10.0, -e.decimals) + 1e-9 * shown);
    if (shown < e.decade && (e.decade == 10 || shown >= e.decade / 10)) {
      EXPECT_EQ(text.size(), precision <= 3 ? 8u : static_cast<std::size_t>(precision) + 4);
    }
  }
  EXPECT_GT(checked, 19000);
}

}  // namespace
