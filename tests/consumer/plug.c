/* A plugin that formats with the library linked into it. */
#include <zarngen/support.h>

const char* plug_format(double x);
const char* plug_format(double x) {
  return eng(x, 3);
}
