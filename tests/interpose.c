/* Loaded into the command with LD_PRELOAD by the process tests, to make the system behave
 * as it does on some machines, or at a moment no test could otherwise hit:
 *
 *   GORVIC_TEST_TMPFILE_ERROR=E     an open with O_TMPFILE fails with errno E: 95
 *                                   (EOPNOTSUPP) as on NFS, 21 (EISDIR) as on kernels
 *                                   before 3.11, which read it as O_DIRECTORY
 *   GORVIC_TEST_CREATE_ERROR=E      so does every open that makes a new file, with E
 *   GORVIC_TEST_FIRST_RANDOM=0      the first random bytes are all zero, which makes the
 *                                   first hidden name one a test can hold beforehand
 *   GORVIC_TEST_BLOCKED=N           signal N was blocked by whoever started the command
 *   GORVIC_TEST_AT_WRITEBACK=C      shell command C runs while the command waits for the
 *                                   disk before publishing; its $PPID is the command
 */
#define _GNU_SOURCE
/* Both openat and openat64 are defined here, under their own names. */
#undef _FILE_OFFSET_BITS
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/random.h>
#include <sys/types.h>

/* The next definition of `name`, the one this library stands in front of. */
static void* next_definition(const char* name) {
  return dlsym(RTLD_NEXT, name);
}

/* The errno that an open with `flags` is to fail with, or 0. */
static int planted_error(int flags) {
  const int unnamed = (flags & O_TMPFILE) == O_TMPFILE;
  const char* error = unnamed ? getenv("GORVIC_TEST_TMPFILE_ERROR") : NULL;
  if (error == NULL && (unnamed || (flags & (O_CREAT | O_EXCL)) == (O_CREAT | O_EXCL)))
    error = getenv("GORVIC_TEST_CREATE_ERROR");
  return error != NULL ? atoi(error) : 0;
}

typedef int (*openat_function)(int, const char*, int, ...);

static int forward_openat(const char* name, int directory, const char* path, int flags,
                          mode_t mode) {
  const int error = planted_error(flags);
  if (error != 0) {
    errno = error;
    return -1;
  }
  openat_function next;
  *(void**)&next = next_definition(name); /* the POSIX way: no cast from object pointer */
  return next(directory, path, flags, mode);
}

/* The mode is passed only with the flags that create a file. */
#define MODE_ARGUMENT(flags, mode)                             \
  do {                                                         \
    va_list arguments;                                         \
    va_start(arguments, flags);                                \
    if ((flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE) \
      mode = (mode_t)va_arg(arguments, int);                   \
    va_end(arguments);                                         \
  } while (0)

/* Both names: which one a call reaches depends on the caller's large-file setting. */
int openat(int directory, const char* path, int flags, ...) {
  mode_t mode = 0;
  MODE_ARGUMENT(flags, mode);
  return forward_openat("openat", directory, path, flags, mode);
}

int openat64(int directory, const char* path, int flags, ...) {
  mode_t mode = 0;
  MODE_ARGUMENT(flags, mode);
  return forward_openat("openat64", directory, path, flags, mode);
}

ssize_t getrandom(void* bytes, size_t size, unsigned flags) {
  static int calls = 0;
  if (calls++ == 0 && getenv("GORVIC_TEST_FIRST_RANDOM") != NULL) {
    memset(bytes, 0, size);
    return (ssize_t)size;
  }
  ssize_t (*next)(void*, size_t, unsigned);
  *(void**)&next = next_definition("getrandom");
  return next(bytes, size, flags);
}

int sync_file_range(int descriptor, off64_t offset, off64_t size, unsigned flags) {
  const char* command = getenv("GORVIC_TEST_AT_WRITEBACK");
  unsetenv("LD_PRELOAD"); /* the shell may be another processor's program (qemu-user) */
  if (command != NULL && system(command) != 0) abort();
  int (*next)(int, off64_t, off64_t, unsigned);
  *(void**)&next = next_definition("sync_file_range");
  return next(descriptor, offset, size, flags);
}

__attribute__((constructor)) static void block_as_the_caller_did(void) {
  const char* signal_number = getenv("GORVIC_TEST_BLOCKED");
  if (signal_number == NULL) return;
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, atoi(signal_number));
  sigprocmask(SIG_BLOCK, &set, NULL);
}
