/*
 * zarngen: support routines for netlist generators.
 *
 * Plain C interface, usable from C89 on and C++98 on. Every routine works on the caller's
 * NUL-terminated byte string, allocates nothing, and classes characters as the "C"
 * locale does whatever the process locale is (bytes above 127 are neither white space
 * nor alphanumeric).
 *
 * eng() and simplify_pathname() return a buffer of their own, one per thread: the next
 * call from the same thread overwrites it.
 */
#ifndef ZARNGEN_SUPPORT_H
#define ZARNGEN_SUPPORT_H

/* The library's version, and the only place it is written: the build takes it from here. */
#define ZARNGEN_VERSION_MAJOR 2
#define ZARNGEN_VERSION_MINOR 1
#define ZARNGEN_VERSION_PATCH 0

/*
 * ZARNGEN_API marks the five routines, the only symbols the library exports. Callers of
 * the Windows DLL need no dllimport (its import library forwards the calls), so one
 * header serves the DLL and the static archive alike.
 */
#if defined(_WIN32) || defined(__CYGWIN__)
#ifdef ZARNGEN_BUILDING_DLL
#define ZARNGEN_API __declspec(dllexport)
#else
#define ZARNGEN_API
#endif
#elif defined(__GNUC__) && __GNUC__ >= 4
#define ZARNGEN_API __attribute__((visibility("default")))
#else
#define ZARNGEN_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Prepares a line of text input: a line whose first character is '#' becomes empty; "//"
 * ends the line; trailing white space is removed. Returns 1 if anything is left, else 0.
 */
ZARNGEN_API int clean_eol(char* line);

/*
 * Blanks punctuation so that a line splits into words: every byte that is not a letter,
 * a digit, '\n', '.' or '/' becomes ' '. A line whose first character is '#' becomes
 * empty and the result is 0; otherwise 1.
 */
ZARNGEN_API int strip_non_alnum(char* line);

/*
 * Splits a file name at its last '.' (the first character is never a split point, so
 * ".hidden" stays whole): ends `name` at the dot and copies what follows into `ext`,
 * which must have room for it. `ext` is empty when there is no dot. Returns `name`.
 */
ZARNGEN_API char* split_name(char* name, char* ext);

/*
 * Formats `x` in engineering notation: a sign column, a mantissa in [1, 1000) and an SI
 * prefix from 'y' (1e-24) to 'Y' (1e24), ' ' for none. With precision <= 3 the mantissa
 * has three significant digits in a 6-character field (8 characters in all); with
 * precision p >= 4 it has p significant digits (p + 4 characters in all); a precision
 * above 26 counts as 26. The result has at most 30 characters.
 */
ZARNGEN_API char* eng(double x, int precision);

/*
 * Simplifies a '/'-separated path without consulting the file system: repeated slashes
 * become one, "." components go, ".." cancels the component before it, a trailing slash
 * goes. The result is left in `path` and a copy is returned; a result longer than 512
 * characters is returned as `path` itself. Returns NULL for a NULL `path`. An empty path
 * becomes "." and then needs two bytes of room.
 */
ZARNGEN_API char* simplify_pathname(char* path);

#ifdef __cplusplus
}
#endif

#endif /* ZARNGEN_SUPPORT_H */
