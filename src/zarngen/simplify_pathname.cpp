#include <cstring>

#include "zarngen/support.h"

namespace {

constexpr std::size_t kMaxResult = 512;
thread_local char tok[kMaxResult + 1];

bool is_dot(const char* begin, const char* end) {
  return end - begin == 1 && begin[0] == '.';
}

bool is_dot_dot(const char* begin, const char* end) {
  return end - begin == 2 && begin[0] == '.' && begin[1] == '.';
}

// Rules 3 and 4 for one "..": returns where the output continues.
char* go_up(const char* body, char*& floor, char* write, bool absolute) {
  if (write > floor) {
    // Back to the '/' that opened the last component, or to the floor.
    --write;
    while (write > floor && *write != '/') --write;
    return write;
  }
  if (absolute) return write;
  // Kept: raise the floor behind it so that a later ".." cannot cancel it.
  if (write > body) *write++ = '/';
  *write++ = '.';
  *write++ = '.';
  floor = write;
  return write;
}

}  // namespace

// Rewrites `path` in place, component by component:
//  1. runs of '/' count as one separator, and a trailing '/' goes;
//  2. a "." component goes;
//  3. a ".." component removes the component written before it;
//  4. a ".." with nothing before it to remove goes at the root of an absolute path
//     ("/../a" is "/a") and stays in a relative one ("../a" names another file than "a");
//  5. an empty relative result is ".".
//
// Invariants of the loop: write <= read, since every component read was preceded by at
// least one separator when anything was written before it; floor <= write, and nothing
// below floor is removed again (it is the body or ends in a kept "..").
extern "C" char* simplify_pathname(char* path) {
  if (path == nullptr) return nullptr;

  char* const body = path[0] == '/' ? path + 1 : path;
  const bool absolute = body != path;
  char* write = body;
  char* floor = body;
  const char* read = body;

  while (true) {
    while (*read == '/') ++read;
    if (*read == '\0') break;
    const char* const begin = read;
    while (*read != '\0' && *read != '/') ++read;

    if (is_dot(begin, read)) continue;
    if (is_dot_dot(begin, read)) {
      write = go_up(body, floor, write, absolute);
      continue;
    }
    if (write > body) *write++ = '/';
    const auto length = static_cast<std::size_t>(read - begin);
    std::memmove(write, begin, length);  // may overlap: write <= begin
    write += length;
  }

  if (write == path) *write++ = '.';
  *write = '\0';

  const auto length = static_cast<std::size_t>(write - path);
  if (length > kMaxResult) return path;
  std::memcpy(tok, path, length + 1);
  return tok;
}
