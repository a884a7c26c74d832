#include "char_class.hpp"
#include "zarngen/support.h"

extern "C" int strip_non_alnum(char* line) {
  if (line == nullptr) return 0;
  if (line[0] == '#') {
    line[0] = '\0';
    return 0;
  }
  for (char* at = line; *at != '\0'; ++at) {
    const char c = *at;
    if (!zarngen::is_alnum(c) && c != '\n' && c != '.' && c != '/') *at = ' ';
  }
  return 1;
}
