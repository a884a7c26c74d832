#include <cstring>

#include "char_class.hpp"
#include "zarngen/support.h"

extern "C" int clean_eol(char* line) {
  if (line == nullptr) return 0;
  if (line[0] == '#') {
    line[0] = '\0';
    return 0;
  }
  if (char* comment = std::strstr(line, "//")) *comment = '\0';
  std::size_t length = std::strlen(line);
  while (length > 0 && zarngen::is_space(line[length - 1])) --length;
  line[length] = '\0';
  return length > 0 ? 1 : 0;
}
