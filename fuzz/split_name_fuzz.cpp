// split_name cuts at the last dot after the first character, and name + "." + ext gives
// the input back.
#include <cstdint>
#include <string>

#include "check.hpp"
#include "zarngen/support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string name = c_string(data, size);
  std::string buffer = name;
  std::string ext(name.size() + 1, '?');
  FUZZ_CHECK(split_name(buffer.data(), ext.data()) == buffer.data());
  const std::string base = c_string(buffer);
  const std::string extension = c_string(ext);

  const std::size_t dot = name.size() < 2 ? std::string::npos : name.rfind('.');
  if (dot == std::string::npos || dot == 0) {
    FUZZ_CHECK(base == name && extension.empty());
  } else {
    FUZZ_CHECK(base + "." + extension == name);
    FUZZ_CHECK(extension.find('.') == std::string::npos);
  }
  return 0;
}
