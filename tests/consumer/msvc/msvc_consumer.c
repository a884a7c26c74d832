/*
 * A caller built with the platform's own toolchain's conventions (clang for the MSVC
 * target, lld-link against zarngen.lib), as a Visual Studio project would be. There is no
 * Windows SDK or C runtime here, so it stands alone: its own entry point, ExitProcess
 * declared by hand, and _fltused, which that linker wants of any program that uses
 * floating point. The exit status has a bit for each routine that answered wrongly.
 */
#include <zarngen/support.h>

__declspec(dllimport) void __stdcall ExitProcess(unsigned int code);
int _fltused = 0;

static int differ(const char* a, const char* b) {
  while (*a != '\0' && *a == *b) ++a, ++b;
  return *a != *b;
}

void __stdcall mainCRTStartup(void) {
  char path[] = "lib/../models/carbon.res";
  unsigned int wrong = 0;
  if (differ(eng(4.7e-9, 3), " 4.70  n")) wrong |= 1;
  if (differ(simplify_pathname(path), "models/carbon.res")) wrong |= 2;
  ExitProcess(wrong);
}
