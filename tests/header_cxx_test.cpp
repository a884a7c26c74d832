// The C header test, compiled as C++.
#include "header_c_test.c"
