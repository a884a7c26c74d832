// The output file on Linux. A replacement is created with O_TMPFILE in the target's
// directory: it has no name while it is written, so a kill by any signal, SIGKILL
// included, leaves nothing, and it is linked and renamed over the target only when
// complete. Where the file system has no unnamed files (NFS, old kernels) it is created
// under a hidden name, which a handler removes when a signal ends the process.
#include <fcntl.h>
#include <linux/capability.h>
#include <linux/fs.h>
#include <linux/magic.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "gorvic/output_file.hpp"
#include "gorvic/output_file_platform.hpp"

static_assert(sizeof(off_t) >= 8, "a netlist grows past 2 GiB: build with large-file support");

namespace gorvic::detail {
namespace {

// ---- Interruptions ---------------------------------------------------------------------

// The standard descriptors that were closed when the run began (bit n for descriptor n),
// now held by /dev/null: a name for one of them names nothing to write to.
unsigned closed_at_start = 0;

// What a named new file's handler removes: written only while the signals are held.
std::atomic<int> guarded_directory{-1};
char guarded_name[NAME_MAX + 1];
static_assert(std::atomic<int>::is_always_lock_free);

// The signals whose default action ends the process.
sigset_t terminating_signals() {
  sigset_t set;
  sigemptyset(&set);
  for (const int signal_number : {SIGHUP,  SIGINT,  SIGQUIT,   SIGILL,  SIGTRAP, SIGABRT, SIGBUS,
                                  SIGFPE,  SIGUSR1, SIGSEGV,   SIGUSR2, SIGPIPE, SIGALRM, SIGTERM,
                                  SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGIO,   SIGPWR,  SIGSYS}) {
    sigaddset(&set, signal_number);
  }
#ifdef SIGSTKFLT
  sigaddset(&set, SIGSTKFLT);
#endif
  for (int signal_number = SIGRTMIN; signal_number <= SIGRTMAX; ++signal_number) {
    sigaddset(&set, signal_number);
  }
  return set;
}

extern "C" void remove_guarded_file(int signal_number) {
  const int saved_errno = errno;
  if (const int directory = guarded_directory.load(); directory >= 0) {
    ::unlinkat(directory, guarded_name, 0);
  }
  // Then end by the same signal, so that the caller sees what ended the run: it is
  // blocked while this runs, and takes its default action when this returns.
  struct sigaction default_action {};
  default_action.sa_handler = SIG_DFL;
  ::sigaction(signal_number, &default_action, nullptr);
  ::raise(signal_number);
  errno = saved_errno;
}

// The signals that end the process, while a new file is made, written and published.
// hold() makes them wait until release() (or the end of this object); guard() has them
// remove a named new file before they end the process. Whatever this changed is put
// back when it goes.
class Interruptions {
 public:
  Interruptions() : signals_(terminating_signals()) {}
  ~Interruptions() {
    unguard();
    release();
  }
  Interruptions(const Interruptions&) = delete;
  Interruptions& operator=(const Interruptions&) = delete;

  void hold() {
    if (!held_) ::sigprocmask(SIG_BLOCK, &signals_, &saved_mask_);
    held_ = true;
  }
  // A held signal that came takes effect here: most end the process.
  void release() {
    if (held_) ::sigprocmask(SIG_SETMASK, &saved_mask_, nullptr);
    held_ = false;
  }
  // Whether a signal came that ends the process once let through: not one the caller
  // blocked (it stays pending, as it was), nor one ignored (it is dropped).
  bool pending() const {
    sigset_t pending;
    if (!held_ || ::sigpending(&pending) != 0) return false;
    for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
      if (sigismember(&signals_, signal_number) != 1 || sigismember(&pending, signal_number) != 1 ||
          sigismember(&saved_mask_, signal_number) == 1) {
        continue;
      }
      struct sigaction action {};
      if (::sigaction(signal_number, nullptr, &action) == 0 && action.sa_handler != SIG_IGN) {
        return true;
      }
    }
    return false;
  }

  // Call with the signals held. A signal ignored at the start stays ignored (nohup).
  void guard(int directory, const std::string& name) {
    std::snprintf(guarded_name, sizeof guarded_name, "%s", name.c_str());
    guarded_directory = directory;
    if (guarding_) return;
    struct sigaction action {};
    action.sa_handler = remove_guarded_file;
    action.sa_mask = signals_;
    for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
      if (sigismember(&signals_, signal_number) != 1 ||
          ::sigaction(signal_number, nullptr, &saved_actions_[signal_number]) != 0 ||
          saved_actions_[signal_number].sa_handler == SIG_IGN) {
        continue;
      }
      if (::sigaction(signal_number, &action, nullptr) == 0) sigaddset(&guarded_, signal_number);
    }
    guarding_ = true;
  }
  // The name no longer needs removing: it was published, or removed.
  void unguard() {
    guarded_directory = -1;
    if (!guarding_) return;
    for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
      if (sigismember(&guarded_, signal_number) == 1) {
        ::sigaction(signal_number, &saved_actions_[signal_number], nullptr);
      }
    }
    sigemptyset(&guarded_);
    guarding_ = false;
  }

 private:
  sigset_t signals_;
  sigset_t saved_mask_{};
  sigset_t guarded_{};
  struct sigaction saved_actions_[NSIG] {};
  bool held_ = false;
  bool guarding_ = false;
};

// ---- What a path names -----------------------------------------------------------------

std::vector<std::string_view> components(std::string_view path) {
  std::vector<std::string_view> parts;
  for (std::size_t start = 0; start <= path.size();) {
    std::size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

int descriptor_number(std::string_view digits) {
  if (digits.empty() || digits.size() > 9 || (digits[0] == '0' && digits.size() > 1)) return -1;
  int number = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return -1;
    number = number * 10 + (c - '0');
  }
  return number;
}

// The descriptor that a name of the /dev/fd family gives in so many words, blanks and
// "." components aside; -1 for any other name. These hold even where /dev or /proc is
// missing (the command alone in an empty root).
int spelled_descriptor(std::string_view path) {
  if (path.empty() || path[0] != '/') return -1;
  std::string clean;
  for (const std::string_view part : components(path)) {
    if (part != ".") (clean += '/') += part;
  }
  if (clean == "/dev/stdin") return 0;
  if (clean == "/dev/stdout") return 1;
  if (clean == "/dev/stderr") return 2;
  for (const std::string_view prefix : {"/dev/fd/", "/proc/self/fd/", "/proc/thread-self/fd/"}) {
    if (clean.starts_with(prefix))
      return descriptor_number(std::string_view(clean).substr(prefix.size()));
  }
  return -1;
}

bool same_file(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool same_file(const char* a, const char* b) {
  struct stat first {};
  struct stat second {};
  return ::stat(a, &first) == 0 && ::stat(b, &second) == 0 && same_file(first, second);
}

std::string joined(const std::string& directory, std::string_view name) {
  if (directory.empty()) return std::string(name);
  return directory.back() == '/' ? directory + std::string(name)
                                 : directory + '/' + std::string(name);
}

struct Resolved {
  enum { kDescriptor, kDirect, kPath, kRefused } what;
  int descriptor = -1;  // kDescriptor: the open descriptor the path names
  std::string path;     // kPath: what it names, its symbolic links followed
};

// Where the walk found `found` for `path`, the kernel must find the same, following the
// links itself with the protections it applies (a link in a sticky directory that another
// user owns is not followed): otherwise the path is refused, as opening it would be.
Resolved checked_by_the_kernel(const std::string& path, std::string found) {
  struct stat kernel {};
  struct stat walked {};
  const bool kernel_found = ::stat(path.c_str(), &kernel) == 0;
  if (!kernel_found && errno != ENOENT) return {Resolved::kRefused, -1, {}};
  const bool walk_found = ::stat(found.c_str(), &walked) == 0;
  if (kernel_found != walk_found || (kernel_found && !same_file(kernel, walked))) {
    return {Resolved::kRefused, -1, {}};
  }
  return {Resolved::kPath, -1, std::move(found)};
}

// Follows `path` as the kernel would, to find whether it leads to one of the process's
// own descriptors (/dev/./stdout, //dev/fd/1, /proc/thread-self/fd/1, a link to any of
// them): opening that would open its file anew, truncate it and lose what the caller set
// up (appending), or, for a deleted file, create a new one under its old name plus
// " (deleted)". The links of /proc are never followed by their text: one to a directory
// (/proc/self/cwd, /proc/<pid>/root) is opened, and the walk goes on from
// /proc/self/fd/<that descriptor>, which `anchors` keeps open.
Resolved resolve(const std::string& path, std::vector<int>& anchors) {
  if (const int descriptor = spelled_descriptor(path); descriptor >= 0) {
    return {Resolved::kDescriptor, descriptor, {}};
  }
  struct stat status {};
  if (::lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) {
    return {Resolved::kPath, -1, path};
  }

  std::vector<std::string> todo;  // the components still to walk, the next one last
  const auto push = [&todo](std::string_view text) {
    const auto parts = components(text);
    for (auto part = parts.rbegin(); part != parts.rend(); ++part) todo.emplace_back(*part);
  };
  push(path);
  std::string done = path[0] == '/' ? "/" : "";  // "" is the working directory
  bool needs_directory = false;                  // the last link's text ended with a slash
  std::size_t anchor_size = 0;                   // how much of done names the last anchor
  const auto anchor = [&](const std::string& directory) {
    const int descriptor = ::open(directory.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0) return false;
    anchors.push_back(descriptor);
    done = "/proc/self/fd/" + std::to_string(descriptor);
    anchor_size = done.size();
    return true;
  };
  for (int links = 0; !todo.empty();) {
    const std::string part = std::move(todo.back());
    todo.pop_back();
    if (part == ".") continue;
    if (part == "..") {  // the links before it are followed, so this is the real parent
      // As the kernel, which goes up only from a directory (not from missing/.., file/..).
      if (::stat(done.empty() ? "." : done.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
        return {Resolved::kRefused, -1, {}};
      }
      if (anchor_size != 0 && done.size() == anchor_size) {
        if (!anchor(done + "/..")) return {Resolved::kRefused, -1, {}};
      } else if (done.empty() || done == ".." || done.ends_with("/..")) {
        done = joined(done, "..");  // above the working directory
      } else if (done != "/") {
        const auto cut = done.rfind('/');
        done.erase(cut == std::string::npos ? 0 : cut == 0 ? 1 : cut);
      }
      continue;
    }
    std::string next = joined(done, part);
    if (::lstat(next.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) {
      done = std::move(next);
      continue;
    }
    const std::string holder = done.empty() ? "." : done;
    struct statfs file_system {};
    const bool on_proc =
        ::statfs(holder.c_str(), &file_system) == 0 && file_system.f_type == PROC_SUPER_MAGIC;
    if (on_proc && todo.empty() &&
        (same_file(holder.c_str(), "/proc/self/fd") ||
         same_file(holder.c_str(), "/proc/thread-self/fd"))) {
      if (const int descriptor = descriptor_number(part); descriptor >= 0) {
        return {Resolved::kDescriptor, descriptor, {}};
      }
    }
    std::string text(static_cast<std::size_t>(status.st_size > 0 ? status.st_size : PATH_MAX) + 1,
                     '\0');
    const ssize_t length = ::readlink(next.c_str(), text.data(), text.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= text.size() || ++links > 40) {
      return {Resolved::kRefused, -1, {}};  // as opening it would be (ELOOP, say)
    }
    text.resize(static_cast<std::size_t>(length));
    // Such a link in /proc (a working directory, another process's descriptor) leads to a
    // file that its text only describes. As the last component it is opened as named.
    if (on_proc && (text[0] == '/' || text.find(':') != std::string::npos)) {
      if (todo.empty()) return {Resolved::kDirect, -1, {}};
      if (!anchor(next)) return {Resolved::kRefused, -1, {}};
      continue;
    }
    if (todo.empty()) needs_directory = needs_directory || text.back() == '/';
    if (text[0] == '/') {
      done.assign(1, '/');  // not = "/": g++ 12 warns wrongly at -O3
      anchor_size = 0;
    }
    push(text);
  }
  if (const int descriptor = spelled_descriptor(done); descriptor >= 0) {
    return {Resolved::kDescriptor, descriptor, {}};
  }
  if (needs_directory) return {Resolved::kRefused, -1, {}};  // no regular file is written so
  return checked_by_the_kernel(path, done.empty() ? "." : done);
}

// ---- Making a replacement identical ----------------------------------------------------

// The names of a file's extended attributes (ACLs among them), NUL-separated.
std::optional<std::vector<char>> attribute_names(int descriptor) {
  for (;;) {
    const ssize_t size = ::flistxattr(descriptor, nullptr, 0);
    if (size <= 0) {
      if (size == 0 || errno == ENOTSUP) return std::vector<char>{};
      return std::nullopt;
    }
    std::vector<char> names(static_cast<std::size_t>(size));
    const ssize_t got = ::flistxattr(descriptor, names.data(), names.size());
    if (got >= 0) {
      names.resize(static_cast<std::size_t>(got));
      return names;
    }
    if (errno != ERANGE) return std::nullopt;  // grew meanwhile: again
  }
}

std::optional<std::vector<char>> attribute(int descriptor, const char* name) {
  for (;;) {
    const ssize_t size = ::fgetxattr(descriptor, name, nullptr, 0);
    if (size < 0) return std::nullopt;
    std::vector<char> value(static_cast<std::size_t>(size));
    const ssize_t got = ::fgetxattr(descriptor, name, value.data(), value.size());
    if (got >= 0) {
      value.resize(static_cast<std::size_t>(got));
      return value;
    }
    if (errno != ERANGE) return std::nullopt;
  }
}

bool listed(const std::vector<char>& names, std::string_view name) {
  for (std::size_t at = 0; at < names.size(); at += std::strlen(&names[at]) + 1) {
    if (name == &names[at]) return true;
  }
  return false;
}

// Gives `to` the extended attributes of `from` and no others. An attribute the new file
// already holds alike (an SELinux label, an ACL inherited from the directory) is left.
bool copy_attributes(int from, int to) {
  const auto was = attribute_names(from);
  const auto now = attribute_names(to);
  if (!was || !now) return false;
  for (std::size_t at = 0; at < now->size(); at += std::strlen(&(*now)[at]) + 1) {
    const char* name = &(*now)[at];
    if (!listed(*was, name) && ::fremovexattr(to, name) != 0) return false;
  }
  for (std::size_t at = 0; at < was->size(); at += std::strlen(&(*was)[at]) + 1) {
    const char* name = &(*was)[at];
    const auto value = attribute(from, name);
    if (!value) return false;
    if (attribute(to, name) != value &&
        ::fsetxattr(to, name, value->data(), value->size(), 0) != 0) {
      return false;
    }
  }
  return true;
}

// The flags that chattr sets and a file keeps (no dump, no atime updates, synchronous
// writes, journalled data, no copy-on-write, no compression, DAX), and the project that
// quotas count it in. A new file may also take some from its directory (btrfs's +C, xfs's
// DAX and project): those the old file lacked are cleared.
bool copy_flags(int from, int to) {
  constexpr int kKept = FS_FL_USER_MODIFIABLE | FS_JOURNAL_DATA_FL | FS_NOCOW_FL | FS_NOCOMP_FL |
                        FS_DAX_FL | FS_PROJINHERIT_FL;
  int was = 0;
  if (::ioctl(from, FS_IOC_GETFLAGS, &was) != 0) return true;  // the file system has none
  int now = 0;
  if (::ioctl(to, FS_IOC_GETFLAGS, &now) != 0) return false;
  int wanted = (now & ~kKept) | (was & kKept);
  if (wanted != now &&
      (::ioctl(to, FS_IOC_SETFLAGS, &wanted) != 0 || ::ioctl(to, FS_IOC_GETFLAGS, &now) != 0 ||
       (now & kKept) != (was & kKept))) {
    return false;
  }
  fsxattr old_project{};
  fsxattr new_project{};
  if (::ioctl(from, FS_IOC_FSGETXATTR, &old_project) != 0) return true;  // no projects
  if (::ioctl(to, FS_IOC_FSGETXATTR, &new_project) != 0) return false;
  if (new_project.fsx_projid == old_project.fsx_projid) return true;
  new_project.fsx_projid = old_project.fsx_projid;
  return ::ioctl(to, FS_IOC_FSSETXATTR, &new_project) == 0;
}

// Owner, group, flags, extended attributes (ACLs), then the mode: a change of owner
// clears the set-user-ID bits and some attributes, and the mode sets an ACL's mask.
bool make_identical(int from, const struct stat& was, int to) {
  struct stat now {};
  if (::fstat(to, &now) != 0) return false;
  if ((now.st_uid != was.st_uid || now.st_gid != was.st_gid) &&
      ::fchown(to, was.st_uid, was.st_gid) != 0) {
    return false;  // another's file, or a group the process is not in
  }
  if (!copy_flags(from, to) || !copy_attributes(from, to) ||
      ::fchmod(to, was.st_mode & 07777) != 0 || ::fstat(to, &now) != 0) {
    return false;
  }
  return now.st_uid == was.st_uid && now.st_gid == was.st_gid &&
         (now.st_mode & 07777) == (was.st_mode & 07777);
}

// The mount that holds a file, where the kernel gives file handles (from 2.6.39): it
// tells the mount even when no handle fits.
std::optional<int> mount_of(int descriptor) {
  file_handle handle{};
  int mount = -1;
  if (::name_to_handle_at(descriptor, "", &handle, &mount, AT_EMPTY_PATH) == 0 ||
      errno == EOVERFLOW) {
    return mount;
  }
  return std::nullopt;
}

// A file bind-mounted over another, which no rename replaces.
bool mounted_over(int existing, int directory) {
  struct statx status {};
  if (::statx(existing, "", AT_EMPTY_PATH, STATX_BASIC_STATS, &status) == 0 &&
      (status.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0) {
    return (status.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
  }
  // Kernels before 5.8 (RHEL 7 and 8) do not say: the mounts of the file and its
  // directory, or at least their file systems, must then be the same.
  const auto file_mount = mount_of(existing);
  const auto folder_mount = mount_of(directory);
  if (file_mount && folder_mount) return *file_mount != *folder_mount;
  struct stat file {};
  struct stat folder {};
  return ::fstat(existing, &file) != 0 || ::fstat(directory, &folder) != 0 ||
         file.st_dev != folder.st_dev;
}

// A directory that no name may leave: append-only or immutable.
bool keeps_its_names(int directory) {
  struct statx status {};
  if (::statx(directory, "", AT_EMPTY_PATH, STATX_BASIC_STATS, &status) == 0 &&
      (status.stx_attributes_mask & STATX_ATTR_APPEND) != 0) {
    return (status.stx_attributes & (STATX_ATTR_APPEND | STATX_ATTR_IMMUTABLE)) != 0;
  }
  // Kernels without statx (RHEL 7): the flags themselves, where the directory may be read.
  const int readable = ::openat(directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  int flags = 0;
  const bool known = readable >= 0 && ::ioctl(readable, FS_IOC_GETFLAGS, &flags) == 0;
  if (readable >= 0) ::close(readable);
  return known && (flags & (FS_APPEND_FL | FS_IMMUTABLE_FL)) != 0;
}

// linkat's AT_EMPTY_PATH names an unnamed file without /proc, for a process that may
// search any directory (root, the command alone in an empty root).
bool may_link_without_proc() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
  return ::syscall(SYS_capget, &header, data) == 0 &&
         (data[0].effective & (1u << CAP_DAC_READ_SEARCH)) != 0;
}

Created refusal(int error) {
  // The directory takes no new file: written in place, as a shell would.
  if (error == EACCES || error == EPERM || error == EROFS) return Created::kNotHere;
  return Created::kFailed;
}

}  // namespace

// ---- The place -------------------------------------------------------------------------

struct Place {
  explicit Place(const char* given) : path(given) {}
  ~Place() {
    discard();
    if (existing >= 0) ::close(existing);
    if (directory >= 0) ::close(directory);
    for (const int anchor : anchors) ::close(anchor);
  }
  Place(const Place&) = delete;
  Place& operator=(const Place&) = delete;

  // Closes the file written to, and removes it if it is a new one under a name of its own.
  bool discard() {
    const bool closed = descriptor < 0 || ::close(descriptor) == 0;
    descriptor = -1;
    if (!temporary.empty()) ::unlinkat(directory, temporary.c_str(), 0);
    temporary.clear();
    interruptions.unguard();
    return closed;
  }

  std::string path;          // as given
  std::string target;        // the file it names, links followed
  std::string name;          // the target's name in its directory
  int caller = -1;           // the caller's descriptor that `path` names
  bool had_target = false;   // a file stood under the target's name at the start
  int existing = -1;         // the target, opened for writing but not truncated
  struct stat status {};     // the target's
  int directory = -1;        // the target's directory
  int descriptor = -1;       // what is written to
  bool restore = false;      // its metadata are made identical again once it is written
  bool unnamed = false;      // the new file has no name yet
  bool via_proc = false;     // it is named through /proc/self/fd, else through AT_EMPTY_PATH
  std::string temporary;     // the new file's hidden name, while it has one
  std::vector<int> anchors;  // the directories that `target` is named through
  Interruptions interruptions;
};

void PlaceDeleter::operator()(Place* place) const {
  delete place;
}

Place* make_place(const char* path) {
  return new Place(path);
}

std::uint64_t process_id() {
  return static_cast<std::uint64_t>(::getpid());
}

Found examine(Place& place) {
  if (place.path.empty() || place.path.back() == '/') return Found::kRefused;
  Resolved resolved = resolve(place.path, place.anchors);
  switch (resolved.what) {
    case Resolved::kDescriptor:
      place.caller = resolved.descriptor;
      return Found::kDescriptor;
    case Resolved::kDirect:
      return Found::kOther;
    case Resolved::kRefused:
      return Found::kRefused;
    case Resolved::kPath:
      break;
  }
  place.target = std::move(resolved.path);
  struct stat status {};
  if (::stat(place.target.c_str(), &status) != 0) {
    return errno == ENOENT ? Found::kFileOrNothing : Found::kRefused;
  }
  if (!S_ISREG(status.st_mode)) return Found::kOther;
  // What the kernel checks for writing (permissions, read-only, append-only, immutable,
  // another user's file in a sticky directory), checked by an open that truncates nothing.
  place.existing = ::open(place.target.c_str(), O_WRONLY | O_CREAT | O_NOCTTY | O_CLOEXEC, 0666);
  if (place.existing < 0) return Found::kRefused;
  if (::fstat(place.existing, &place.status) != 0 || !S_ISREG(place.status.st_mode)) {
    return Found::kOther;
  }
  place.had_target = true;
  return Found::kFileOrNothing;
}

namespace {

// The longest name the directory takes, within NAME_MAX: the signal handler keeps a
// hidden name in a buffer of that size.
std::size_t longest_name(int directory) {
  const long longest = ::fpathconf(directory, _PC_NAME_MAX);
  return longest > 0 && longest < NAME_MAX ? static_cast<std::size_t>(longest) : NAME_MAX;
}

// Opens `path` for writing as a shell's `>` does: created, or cut to nothing.
int open_truncating(const std::string& path) {
  return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOCTTY | O_CLOEXEC, 0666);
}

// The new file under a hidden name, for file systems without unnamed files.
Created create_named(Place& place, mode_t mode) {
  const std::size_t name_max = longest_name(place.directory);
  for (unsigned try_number = 0; try_number < kNameTries; ++try_number) {
    std::string name = new_file_name(place.name, try_number, name_max);
    // Held, so that no signal comes between the file and its handler's knowing of it.
    place.interruptions.hold();
    const int descriptor = ::openat(place.directory, name.c_str(),
                                    O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    const int error = errno;
    if (descriptor >= 0) {
      place.descriptor = descriptor;
      place.temporary = std::move(name);
      place.interruptions.guard(place.directory, place.temporary);
    }
    place.interruptions.release();
    if (descriptor >= 0) return Created::kYes;
    if (error != EEXIST) return refusal(error);
  }
  return Created::kFailed;  // every name taken
}

}  // namespace

Created create_replacement(Place& place) {
  const auto cut = place.target.rfind('/');
  const std::string folder = cut == std::string::npos ? "."
                             : cut == 0               ? "/"
                                                      : place.target.substr(0, cut);
  place.name = cut == std::string::npos ? place.target : place.target.substr(cut + 1);
  place.directory = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (place.directory < 0) return Created::kFailed;
  if (place.had_target &&
      (mounted_over(place.existing, place.directory) || keeps_its_names(place.directory))) {
    return Created::kNotHere;  // no rename can replace it
  }
  // Like an open would make it (0666 less the umask), or private until it is like the old.
  const mode_t mode = place.had_target ? 0600 : 0666;
  const int unnamed = ::openat(place.directory, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
  if (unnamed >= 0) {
    // Whether it can be named at the end is known now, not after the netlist is written.
    char through_proc[32];
    std::snprintf(through_proc, sizeof through_proc, "/proc/self/fd/%d", unnamed);
    struct stat linked {};
    struct stat opened {};
    place.via_proc = ::stat(through_proc, &linked) == 0 && ::fstat(unnamed, &opened) == 0 &&
                     linked.st_ino == opened.st_ino && linked.st_dev == opened.st_dev;
    if (place.via_proc || may_link_without_proc()) {
      place.descriptor = unnamed;
      place.unnamed = true;
    } else {
      ::close(unnamed);
    }
  } else if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
    return refusal(errno);
  }
  if (!place.unnamed) {
    if (const Created created = create_named(place, mode); created != Created::kYes) return created;
  }
  if (place.had_target) {
    if (!make_identical(place.existing, place.status, place.descriptor)) {
      place.discard();
      place.unnamed = false;
      return Created::kNotHere;
    }
    // Writing takes the set-ID bits and file capabilities away again: they are put back
    // once it is done, from the old file, which stays open until then.
    place.restore = (place.status.st_mode & (S_ISUID | S_ISGID)) != 0 ||
                    ::flistxattr(place.existing, nullptr, 0) > 0;
    if (!place.restore) {
      ::close(place.existing);
      place.existing = -1;
    }
  }
  return Created::kYes;
}

bool open_descriptor(Place& place) {
  // One that cannot be written (closed by the caller, open for reading, a directory) is
  // refused before anything is written.
  if (place.caller <= 2 && (closed_at_start & (1u << place.caller)) != 0) return false;
  const int flags = ::fcntl(place.caller, F_GETFL);
  struct stat status {};
  if (flags < 0 || (flags & O_ACCMODE) == O_RDONLY || (flags & O_PATH) != 0 ||
      ::fstat(place.caller, &status) != 0 || S_ISDIR(status.st_mode)) {
    return false;
  }
  // A copy, so that closing it leaves the caller's descriptor as it was.
  place.descriptor = ::fcntl(place.caller, F_DUPFD_CLOEXEC, 0);
  return place.descriptor >= 0;
}

bool open_directly(Place& place) {
  place.descriptor = open_truncating(place.path);
  return place.descriptor >= 0;
}

bool open_in_place(Place& place) {
  if (place.existing < 0) {
    place.descriptor = open_truncating(place.target);
    return place.descriptor >= 0;
  }
  if (::ftruncate(place.existing, 0) != 0) return false;
  place.descriptor = place.existing;
  place.existing = -1;
  return true;
}

bool write_all(Place& place, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = ::write(place.descriptor, text.data(), text.size());
    if (written <= 0) {
      if (written < 0 && errno == EINTR) continue;
      return false;
    }
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

bool close_written(Place& place) {
  return place.discard();
}

namespace {

bool link_unnamed(const Place& place, const std::string& name) {
  if (!place.via_proc) {
    return ::linkat(place.descriptor, "", place.directory, name.c_str(), AT_EMPTY_PATH) == 0;
  }
  char through_proc[32];
  std::snprintf(through_proc, sizeof through_proc, "/proc/self/fd/%d", place.descriptor);
  return ::linkat(AT_FDCWD, through_proc, place.directory, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

// Gives the unnamed file a name: the target's own where there was none, so that nothing
// needs renaming (nor can stay behind); otherwise a hidden one, to be renamed over it.
bool name_unnamed(Place& place) {
  if (!place.had_target) {
    if (link_unnamed(place, place.name)) return true;
    if (errno != EEXIST) return false;  // another run made it meanwhile: replaced below
  }
  const std::size_t name_max = longest_name(place.directory);
  for (unsigned try_number = 0; try_number < kNameTries; ++try_number) {
    std::string name = new_file_name(place.name, try_number, name_max);
    if (link_unnamed(place, name)) {
      place.temporary = std::move(name);
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

// Names, closes and renames; on failure what was named is removed again by the caller,
// or here where it took the target's own name.
bool name_and_rename(Place& place) {
  if (place.restore && !make_identical(place.existing, place.status, place.descriptor)) {
    return false;
  }
  // Renaming over a file, ext4, xfs and btrfs first start writing the new one out, while
  // it already has the hidden name that a kill would leave behind: started now, that
  // happens before the name exists (a kill at the name's creation left it 3 times in 30
  // runs before, none since).
  if (place.had_target) ::sync_file_range(place.descriptor, 0, 0, SYNC_FILE_RANGE_WRITE);
  if (place.unnamed && !name_unnamed(place)) return false;
  const bool took_target_name = place.unnamed && place.temporary.empty();
  const bool done =
      ::close(std::exchange(place.descriptor, -1)) == 0 &&
      (place.temporary.empty() || ::renameat(place.directory, place.temporary.c_str(),
                                             place.directory, place.name.c_str()) == 0);
  if (done) {
    place.temporary.clear();
    place.interruptions.unguard();
  } else if (took_target_name) {
    ::unlinkat(place.directory, place.name.c_str(), 0);
  }
  return done;
}

}  // namespace

bool publish(Place& place) {
  // From here the signals wait, so that the target is either left as it was or replaced
  // whole: one that came while the file was written stops the run before the rename.
  Interruptions local;
  Interruptions& held = place.unnamed ? local : place.interruptions;
  held.hold();
  const bool published = !held.pending() && name_and_rename(place);
  if (!published) place.discard();
  // A held signal takes effect now: before the rename with the new file gone, after it
  // with the target replaced whole.
  held.release();
  return published;
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
  if (const int directory = detail::guarded_directory.load(); directory >= 0) {
    ::unlinkat(directory, detail::guarded_name, 0);
  }
}

}  // namespace gorvic
