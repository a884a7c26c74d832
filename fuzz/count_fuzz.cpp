// parse_count against the C library's base-0 conversion, clamped to 32 bits.
#include <cctype>
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

  // "0x" with no hex digit after it is the number 0 followed by an x. The C libraries
  // disagree there (the Windows runtime converts nothing), so that case is settled here.
  const std::size_t lead = text.find_first_not_of(" \t\n\v\f\r");
  const std::size_t digits =
      lead != std::string::npos && (text[lead] == '+' || text[lead] == '-') ? lead + 1 : lead;
  if (digits != std::string::npos && text.size() >= digits + 2 && text[digits] == '0' &&
      (text[digits + 1] == 'x' || text[digits + 1] == 'X') &&
      std::isxdigit(static_cast<unsigned char>(text.c_str()[digits + 2])) == 0) {
    FUZZ_CHECK(value == 0);
    return 0;
  }

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
