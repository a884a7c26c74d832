#include <cmath>
#include <cstdio>

#include "zarngen/support.h"

namespace {

// Index i stands for 10^(3 * (i - 8)).
constexpr char kPrefixes[] = "yzafpnum kMGTPEZY";
constexpr int kNoPrefix = 8;
constexpr int kLastPrefix = 16;

// The text is written with bound 31: at most 30 characters.
thread_local char result[31];

// At this precision the text, prefix included, is exactly 30 characters (p + 4): a larger
// one would only push the prefix past the bound, and the cut text would read as another
// number (4.7 for 4.7 k).
constexpr int kMaxPrecision = 26;

// 10^-(p + 1) for every precision p, as the compiler rounds the literals: the same bits as
// pow() gave, without the math library, whose pow carries a symbol version (GLIBC_2.29)
// that older systems lack.
constexpr double kMargins[kMaxPrecision + 1] = {1e-1,  1e-2,  1e-3,  1e-4,  1e-5,  1e-6,  1e-7,
                                                1e-8,  1e-9,  1e-10, 1e-11, 1e-12, 1e-13, 1e-14,
                                                1e-15, 1e-16, 1e-17, 1e-18, 1e-19, 1e-20, 1e-21,
                                                1e-22, 1e-23, 1e-24, 1e-25, 1e-26, 1e-27};

}  // namespace

extern "C" char* eng(double x, int precision) {
  if (precision < 0) precision = 0;
  if (precision > kMaxPrecision) precision = kMaxPrecision;
  // The rounding margin that every threshold below is widened by.
  const double epsilon = kMargins[precision];

  const char sign = x < 0 ? '-' : ' ';
  // fabs also drops the sign bit of a NaN, which the formatted write would print.
  double a = std::fabs(x);

  int n = kNoPrefix;
  while (a > 0 && a <= 1 + epsilon && n > 0) {
    a *= 1000;
    --n;
  }
  // A multiplication, not a division: the last bit of the mantissa follows from it.
  while (a > 0 && a >= (1 - epsilon) * 1000 && n < kLastPrefix) {
    a *= 0.001;
    ++n;
  }
  // Below the prefix range only noise is left; a zero of either sign prints as 0.
  if (a <= 2e-15) a = 0.0;

  const double t100 = (1 - epsilon) * 100;
  const double t10 = (1 - epsilon) * 10;
  const char prefix = kPrefixes[n];
  if (precision <= 3) {
    const char* format = a >= t100 ? "%c%3.0f   %c" : a >= t10 ? "%c%2.1f  %c" : "%c%1.2f  %c";
    std::snprintf(result, sizeof result, format, sign, a, prefix);
  } else {
    const int decimals = a >= t100 ? precision - 3 : a >= t10 ? precision - 2 : precision - 1;
    std::snprintf(result, sizeof result, "%c%.*f %c", sign, decimals, a, prefix);
  }
  return result;
}
