// Conversion of the constant_number argument to N.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace gorvic {

// Converts `text` the way the C library's base-0 integer conversion does: leading white
// space, an optional sign, then 0x/0X for hexadecimal, a leading 0 for octal, decimal
// otherwise, stopping at the first character that does not fit. A value beyond the signed
// 32-bit range is clamped to its nearest end. Returns nothing when no digit is found.
std::optional<std::int32_t> parse_count(std::string_view text);

}  // namespace gorvic
