// What the units of the Linux output file give each other: what a path names (path.cpp),
// whether a new file can take a file's place (identical.cpp) and the signals (signals.cpp).
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <string_view>
#include <utility>

namespace gorvic::detail {

// An open file descriptor that closes with its owner.
class Descriptor {
 public:
  Descriptor() = default;
  explicit Descriptor(int descriptor) : descriptor_(descriptor) {}
  Descriptor(Descriptor&& other) noexcept : descriptor_(std::exchange(other.descriptor_, -1)) {}
  Descriptor& operator=(Descriptor&& other) noexcept {
    std::swap(descriptor_, other.descriptor_);
    return *this;
  }
  ~Descriptor() { close(); }

  int get() const { return descriptor_; }
  explicit operator bool() const { return descriptor_ >= 0; }
  // False where closing reports that written data did not reach the file.
  bool close() {
    const int descriptor = std::exchange(descriptor_, -1);
    return descriptor < 0 || ::close(descriptor) == 0;
  }

 private:
  int descriptor_ = -1;
};

inline bool same_file(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// What a path names, found once: a held directory and a name in it.
struct Destination {
  enum Kind {
    kRefused,     // nothing that may be written, or a link the kernel would not follow
    kDescriptor,  // one of the process's own open descriptors: `descriptor`
    kOther,       // not a regular file (a device, a FIFO, a link in /proc): opened as named
    kFile,        // a regular file, whose status is `status`
    kNothing,     // nothing yet
  } kind = kRefused;
  int descriptor = -1;
  Descriptor directory;  // holds `name`; a link in the last step is followed
  std::string name;
  struct stat status {};
};
Destination find_destination(const char* path);

// Whether fs.protected_symlinks, _fifos or _regular keep a shell's `>` from another user's
// link, FIFO or file in a sticky directory that others may write (1: all, 2: the group too;
// 1 where unread). The kernel applies them to no open here, as none has O_CREAT.
bool protected_in_sticky(int directory, const struct stat& file);

// Whether an open file, or a directory held by O_PATH, is append-only or immutable.
bool append_only_or_immutable(int descriptor);
// Whether a rename in `directory` can replace `existing`: not where a file is mounted over
// the name, nor in a directory whose names may not change.
bool may_rename_over(int directory, int existing);
// What makes a file what it is beside its content: owner, group, mode, chattr flags,
// project, ACL and extended attributes (SELinux, capabilities); empty where unreadable.
std::string signature(int descriptor);
// Gives `replacement`, an empty new file, the owner, group and mode of a file whose status
// is `was`; true when its whole signature is then `was_signature`.
bool make_identical(const struct stat& was, const std::string& was_signature, int replacement);

// The signals whose default action ends the process wait from hold_signals() to
// release_signals(), only across system calls that must not be cut in two.
void hold_signals();
void release_signals();
// From now on, a signal that ends the process removes `name` in `directory` first. Call
// with the signals held. A signal ignored at the start stays ignored (nohup).
void guard(int directory, std::string_view name);
void unguard() noexcept;  // nothing to remove any more

}  // namespace gorvic::detail
