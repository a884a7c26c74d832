#include <cstring>

#include "zarngen/support.h"

extern "C" char* split_name(char* name, char* ext) {
  if (ext != nullptr) ext[0] = '\0';
  if (name == nullptr) return name;
  // The first character is never a split point: ".hidden" is a name, not an extension.
  for (std::size_t dot = std::strlen(name); dot-- > 1;) {
    if (name[dot] == '.') {
      if (ext != nullptr) std::memcpy(ext, name + dot + 1, std::strlen(name + dot + 1) + 1);
      name[dot] = '\0';
      break;
    }
  }
  return name;
}
