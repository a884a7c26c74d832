#include <fcntl.h>
#include <linux/magic.h>
#include <sys/statfs.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <string_view>

#include "gorvic/linux/units.hpp"

namespace gorvic::detail {
namespace {

constexpr int kMaxLinks = 40;  // as the kernel, which then fails with ELOOP

// Opens the directory part of `path` from `from`, and keeps the last step ("" after a /).
void start_at(Destination& found, int from, std::string_view path) {
  const auto cut = path.rfind('/');
  const std::string folder(cut == std::string_view::npos ? "."
                           : cut == 0                    ? "/"
                                                         : path.substr(0, cut));
  found.directory = Descriptor(::openat(from, folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  found.name = path.substr(cut == std::string_view::npos ? 0 : cut + 1);
}

// Looks at the name without following a link: true for a link; otherwise sets the kind.
bool is_link(Destination& found) {
  found.kind = Destination::kRefused;
  if (!found.directory || found.name.empty() || found.name == "." || found.name == "..") {
    return false;
  }
  if (::fstatat(found.directory.get(), found.name.c_str(), &found.status, AT_SYMLINK_NOFOLLOW) !=
      0) {
    if (errno == ENOENT) found.kind = Destination::kNothing;
    return false;
  }
  const mode_t type = found.status.st_mode & S_IFMT;
  if (type == S_IFLNK) return true;
  if (type != S_IFDIR) found.kind = type == S_IFREG ? Destination::kFile : Destination::kOther;
  return false;
}

// A link in /proc leads to a file that its text only describes: one of the process's own
// descriptors (/dev/stdout, /dev/fd/5 of a deleted file) is written through as it is;
// anything else is opened as named, the kernel following the link.
Destination proc_link(Destination found) {
  struct stat here {};
  struct stat own {};
  const char* const end = found.name.data() + found.name.size();
  for (const char* own_descriptors : {"/proc/self/fd", "/proc/thread-self/fd"}) {
    if (::fstat(found.directory.get(), &here) == 0 && ::stat(own_descriptors, &own) == 0 &&
        same_file(here, own) &&
        std::from_chars(found.name.data(), end, found.descriptor).ptr == end) {
      found.kind = Destination::kDescriptor;
      return found;
    }
  }
  found.kind = Destination::kOther;
  return found;
}

}  // namespace

bool protected_in_sticky(int directory, const struct stat& file) {
  struct stat folder {};
  if (file.st_uid == ::geteuid() || ::fstat(directory, &folder) != 0 ||
      (folder.st_mode & S_ISVTX) == 0 || file.st_uid == folder.st_uid) {
    return false;
  }
  const bool link = S_ISLNK(file.st_mode);
  char level = '1';
  const Descriptor setting(::open(link                     ? "/proc/sys/fs/protected_symlinks"
                                  : S_ISFIFO(file.st_mode) ? "/proc/sys/fs/protected_fifos"
                                                           : "/proc/sys/fs/protected_regular",
                                  O_RDONLY | O_CLOEXEC));
  if (setting && ::read(setting.get(), &level, 1) != 1) level = '1';
  return (level >= '1' && (folder.st_mode & S_IWOTH) != 0) ||
         (level >= '2' && !link && (folder.st_mode & S_IWGRP) != 0);
}

// The kernel opens the directory, following the links on the way. A link in the last step
// is followed here, so that the file it leads to is replaced and the link stays, with the
// kernel's protection checked on the very link that is then read.
Destination find_destination(const char* path) {
  Destination found;
  start_at(found, AT_FDCWD, path);
  for (int links = 0; is_link(found); ++links) {
    if (links == kMaxLinks || protected_in_sticky(found.directory.get(), found.status)) return {};
    struct statfs file_system {};
    if (::fstatfs(found.directory.get(), &file_system) == 0 &&
        file_system.f_type == PROC_SUPER_MAGIC) {
      return proc_link(std::move(found));
    }
    char text[PATH_MAX];
    const ssize_t length =
        ::readlinkat(found.directory.get(), found.name.c_str(), text, sizeof text);
    if (length <= 0 || length == sizeof text) return {};
    const Descriptor holder = std::move(found.directory);
    start_at(found, holder.get(), std::string_view(text, static_cast<std::size_t>(length)));
  }
  return found;  // kRefused as is_link left it, where it refuses
}

}  // namespace gorvic::detail
