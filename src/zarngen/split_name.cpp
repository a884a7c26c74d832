#include <cstring>

#include "zarngen/support.h"

extern "C" char* split_name(char* name, char* ext) {
  if (ext != nullptr) ext[0] = '\0';
  if (name == nullptr) return name;
  // The first character is never a split point: ".hidden" is a name, not an extension.
  const std::size_t length = std::strlen(name);
  for (std::size_t dot = length; dot-- > 1;) {
    if (name[dot] == '.') {
      if (ext != nullptr) std::memcpy(ext, name + dot + 1, length - dot);  // with the NUL
      name[dot] = '\0';
      break;
    }
  }
  return name;
}
