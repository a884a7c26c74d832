// strip_non_alnum keeps every letter, digit, line feed, dot and slash where it is, and
// blanks every other byte, high bytes included.
#include <cstdint>
#include <string>

#include "check.hpp"
#include "zarngen/support.h"

namespace {

bool kept(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '\n' ||
         c == '.' || c == '/';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string line = c_string(data, size);
  std::string buffer = line;
  const int result = strip_non_alnum(buffer.data());
  const std::string after = c_string(buffer);

  if (!line.empty() && line[0] == '#') {
    FUZZ_CHECK(result == 0 && after.empty());
    return 0;
  }
  FUZZ_CHECK(result == 1 && after.size() == line.size());
  for (std::size_t i = 0; i < line.size(); ++i) {
    const auto c = static_cast<unsigned char>(line[i]);
    FUZZ_CHECK(after[i] == (kept(c) ? line[i] : ' '));
  }
  return 0;
}
