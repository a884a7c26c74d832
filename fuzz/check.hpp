// What the fuzz targets share: a check that stops the run, and the C view of the input.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

// A function, not a statement of the macro's own, so that a target's checks read as
// calls and not as branches of its own logic.
inline void fuzz_check(bool holds, const char* condition, const char* file, int line) {
  if (holds) return;
  std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, condition);
  std::abort();
}
#define FUZZ_CHECK(condition) fuzz_check(condition, #condition, __FILE__, __LINE__)

// The string a C routine sees in `size` bytes: everything before the first NUL.
inline std::string c_string(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data),
          static_cast<std::size_t>(std::find(data, data + size, 0) - data)};
}
inline std::string c_string(const std::string& text) {
  return text.substr(0, text.find('\0'));
}
