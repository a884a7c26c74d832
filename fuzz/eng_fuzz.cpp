// eng's text is at most 30 characters, carries the sign of its input, and, where the value
// lies inside the prefix range, reads back to the value within the precision shown.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "check.hpp"
#include "zarngen/support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  double x = 0;
  std::int32_t precision = 3;
  if (size < sizeof x) return 0;
  std::memcpy(&x, data, sizeof x);
  if (size >= sizeof x + sizeof precision) {
    std::memcpy(&precision, data + sizeof x, sizeof precision);
  }

  const std::string text = eng(x, precision);
  FUZZ_CHECK(text.size() <= 30);
  FUZZ_CHECK(text[0] == (x < 0 ? '-' : ' '));
  if (std::isnan(x)) {
    FUZZ_CHECK(text.find("nan") == 1);
    return 0;
  }

  // Inside the prefix range and with the prefix not cut off by the 30-character bound.
  const double a = std::fabs(x);
  if (a < 1e-23 || a > 1e26 || text.size() == 30) return 0;
  static const std::string prefixes = "yzafpnum kMGTPEZY";
  const std::size_t index = prefixes.find(text.back());
  FUZZ_CHECK(index != std::string::npos);
  char* end = nullptr;
  const double mantissa = std::strtod(text.c_str() + 1, &end);
  FUZZ_CHECK(end != text.c_str() + 1);
  const double shown = mantissa * std::pow(10.0, 3.0 * (static_cast<double>(index) - 8));

  // At precision 3 or less three significant digits show; at p, p of them. The mantissa
  // is at least 1 - 10^-(p+1), so half a unit of the last digit is at most this part of it.
  const int digits = precision <= 3 ? 3 : std::min(precision, 15);
  const double tolerance = 0.6 * std::pow(10.0, 1 - digits) + 1e-13;
  FUZZ_CHECK(std::fabs(shown - a) <= tolerance * a);
  return 0;
}
