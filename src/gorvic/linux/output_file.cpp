// The output file on Linux: the mode decided once, before the first byte, and the life of
// a new file. Everything after finding the target is done relative to its directory, held
// open, so that a directory renamed or swapped meanwhile never moves the netlist, or an
// owner and mode taken from one file, into another directory.
//
// A new file is created with O_TMPFILE: it has no name while it is written, so that a kill
// by any signal leaves nothing, and is linked when complete. Where the file system has no
// unnamed files (NFS, FUSE, kernels before 3.11) it is created under a hidden name, which
// a handler removes when a signal ends the process.
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <memory>
#include <string>

#include "gorvic/linux/descriptor.hpp"
#include "gorvic/linux/identical.hpp"
#include "gorvic/linux/path.hpp"
#include "gorvic/linux/signals.hpp"
#include "gorvic/output_file_platform.hpp"

static_assert(sizeof(off_t) >= 8, "a netlist grows past 2 GiB: build with large-file support");

namespace gorvic::detail {

struct Place {
  ~Place() { discard(); }

  // Closes the output, and removes a new file that has a name of its own.
  void discard() {
    out.close();
    if (!hidden.empty()) ::unlinkat(directory.get(), hidden.c_str(), 0);
    hidden.clear();
    interruptions.unguard();
  }

  Mode mode = Mode::kRefused;
  Descriptor out;          // what the netlist is written to
  Descriptor directory;    // the target's, for kInPlace, kUnnamed and kNamed
  std::string name;        // the target's name in it
  bool replacing = false;  // a new file takes the place of `was`
  struct stat was {};
  bool via_proc = false;  // kUnnamed: named through /proc/self/fd, else AT_EMPTY_PATH
  std::string hidden;     // the new file's name, while it has one of its own
  Interruptions interruptions;
};

void PlaceDeleter::operator()(Place* place) const {
  delete place;
}

namespace {

constexpr unsigned kNameTries = 100;

// The standard descriptors that were closed when the run began (bit n for descriptor n),
// now held by /dev/null: a name for one of them names nothing to write to.
unsigned closed_at_start = 0;

bool same_file(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool has_capability(unsigned capability) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
  return ::syscall(SYS_capget, &header, data) == 0 &&
         (data[capability / 32].effective & (1u << (capability % 32))) != 0;
}

// fs.protected_regular and fs.protected_fifos, which the kernel applies only to an open
// with O_CREAT, and none here has it: another user's file or FIFO in a sticky directory
// that others may write (all at 1, the group too at 2) is refused unless the directory is
// the process's. Where the setting cannot be read, it counts as 1, as most systems set it.
bool protected_in_sticky(int directory, const struct stat& file) {
  struct stat folder {};
  if (::fstat(directory, &folder) != 0) return true;
  if ((folder.st_mode & S_ISVTX) == 0 || file.st_uid == ::geteuid() ||
      file.st_uid == folder.st_uid || !(S_ISREG(file.st_mode) || S_ISFIFO(file.st_mode))) {
    return false;
  }
  int level = 1;
  if (std::FILE* setting = std::fopen(
          S_ISREG(file.st_mode) ? "/proc/sys/fs/protected_regular" : "/proc/sys/fs/protected_fifos",
          "re")) {
    if (std::fscanf(setting, "%d", &level) != 1) level = 1;
    std::fclose(setting);
  }
  return (level >= 1 && (folder.st_mode & S_IWOTH) != 0) ||
         (level >= 2 && (folder.st_mode & S_IWGRP) != 0);
}

Mode open_descriptor(Place& place, int caller) {
  // One that cannot be written (closed by the caller, open for reading, a directory) is
  // refused before anything is written.
  if (caller <= 2 && (closed_at_start & (1u << caller)) != 0) return Mode::kRefused;
  const int flags = ::fcntl(caller, F_GETFL);
  struct stat status {};
  if (flags < 0 || (flags & O_ACCMODE) == O_RDONLY || (flags & O_PATH) != 0 ||
      ::fstat(caller, &status) != 0 || S_ISDIR(status.st_mode)) {
    return Mode::kRefused;
  }
  // A copy, so that closing it leaves the caller's descriptor as it was.
  place.out = Descriptor(::fcntl(caller, F_DUPFD_CLOEXEC, 0));
  return place.out ? Mode::kDescriptor : Mode::kRefused;
}

Mode open_other(Place& place, const Destination& found) {
  if (protected_in_sticky(found.directory.get(), found.status)) return Mode::kRefused;
  place.out = Descriptor(::openat(found.directory.get(), found.name.c_str(),
                                  O_WRONLY | O_TRUNC | O_NOCTTY | O_CLOEXEC |
                                      (found.follow ? 0 : O_NOFOLLOW)));
  struct stat status {};
  // A regular file that took the name meanwhile is not written this way.
  return place.out && ::fstat(place.out.get(), &status) == 0 &&
                 (found.follow || !S_ISREG(status.st_mode))
             ? Mode::kDirect
             : Mode::kRefused;
}

Mode open_in_place(Place& place) {
  place.out = Descriptor(::openat(place.directory.get(), place.name.c_str(),
                                  O_WRONLY | O_TRUNC | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC));
  return place.out ? Mode::kInPlace : Mode::kRefused;
}

// A directory that takes no new file means writing in place, as a shell would; anything
// else (no space, no inode, no descriptor) leaves the target untouched.
Mode refusal(int error) {
  return error == EACCES || error == EPERM || error == EROFS ? Mode::kInPlace : Mode::kRefused;
}

std::string through_proc(int descriptor) {
  return "/proc/self/fd/" + std::to_string(descriptor);
}

// The longest name the directory takes, within NAME_MAX: the signal handler keeps a hidden
// name in a buffer of that size.
std::size_t longest_name(int directory) {
  const long longest = ::fpathconf(directory, _PC_NAME_MAX);
  return longest > 0 && longest < NAME_MAX ? static_cast<std::size_t>(longest) : NAME_MAX;
}

Mode create_named(Place& place, mode_t mode) {
  const int directory = place.directory.get();
  const std::size_t name_max = longest_name(directory);
  for (unsigned tries = 0; tries < kNameTries; ++tries) {
    std::string name = new_hidden_name(place.name, name_max);
    // Held, so that no signal comes between the file and its handler's knowing of it.
    place.interruptions.hold();
    place.out = Descriptor(::openat(directory, name.c_str(),
                                    O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
    const int error = errno;
    if (place.out) {
      place.hidden = std::move(name);
      place.interruptions.guard(directory, place.hidden);
    }
    place.interruptions.release();
    if (place.out) return Mode::kNamed;
    if (error != EEXIST) return refusal(error);
  }
  return Mode::kRefused;  // every name taken
}

// A new file in the target's directory: unnamed where it can be given a name at the end,
// through /proc or, for a process that may search any directory (root, even alone in an
// empty root), through AT_EMPTY_PATH.
Mode create(Place& place, mode_t mode) {
  Descriptor unnamed(::openat(place.directory.get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
  if (!unnamed) {
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return refusal(errno);
    return create_named(place, mode);
  }
  struct stat linked {};
  struct stat opened {};
  place.via_proc = ::stat(through_proc(unnamed.get()).c_str(), &linked) == 0 &&
                   ::fstat(unnamed.get(), &opened) == 0 && same_file(linked, opened);
  if (!place.via_proc && !has_capability(CAP_DAC_READ_SEARCH)) return create_named(place, mode);
  place.out = std::move(unnamed);
  return Mode::kUnnamed;
}

// An existing regular file: refused where a shell's `>` would be; replaced by a new file
// made identical to it where it can take its name; written in place otherwise.
Mode replace_or_write_in_place(Place& place, const struct stat& found) {
  const int directory = place.directory.get();
  if (::faccessat(directory, place.name.c_str(), W_OK, AT_EACCESS) != 0 ||
      protected_in_sticky(directory, found)) {
    return Mode::kRefused;
  }
  // Opened only to be read, which copies nothing up from an overlay's lower layer.
  const Descriptor existing(::openat(directory, place.name.c_str(),
                                     O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!existing) return errno == EACCES ? open_in_place(place) : Mode::kRefused;
  if (::fstat(existing.get(), &place.was) != 0 || !same_file(place.was, found) ||
      append_only_or_immutable(existing.get())) {
    return Mode::kRefused;  // changed meanwhile, or append-only or immutable
  }
  if (!may_rename_over(directory, existing.get())) return open_in_place(place);
  place.replacing = true;
  const Mode created = create(place, 0600);
  if (created != Mode::kUnnamed && created != Mode::kNamed) {
    return created == Mode::kInPlace ? open_in_place(place) : Mode::kRefused;
  }
  if (make_identical(existing.get(), place.was, place.out.get())) return created;
  place.discard();
  place.replacing = false;
  return open_in_place(place);
}

Mode open_output(Place& place, Destination found) {
  switch (found.kind) {
    case Destination::kRefused:
      return Mode::kRefused;
    case Destination::kDescriptor:
      return open_descriptor(place, found.descriptor);
    case Destination::kOther:
      return open_other(place, found);
    case Destination::kFile:
    case Destination::kNothing:
      break;
  }
  place.directory = std::move(found.directory);
  place.name = std::move(found.name);
  if (found.kind == Destination::kFile) return replace_or_write_in_place(place, found.status);
  const Mode created = create(place, 0666);  // as an open makes it: less the umask
  return created == Mode::kInPlace ? Mode::kRefused : created;
}

bool link_unnamed(const Place& place, const std::string& name) {
  const int directory = place.directory.get();
  if (!place.via_proc) {
    return ::linkat(place.out.get(), "", directory, name.c_str(), AT_EMPTY_PATH) == 0;
  }
  return ::linkat(AT_FDCWD, through_proc(place.out.get()).c_str(), directory, name.c_str(),
                  AT_SYMLINK_FOLLOW) == 0;
}

bool link_hidden(Place& place) {
  const std::size_t name_max = longest_name(place.directory.get());
  for (unsigned tries = 0; tries < kNameTries; ++tries) {
    std::string name = new_hidden_name(place.name, name_max);
    if (link_unnamed(place, name)) {
      place.hidden = std::move(name);
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

// Whether the target's name still holds what was looked at: the same file, or nothing.
bool unchanged(const Place& place) {
  struct stat now {};
  if (::fstatat(place.directory.get(), place.name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno == ENOENT && !place.replacing;
  }
  return place.replacing && same_file(now, place.was);
}

// Gives the complete new file the target's name. The signals wait only for the last few
// system calls, none of which waits for the disk, so that the target is left as it was
// or replaced whole: a signal that came by then stops the run before the rename.
bool publish(Place& place) {
  const int out = place.out.get();
  if (place.replacing) {
    // Writing took the set-ID bits away again.
    if (::fchmod(out, place.was.st_mode & 07777) != 0) return false;
    // Renaming over a file, ext4, xfs and btrfs first start writing the new one out, while
    // it already has the hidden name that a kill would leave behind: started now, that
    // happens before the name exists.
    ::sync_file_range(out, 0, 0, SYNC_FILE_RANGE_WRITE);
  }
  // Closed before the signals wait: on NFS, closing sends the file to the server.
  if (place.mode == Mode::kNamed && !place.out.close()) return false;
  place.interruptions.hold();
  if (place.interruptions.pending()) return false;
  if (place.mode == Mode::kUnnamed && !place.replacing) {
    // Where there was nothing, the file takes the name itself: nothing needs renaming.
    if (!link_unnamed(place, place.name)) return false;
    if (place.out.close()) return true;
    ::unlinkat(place.directory.get(), place.name.c_str(), 0);
    return false;
  }
  if (place.mode == Mode::kUnnamed && (!link_hidden(place) || !place.out.close())) return false;
  if (!unchanged(place) || ::renameat(place.directory.get(), place.hidden.c_str(),
                                      place.directory.get(), place.name.c_str()) != 0) {
    return false;
  }
  place.hidden.clear();
  return true;
}

}  // namespace

Place* open_place(const char* path) {
  auto place = std::make_unique<Place>();
  place->mode = open_output(*place, find_destination(path));
  if (place->mode == Mode::kRefused) place->discard();
  return place.release();
}

Mode mode_of(const Place& place) {
  return place.mode;
}

bool write_all(Place& place, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = ::write(place.out.get(), text.data(), text.size());
    if (written <= 0) {
      if (written < 0 && errno == EINTR) continue;
      return false;
    }
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

bool commit(Place& place) {
  switch (place.mode) {
    case Mode::kRefused:
      return false;
    case Mode::kDescriptor:
    case Mode::kDirect:
    case Mode::kInPlace:
      return place.out.close();
    case Mode::kUnnamed:
    case Mode::kNamed:
      break;
  }
  const bool published = publish(place);
  if (published) {
    place.interruptions.unguard();
  } else {
    place.discard();
  }
  // A held signal takes effect now: before the rename with the new file gone, after it
  // with the target replaced whole.
  place.interruptions.release();
  place.mode = Mode::kRefused;
  return published;
}

bool random_bytes(char* bytes, std::size_t size) {
  if (::getrandom(bytes, size, GRND_NONBLOCK) == static_cast<ssize_t>(size)) return true;
  const Descriptor source(::open("/dev/urandom", O_RDONLY | O_CLOEXEC));
  return source && ::read(source.get(), bytes, size) == static_cast<ssize_t>(size);
}

}  // namespace gorvic::detail

namespace gorvic {

void reserve_standard_descriptors() noexcept {
  for (int descriptor = 0; descriptor <= 2; ++descriptor) {
    if (::fcntl(descriptor, F_GETFD) != -1) continue;
    detail::closed_at_start |= 1u << descriptor;
    // Each open takes the lowest free number: the one just found closed.
    if (::open("/dev/null", O_RDWR) == -1) {
      ::open("/", O_RDONLY | O_DIRECTORY);  // no /dev (an empty root): writes to it fail
    }
  }
}

void abandon_new_file() noexcept {
  detail::remove_guarded_file();
}

}  // namespace gorvic
