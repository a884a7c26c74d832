/* Compiled, not run: the public header must be valid C99 with the declarations C callers
 * expect. */
#include <zarngen/support.h>

typedef int (*line_fn)(char*);
static const line_fn line_routines[] = {clean_eol, strip_non_alnum};
static char* (*const split)(char*, char*) = split_name;
static char* (*const format)(double, int) = eng;
static char* (*const simplify)(char*) = simplify_pathname;

int zarngen_header_c_test(void);
int zarngen_header_c_test(void) {
  return line_routines[0] != 0 && split != 0 && format != 0 && simplify != 0;
}
