/* Loaded into the command with LD_PRELOAD by the process tests, to make the system behave
 * as it does on some machines, or at a moment no test could otherwise hit:
 *
 *   GORVIC_TEST_NO_TMPFILE=1      the file system has no unnamed files: an open with
 *                                 O_TMPFILE fails with EOPNOTSUPP, as on NFS
 *   GORVIC_TEST_SIGNAL_PENDING=N  signal N arrives at the moment the command asks whether
 *                                 one is pending: just before it would publish its file
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdlib.h>

static int refused(int flags) {
  return (flags & O_TMPFILE) == O_TMPFILE && getenv("GORVIC_TEST_NO_TMPFILE") != NULL;
}

typedef int (*openat_function)(int, const char*, int, ...);

/* The mode is passed only with the flags that create a file. */
#define MODE_ARGUMENT(flags, mode)                             \
  do {                                                         \
    va_list arguments;                                         \
    va_start(arguments, flags);                                \
    if ((flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE) \
      mode = (mode_t)va_arg(arguments, int);                   \
    va_end(arguments);                                         \
  } while (0)

static int forward_openat(const char* name, int directory, const char* path, int flags,
                          mode_t mode) {
  if (refused(flags)) {
    errno = EOPNOTSUPP;
    return -1;
  }
  openat_function next;
  *(void**)&next = dlsym(RTLD_NEXT, name); /* the POSIX way: no cast from object pointer */
  return next(directory, path, flags, mode);
}

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

int sigpending(sigset_t* set) {
  const char* signal_number = getenv("GORVIC_TEST_SIGNAL_PENDING");
  if (signal_number != NULL) raise(atoi(signal_number));
  int (*next)(sigset_t*);
  *(void**)&next = dlsym(RTLD_NEXT, "sigpending");
  return next(set);
}
