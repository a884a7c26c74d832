#include "gorvic/output_file.hpp"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <iterator>
#include <optional>
#include <utility>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace gorvic {

std::string hidden_sibling(std::string_view target, std::string_view suffix, std::size_t name_max) {
#ifdef _WIN32
  const auto cut = target.find_last_of("/\\:");
#else
  const auto cut = target.rfind('/');
#endif
  const std::size_t start = cut == std::string_view::npos ? 0 : cut + 1;
  const std::size_t room = name_max > suffix.size() + 1 ? name_max - suffix.size() - 1 : 0;
  std::string sibling(target.substr(0, start));
  sibling += '.';
  sibling += target.substr(start).substr(0, room);
  sibling += suffix;
  return sibling;
}

namespace {

// The new file while it exists, for the handler that removes it when the run is
// interrupted. A run writes one file; a lock-free atomic may be read in a signal handler.
std::atomic<const char*> pending_file{nullptr};
static_assert(std::atomic<const char*>::is_always_lock_free);

// Names tried before giving up: other runs may be writing beside the same target.
constexpr unsigned kNameTries = 100;

std::uint64_t mix(std::uint64_t x) {
  x += 0x9e3779b97f4a7c15u;
  x = (x ^ (x >> 30u)) * 0xbf58476d1ce4e5b9u;
  x = (x ^ (x >> 27u)) * 0x94d049bb133111ebu;
  return x ^ (x >> 31u);
}

// "." and six letters or digits, different for every try and for runs at the same time.
std::string name_suffix(std::uint64_t process, unsigned try_number) {
  static constexpr std::string_view kDigits = "0123456789abcdefghijklmnopqrstuvwxyz";
  const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  std::uint64_t bits = mix(static_cast<std::uint64_t>(now) ^ (process << 32u) ^ try_number);
  std::string suffix = ".";
  for (int i = 0; i < 6; ++i, bits /= kDigits.size()) suffix += kDigits[bits % kDigits.size()];
  return suffix;
}

#ifdef _WIN32

BOOL WINAPI remove_pending_file(DWORD /*event*/) {
  // The file was opened to allow this: it goes when the process ends, which the next
  // handler, the default one, does.
  if (const char* name = pending_file.load()) DeleteFileA(name);
  return FALSE;
}

void watch_interruptions(const char* name) {
  pending_file = name;
  SetConsoleCtrlHandler(remove_pending_file, TRUE);
}

void unwatch_interruptions() {
  SetConsoleCtrlHandler(remove_pending_file, FALSE);
  pending_file = nullptr;
}

// The console handler runs on a thread of its own, and cannot be held off; removing a
// name that has gone is harmless.
struct Uninterrupted {
  Uninterrupted() {}
  ~Uninterrupted() {}
  Uninterrupted(const Uninterrupted&) = delete;
  Uninterrupted& operator=(const Uninterrupted&) = delete;
};

// CON, NUL, COM1 and the like name devices in every directory, whatever extension follows.
bool names_device(std::string_view path) {
  if (path.starts_with("\\\\.\\") || path.starts_with("//./")) return true;
  const auto cut = path.find_last_of("/\\:");
  std::string_view stem = path.substr(cut == std::string_view::npos ? 0 : cut + 1);
  stem = stem.substr(0, stem.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
  std::string name;
  for (const char c : stem) name += c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  for (const std::string_view device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
    if (name == device) return true;
  }
  return name.size() == 4 && (name.starts_with("COM") || name.starts_with("LPT")) &&
         name[3] >= '0' && name[3] <= '9';
}

struct Target {
  std::string path;
};

// The file to replace, or nothing where the path is written directly: a device, a
// directory (which fails to open), a read-only file (likewise), a link.
std::optional<Target> replaceable_target(const char* path) {
  if (names_device(path)) return std::nullopt;
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    if (GetLastError() != ERROR_FILE_NOT_FOUND) return std::nullopt;
  } else if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY |
                           FILE_ATTRIBUTE_DEVICE | FILE_ATTRIBUTE_REPARSE_POINT)) {
    return std::nullopt;
  }
  return Target{path};
}

enum class Created { kYes, kNameTaken, kNo };

// Creates `name` exclusively, open to deletion while written so that Ctrl-C can remove it.
Created create_new_file(const std::string& name, const Target& /*target*/, std::FILE*& stream) {
  HANDLE handle = CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                              nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? Created::kNameTaken
                                                                       : Created::kNo;
  }
  const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY);
  if (descriptor < 0) {
    CloseHandle(handle);
  } else if (!(stream = _fdopen(descriptor, "wb"))) {
    _close(descriptor);
  }
  if (!stream) DeleteFileA(name.c_str());
  return stream ? Created::kYes : Created::kNo;
}

bool rename_over(const std::string& from, const std::string& to) {
  // Fails while another program holds the target open: then the target stays as it is.
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

void remove_file(const std::string& name) {
  DeleteFileA(name.c_str());
}

std::uint64_t process_id() {
  return GetCurrentProcessId();
}

std::size_t longest_name(const Target& /*target*/) {
  return 255;
}

#else  // POSIX

constexpr int kInterruptions[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction previous_actions[std::size(kInterruptions)];

void remove_pending_file(int signal_number) {
  if (const char* name = pending_file.load()) ::unlink(name);
  // Then end by the same signal, so that the caller sees what ended the run.
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

void watch_interruptions(const char* name) {
  pending_file = name;
  for (std::size_t i = 0; i < std::size(kInterruptions); ++i) {
    ::sigaction(kInterruptions[i], nullptr, &previous_actions[i]);
    // An ignored signal stays ignored (nohup, a background job of a script).
    if (previous_actions[i].sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = remove_pending_file;
    sigemptyset(&action.sa_mask);
    ::sigaction(kInterruptions[i], &action, nullptr);
  }
}

void unwatch_interruptions() {
  for (std::size_t i = 0; i < std::size(kInterruptions); ++i) {
    ::sigaction(kInterruptions[i], &previous_actions[i], nullptr);
  }
  pending_file = nullptr;
}

// Holds the interruptions off while the new file and its name for the handler change
// together: a signal in between would leave the file behind, or remove another's.
class Uninterrupted {
 public:
  Uninterrupted() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal_number : kInterruptions) sigaddset(&set, signal_number);
    ::sigprocmask(SIG_BLOCK, &set, &saved_);
  }
  ~Uninterrupted() { ::sigprocmask(SIG_SETMASK, &saved_, nullptr); }
  Uninterrupted(const Uninterrupted&) = delete;
  Uninterrupted& operator=(const Uninterrupted&) = delete;

 private:
  sigset_t saved_;
};

// The descriptor that /dev/stdout, /dev/fd/N and the like name, or -1. Opening such a
// name would open the file behind the descriptor anew, and truncate it.
int descriptor_named(std::string_view path) {
  if (path == "/dev/stdin") return 0;
  if (path == "/dev/stdout") return 1;
  if (path == "/dev/stderr") return 2;
  for (const std::string_view prefix : {"/dev/fd/", "/proc/self/fd/"}) {
    if (!path.starts_with(prefix)) continue;
    const std::string_view digits = path.substr(prefix.size());
    if (digits.empty() || digits.size() > 9 || (digits[0] == '0' && digits.size() > 1)) break;
    int descriptor = 0;
    for (const char c : digits) {
      if (c < '0' || c > '9') return -1;
      descriptor = descriptor * 10 + (c - '0');
    }
    return descriptor;
  }
  return -1;
}

// `path` with its last component's symbolic links followed, dangling ones too: the file
// they lead to is replaced, and the links stay links.
std::string follow_links(std::string path) {
  for (int hop = 0; hop < 40; ++hop) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) break;
    std::string link(static_cast<std::size_t>(status.st_size) + 1, '\0');
    const ssize_t length = ::readlink(path.c_str(), link.data(), link.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= link.size()) break;
    link.resize(static_cast<std::size_t>(length));
    // A relative link is relative to the directory that holds it.
    path.erase(link[0] == '/' ? 0 : path.rfind('/') + 1);
    path += link;
  }
  return path;
}

struct Target {
  std::string path;
  bool exists;
  struct stat status;
};

// A plain file that the process may write, or a name that holds nothing yet.
std::optional<Target> replaceable_target(const char* path) {
  Target target{follow_links(path), true, {}};
  if (target.path.empty() || target.path.back() == '/') return std::nullopt;
  if (::stat(target.path.c_str(), &target.status) != 0) {
    if (errno != ENOENT) return std::nullopt;
    target.exists = false;
  } else if (!S_ISREG(target.status.st_mode) || ::access(target.path.c_str(), W_OK) != 0) {
    return std::nullopt;  // a read-only file is refused by the open, as it always was
  }
  return target;
}

enum class Created { kYes, kNameTaken, kNo };

// Creates `name` exclusively. A new target gets what an open would give it (0666 less the
// umask); an existing one passes on its permission bits, and its owner and group as far
// as the process may set them.
Created create_new_file(const std::string& name, const Target& target, std::FILE*& stream) {
  const int descriptor =
      ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, target.exists ? 0600 : 0666);
  if (descriptor < 0) return errno == EEXIST ? Created::kNameTaken : Created::kNo;
  if (target.exists) {
    const struct stat& was = target.status;
    if (::fchown(descriptor, was.st_uid, was.st_gid) != 0 &&
        ::fchown(descriptor, static_cast<uid_t>(-1), was.st_gid) != 0) {
      // Not ours to give away: the replacement belongs to whoever writes it.
    }
    ::fchmod(descriptor, was.st_mode & 07777);
  }
  if (!(stream = ::fdopen(descriptor, "wb"))) {
    ::close(descriptor);
    ::unlink(name.c_str());
    return Created::kNo;
  }
  return Created::kYes;
}

bool rename_over(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

void remove_file(const std::string& name) {
  ::unlink(name.c_str());
}

std::uint64_t process_id() {
  return static_cast<std::uint64_t>(::getpid());
}

std::size_t longest_name(const Target& target) {
  const std::string directory = target.path.substr(0, target.path.rfind('/') + 1);
  const long longest = ::pathconf(directory.empty() ? "." : directory.c_str(), _PC_NAME_MAX);
  return longest > 0 ? static_cast<std::size_t>(longest) : 255;
}

#endif

}  // namespace

OutputFile::OutputFile(const char* path) {
#ifndef _WIN32
  if (const int descriptor = descriptor_named(path); descriptor >= 0) {
    // Written as the caller set it up (appending, say); through a copy, so that closing
    // the stream leaves the caller's descriptor open.
    const int copy = ::fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
    if (copy >= 0 && !(stream_ = ::fdopen(copy, "wb"))) ::close(copy);
    return;
  }
#endif
  if (auto target = replaceable_target(path)) {
    const std::size_t name_max = longest_name(*target);
    const Uninterrupted hold;
    for (unsigned try_number = 0; try_number < kNameTries; ++try_number) {
      std::string name =
          hidden_sibling(target->path, name_suffix(process_id(), try_number), name_max);
      const Created created = create_new_file(name, *target, stream_);
      if (created == Created::kNameTaken) continue;
      if (created == Created::kNo) break;
      target_ = std::move(target->path);
      temporary_ = std::move(name);
      watch_interruptions(temporary_.c_str());
      return;
    }
  }
  // Written directly: a device or a pipe, or a file in a directory that takes no new
  // file (written in place, as it must be). Where this fails, a new file would have too.
  stream_ = std::fopen(path, "wb");
}

OutputFile::~OutputFile() {
  finish(false);
}

bool OutputFile::commit() {
  return finish(true);
}

bool OutputFile::finish(bool keep) {
  bool done = stream_ == nullptr || std::fclose(std::exchange(stream_, nullptr)) == 0;
  if (temporary_.empty()) return done;
  const Uninterrupted hold;
  done = done && keep && rename_over(temporary_, target_);
  if (!done) remove_file(temporary_);
  unwatch_interruptions();
  temporary_.clear();
  return done;
}

}  // namespace gorvic
