// Character classes of the "C" locale, whatever the process locale: the library's
// results must not change with the user's settings, and bytes above 127 must never
// reach <cctype> as negative values.
#pragma once

namespace zarngen {

constexpr bool is_space(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

constexpr bool is_alnum(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

}  // namespace zarngen
