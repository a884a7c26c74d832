// The output file on Linux: the mode, and a new file's life, relative to the target's held
// directory. A new file has no name while it is written (O_TMPFILE); without unnamed files
// (NFS, FUSE, kernels before 3.11) a hidden one, which a signal handler removes.
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/random.h>
#include <sys/syscall.h>

#include <cerrno>
#include <climits>
#include <memory>

#include "gorvic/linux/units.hpp"
#include "gorvic/output_file.hpp"

namespace gorvic::detail {

struct Place {
  Mode mode = Mode::kRefused;
  Destination target;      // the target's directory and name, and what stood there
  Descriptor out;          // what the netlist is written to
  bool replacing = false;  // a new file is to take the place of `target.status`
  std::string through;     // kUnnamed: linked through this /proc/self/fd link, else itself
  std::string hidden;      // the new file's name, while it has one of its own
  std::string signature;   // the target's, when it was looked at

  ~Place() { discard(); }
  void discard() {  // closes the output, and removes a new file that has a name
    out.close();
    if (!hidden.empty()) ::unlinkat(target.directory.get(), hidden.c_str(), 0);
    hidden.clear();
    unguard();
    release_signals();
  }
};

namespace {

// The standard descriptors that were closed when the run began (bit n for descriptor n),
// now held by /dev/null: a name for one of them names nothing to write to.
unsigned closed_at_start = 0;

// One that cannot be written (closed by the caller, open for reading or a directory) is
// refused; a copy is written, so that closing it leaves the caller's as it was.
Mode open_descriptor(Place& place, int caller) {
  const int flags = ::fcntl(caller, F_GETFL);
  if ((caller <= 2 && (closed_at_start & (1u << caller)) != 0) || flags < 0 ||
      (flags & O_ACCMODE) == O_RDONLY || (flags & O_PATH) != 0) {
    return Mode::kRefused;
  }
  place.out = Descriptor(::fcntl(caller, F_DUPFD_CLOEXEC, 0));
  return place.out ? Mode::kDescriptor : Mode::kRefused;
}

// Opens what the name holds, if still what was looked at: the same file, cut to nothing (or
// one made now, O_EXCL); for kDirect, no regular file, the kernel following a /proc link.
Mode open_named(Place& place, Mode mode, int flags) {
  const Destination& target = place.target;
  place.out = Descriptor(::openat(target.directory.get(), target.name.c_str(),
                                  O_WRONLY | O_NOCTTY | O_CLOEXEC | flags, 0666));
  struct stat now {};
  if (!place.out || ::fstat(place.out.get(), &now) != 0) return Mode::kRefused;
  if (mode == Mode::kDirect) {
    return !S_ISREG(now.st_mode) || S_ISLNK(target.status.st_mode) ? mode : Mode::kRefused;
  }
  return ((flags & O_EXCL) != 0 || same_file(now, target.status)) &&
                 ::ftruncate(place.out.get(), 0) == 0
             ? mode
             : Mode::kRefused;
}

// A directory that takes no new file means writing in place; any other failure, none.
Mode refusal(int error) {
  return error == EACCES || error == EPERM || error == EROFS ? Mode::kInPlace : Mode::kRefused;
}

// Tries `use` on hidden names beside the target until one is free (not EEXIST).
template <typename Use>
bool with_hidden_name(Place& place, Use use) {
  const int directory = place.target.directory.get();
  // Within NAME_MAX, which the signal handler's copy of the name has room for.
  const long longest = ::fpathconf(directory, _PC_NAME_MAX);
  for (int tries = 0; tries < 100; ++tries) {
    std::string name =
        new_hidden_name(place.target.name, longest > 0 && longest < NAME_MAX ? longest : NAME_MAX);
    if (use(directory, name.c_str())) {
      place.hidden = std::move(name);
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

Mode create_named(Place& place, mode_t mode) {
  // A hidden name could be neither renamed nor removed there.
  if (append_only_or_immutable(place.target.directory.get())) return Mode::kInPlace;
  // Held, so that no signal comes between the file and its handler's knowing of it.
  hold_signals();
  const bool created = with_hidden_name(place, [&place, mode](int directory, const char* name) {
    place.out = Descriptor(
        ::openat(directory, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
    if (place.out) guard(directory, name);
    return static_cast<bool>(place.out);
  });
  const int error = errno;
  release_signals();
  return created ? Mode::kNamed : refusal(error);
}

bool has_capability(unsigned capability) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
  return ::syscall(SYS_capget, &header, data) == 0 &&
         (data[capability / 32].effective & (1u << (capability % 32))) != 0;
}

// A new file: unnamed where it can be named at the end, through /proc or, for a process that
// may search any directory (root, even alone in an empty root), through AT_EMPTY_PATH.
Mode create(Place& place, mode_t mode) {
  Descriptor unnamed(
      ::openat(place.target.directory.get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
  if (!unnamed) {  // no unnamed files here: EOPNOTSUPP, or EISDIR before 3.11
    return errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL ? create_named(place, mode)
                                                                     : refusal(errno);
  }
  struct stat linked {};
  struct stat opened {};
  place.through = "/proc/self/fd/" + std::to_string(unnamed.get());
  if (::stat(place.through.c_str(), &linked) != 0 || ::fstat(unnamed.get(), &opened) != 0 ||
      !same_file(linked, opened)) {
    place.through.clear();
    if (!has_capability(CAP_DAC_READ_SEARCH)) return create_named(place, mode);
  }
  place.out = std::move(unnamed);
  return Mode::kUnnamed;
}

// An existing regular file: refused where a shell's `>` would be; replaced by a new file
// made identical to it where that can take its name; written in place otherwise.
Mode replace_or_write_in_place(Place& place) {
  const int directory = place.target.directory.get();
  const char* name = place.target.name.c_str();
  // fs.protected_regular holds for a shell's `>`, with its O_CREAT, not for the opens here.
  if (::faccessat(directory, name, W_OK, AT_EACCESS) != 0 ||
      protected_in_sticky(directory, place.target.status)) {
    return Mode::kRefused;
  }
  // Opened to be read, which copies nothing up from an overlay's lower layer, and without
  // waiting for a FIFO put in its place, but for a lease on it (EAGAIN), as any open.
  constexpr int kLook = O_RDONLY | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC;
  Descriptor existing(::openat(directory, name, kLook | O_NONBLOCK));
  if (!existing && errno == EAGAIN) existing = Descriptor(::openat(directory, name, kLook));
  if (!existing && errno == EACCES) return open_named(place, Mode::kInPlace, O_NOFOLLOW);
  struct stat& was = place.target.status;
  const struct stat found = was;
  if (!existing || ::fstat(existing.get(), &was) != 0 || !same_file(was, found) ||
      append_only_or_immutable(existing.get())) {
    return Mode::kRefused;  // changed meanwhile, or refused to a shell too
  }
  place.signature = signature(existing.get());
  place.replacing = may_rename_over(directory, existing.get());
  const Mode created = place.replacing ? create(place, 0600) : Mode::kInPlace;  // private
  if (created == Mode::kRefused ||
      (created != Mode::kInPlace && make_identical(was, place.signature, place.out.get()))) {
    return created;
  }
  place.discard();
  place.replacing = false;
  return open_named(place, Mode::kInPlace, O_NOFOLLOW);
}

Mode open_output(Place& place) {
  switch (place.target.kind) {
    case Destination::kRefused:
      return Mode::kRefused;
    case Destination::kDescriptor:
      return open_descriptor(place, place.target.descriptor);
    case Destination::kOther:
      return protected_in_sticky(place.target.directory.get(), place.target.status)
                 ? Mode::kRefused
                 : open_named(place, Mode::kDirect, O_TRUNC);
    case Destination::kFile:
      return replace_or_write_in_place(place);
    case Destination::kNothing:
      break;
  }
  // As an open makes it (0666 less the umask); where no new file can be, the shell's way.
  const Mode created = create(place, 0666);
  if (created != Mode::kInPlace) return created;
  return open_named(place, Mode::kInPlace, O_NOFOLLOW | O_CREAT | O_EXCL);
}

bool link_unnamed(const Place& place, int directory, const char* name) {
  const bool itself = place.through.empty();
  return ::linkat(itself ? place.out.get() : AT_FDCWD, place.through.c_str(), directory, name,
                  itself ? AT_EMPTY_PATH : AT_SYMLINK_FOLLOW) == 0;
}

// Renames the new file over the target, if the target's name still holds what was found
// there at the start: nothing, or the same file with the same signature.
bool rename_over_target(Place& place) {
  const Destination& target = place.target;
  const Descriptor now(::openat(target.directory.get(), target.name.c_str(),
                                O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  struct stat status {};
  const bool unchanged = place.replacing ? now && ::fstat(now.get(), &status) == 0 &&
                                               same_file(status, target.status) &&
                                               signature(now.get()) == place.signature
                                         : !now && errno == ENOENT;
  if (!unchanged || ::renameat(target.directory.get(), place.hidden.c_str(), target.directory.get(),
                               target.name.c_str()) != 0) {
    return false;
  }
  place.hidden.clear();
  return true;
}

// Gives the complete new file the target's name.
bool publish(Place& place) {
  const int directory = place.target.directory.get();
  if (place.replacing) {
    // Writing took the set-ID bits away again.
    if (::fchmod(place.out.get(), place.target.status.st_mode & 07777) != 0) return false;
    // Renaming over a file, ext4, xfs and btrfs first start writing the new one out: begun
    // now, that happens before a hidden name exists for a kill to leave behind.
    ::sync_file_range(place.out.get(), 0, 0, SYNC_FILE_RANGE_WRITE);
  }
  if (place.mode == Mode::kNamed) {
    // Closed first: on NFS that sends the file to the server. The handler removes it.
    return place.out.close() && rename_over_target(place);
  }
  if (!place.replacing) {
    // Where there was nothing, the file takes the name itself: nothing needs renaming.
    if (!link_unnamed(place, directory, place.target.name.c_str())) return false;
    if (place.out.close()) return true;
    ::unlinkat(directory, place.target.name.c_str(), 0);
    return false;
  }
  // A hidden name, then the rename: held, so that no signal leaves the one without the other.
  hold_signals();
  return with_hidden_name(place,
                          [&place](int folder, const char* name) {
                            return link_unnamed(place, folder, name);
                          }) &&
         place.out.close() && rename_over_target(place);
}

}  // namespace

Place* open_place(const char* path, Mode& mode) {
  auto place = std::make_unique<Place>();
  place->target = find_destination(path);
  mode = place->mode = open_output(*place);
  return place.release();
}

void destroy(Place* place) {
  delete place;
}

bool write_all(Place& place, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = ::write(place.out.get(), text.data(), text.size());
    if (written <= 0 && !(written < 0 && errno == EINTR)) return false;
    text.remove_prefix(static_cast<std::size_t>(written > 0 ? written : 0));
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
  // A signal held meanwhile takes effect here, after the rename or with the new file gone.
  place.discard();
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
    // Each takes the lowest free number; without /dev, a directory that fails every write.
    if (::open("/dev/null", O_RDWR) == -1) ::open("/", O_RDONLY | O_DIRECTORY);
  }
}

}  // namespace gorvic
