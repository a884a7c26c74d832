// parse_count against the C library's base-0 conversion, clamped to 32 bits.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>

#include "check.hpp"
#include "gorvic/count.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const auto value = gorvic::parse_count(text);

  // strtoll reads up to the first NUL, where parse_count stops too (a NUL fits no base).
  char* end = nullptr;
  errno = 0;
  const long long expected = std::strtoll(text.c_str(), &end, 0);
  if (end == text.c_str()) {
    FUZZ_CHECK(!value.has_value());
    return 0;
  }
  FUZZ_CHECK(value.has_value());
  constexpr long long low = std::numeric_limits<std::int32_t>::min();
  constexpr long long high = std::numeric_limits<std::int32_t>::max();
  FUZZ_CHECK(*value == (expected < low ? low : expected > high ? high : expected));
  return 0;
}
