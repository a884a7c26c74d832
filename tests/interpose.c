/* Loaded into the command with LD_PRELOAD by the process tests, to make the system behave
 * as it does on some machines, or at a moment no test could otherwise hit:
 *
 *   GORVIC_TEST_NO_TMPFILE=1      the file system has no unnamed files: an open with
 *                                 O_TMPFILE fails with EOPNOTSUPP, as on NFS
 *   GORVIC_TEST_KERNEL=3.10       an old kernel (RHEL 7): no statx, and O_TMPFILE is read
 *                                 as O_DIRECTORY (EISDIR)
 *   GORVIC_TEST_KERNEL=4.18       statx does not tell mount roots (RHEL 8)
 *   GORVIC_TEST_BLOCKED=N         signal N was blocked by whoever started the command
 *   GORVIC_TEST_SIGNAL_PENDING=N  signal N arrives at the moment the command asks whether
 *                                 one is pending: just before it would publish its file
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
#include <sys/stat.h>

static int kernel(const char* version) {
  const char* value = getenv("GORVIC_TEST_KERNEL");
  return value != NULL && strcmp(value, version) == 0;
}

/* The next definition of `name`, the one this library stands in front of. */
static void* next_definition(const char* name) {
  return dlsym(RTLD_NEXT, name);
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
  if ((flags & O_TMPFILE) == O_TMPFILE) {
    if (getenv("GORVIC_TEST_NO_TMPFILE") != NULL) {
      errno = EOPNOTSUPP;
      return -1;
    }
    if (kernel("3.10")) {
      errno = EISDIR;
      return -1;
    }
  }
  openat_function next;
  *(void**)&next = next_definition(name); /* the POSIX way: no cast from object pointer */
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

int statx(int directory, const char* path, int flags, unsigned mask, struct statx* status) {
  if (kernel("3.10")) {
    errno = ENOSYS;
    return -1;
  }
  int (*next)(int, const char*, int, unsigned, struct statx*);
  *(void**)&next = next_definition("statx");
  const int result = next(directory, path, flags, mask, status);
  if (result == 0 && kernel("4.18")) {
    status->stx_attributes_mask &= ~(__u64)STATX_ATTR_MOUNT_ROOT;
    status->stx_attributes &= ~(__u64)STATX_ATTR_MOUNT_ROOT;
  }
  return result;
}

int sigpending(sigset_t* set) {
  const char* signal_number = getenv("GORVIC_TEST_SIGNAL_PENDING");
  if (signal_number != NULL) raise(atoi(signal_number));
  int (*next)(sigset_t*);
  *(void**)&next = next_definition("sigpending");
  return next(set);
}

__attribute__((constructor)) static void block_as_the_caller_did(void) {
  const char* signal_number = getenv("GORVIC_TEST_BLOCKED");
  if (signal_number == NULL) return;
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, atoi(signal_number));
  sigprocmask(SIG_BLOCK, &set, NULL);
}
