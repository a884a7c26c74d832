// simplify_pathname gives a fixed point, never longer than its input, with no empty, "."
// or cancellable ".." component left, and stays inside the caller's buffer.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "check.hpp"
#include "zarngen/support.h"

namespace {

std::string simplify(const std::string& path) {
  // Exactly the room the routine may use, so that AddressSanitizer sees any overrun.
  std::vector<char> buffer(path.begin(), path.end());
  buffer.resize(path.size() + (path.empty() ? 2 : 1), '\0');
  const char* result = simplify_pathname(buffer.data());
  FUZZ_CHECK(result != nullptr);
  FUZZ_CHECK(std::strcmp(result, buffer.data()) == 0);
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = c_string(data, size);
  const std::string once = simplify(path);

  FUZZ_CHECK(simplify(once) == once);
  FUZZ_CHECK(path.empty() || once.size() <= path.size());
  FUZZ_CHECK(!once.empty());
  FUZZ_CHECK((once[0] == '/') == (!path.empty() && path[0] == '/'));
  if (once == "/" || once == ".") return 0;

  // Every component is a name, or a ".." of a relative path that only ".." precede.
  const bool absolute = once[0] == '/';
  bool names_started = false;
  std::size_t start = absolute ? 1 : 0;
  while (true) {
    const std::size_t end = std::min(once.find('/', start), once.size());
    const std::string component = once.substr(start, end - start);
    FUZZ_CHECK(!component.empty() && component != ".");
    if (component == "..") {
      FUZZ_CHECK(!absolute && !names_started);
    } else {
      names_started = true;
    }
    if (end == once.size()) break;
    start = end + 1;
  }
  return 0;
}
