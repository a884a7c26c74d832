/* Compiled, not run, as C89 to C17 and (through header_cxx_test.cpp) as C++98 to C++20:
 * the public header must be valid in each, with the declarations callers expect. */
#include <zarngen/support.h>

#if ZARNGEN_VERSION_MAJOR < 2 || ZARNGEN_VERSION_MINOR < 0 || ZARNGEN_VERSION_PATCH < 0
#error "the version macros must be numbers"
#endif

typedef int (*line_fn)(char*);
static const line_fn line_routines[] = {clean_eol, strip_non_alnum};
static char* (*const split)(char*, char*) = split_name;
static char* (*const format)(double, int) = eng;
static char* (*const simplify)(char*) = simplify_pathname;

int zarngen_header_test(char* line, char* ext);
int zarngen_header_test(char* line, char* ext) {
  return line_routines[0](line) + line_routines[1](line) + (split(line, ext) == line) +
         (format(1.0, 3)[0] == ' ') + (simplify(line) == 0);
}
