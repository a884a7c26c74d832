// clean_eol only ever shortens the line: to nothing for a comment line, else to what
// comes before the first "//", less trailing white space.
#include <cstdint>
#include <cstring>
#include <string>

#include "check.hpp"
#include "zarngen/support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string line = c_string(data, size);
  std::string buffer = line;
  const int result = clean_eol(buffer.data());
  const std::string after = c_string(buffer);

  FUZZ_CHECK(result == (after.empty() ? 0 : 1));
  if (!line.empty() && line[0] == '#') {
    FUZZ_CHECK(after.empty());
    return 0;
  }
  const std::string kept = line.substr(0, line.find("//"));
  FUZZ_CHECK(kept.compare(0, after.size(), after) == 0);
  for (std::size_t i = after.size(); i < kept.size(); ++i) {
    FUZZ_CHECK(std::strchr(" \t\n\v\f\r", kept[i]) != nullptr && kept[i] != '\0');
  }
  if (!after.empty()) FUZZ_CHECK(std::strchr(" \t\n\v\f\r", after.back()) == nullptr);
  return 0;
}
