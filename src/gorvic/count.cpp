#include "gorvic/count.hpp"

#include <algorithm>
#include <limits>

namespace gorvic {
namespace {

constexpr bool is_space(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// Value of `c` as a digit, or 99 when it is no digit in any base we read.
constexpr int digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 99;
}

}  // namespace

std::optional<std::int32_t> parse_count(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && is_space(text[i])) ++i;

  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';

  int base = 10;
  if (i < text.size() && text[i] == '0') {
    base = 8;
    // "0x" counts as a prefix only when a hex digit follows; otherwise the 0 alone is
    // the number and the x ends it.
    if (i + 2 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
        digit_value(text[i + 2]) < 16) {
      base = 16;
      i += 2;
    }
  }

  // The magnitude saturates just past the largest value either end of the range needs,
  // so it cannot overflow however many digits follow.
  constexpr std::int64_t limit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
  std::int64_t magnitude = 0;
  bool any_digit = false;
  for (; i < text.size(); ++i) {
    const int d = digit_value(text[i]);
    if (d >= base) break;
    any_digit = true;
    magnitude = std::min(magnitude * base + d, limit);
  }
  if (!any_digit) return std::nullopt;

  if (negative) return static_cast<std::int32_t>(-magnitude);
  return static_cast<std::int32_t>(std::min(magnitude, limit - 1));
}

}  // namespace gorvic
