#include "gorvic/linux/units.hpp"

#include <fcntl.h>
#include <linux/fs.h>
#include <linux/limits.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <optional>
#include <string>

namespace gorvic::detail {
namespace {

// The chattr flags a file keeps (no dump, no atime, sync, journalled data, no copy-on-write,
// no compression, DAX); a new file may take some from its directory (btrfs's +C).
constexpr int kKeptFlags = FS_FL_USER_MODIFIABLE | FS_JOURNAL_DATA_FL | FS_NOCOW_FL | FS_NOCOMP_FL |
                           FS_DAX_FL | FS_PROJINHERIT_FL;

int flags_of(int descriptor) {
  int flags = 0;
  if (::ioctl(descriptor, FS_IOC_GETFLAGS, &flags) == 0) return flags;
  // A directory held by O_PATH: through a descriptor that reads it.
  const Descriptor readable(::openat(descriptor, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return readable && ::ioctl(readable.get(), FS_IOC_GETFLAGS, &flags) == 0 ? flags : 0;
}

// The project that quotas count a file in. A directory that hands its own to new files
// takes no file of another by a link or a rename (EXDEV).
unsigned project_of(int descriptor) {
  fsxattr attributes{};
  return ::ioctl(descriptor, FS_IOC_FSGETXATTR, &attributes) == 0 ? attributes.fsx_projid : 0;
}

// Every extended attribute of a file, ACLs among them, with its value. The buffers hold
// the most that the kernel lists or gives; static, so that only what is read is touched.
std::optional<std::map<std::string, std::string>> attributes(int descriptor) {
  static char names[XATTR_LIST_MAX];
  static char value[XATTR_SIZE_MAX];
  std::map<std::string, std::string> all;
  const ssize_t size = ::flistxattr(descriptor, names, sizeof names);
  if (size < 0) return errno == ENOTSUP ? std::optional(all) : std::nullopt;
  for (const char* name = names; name < names + size; name += std::strlen(name) + 1) {
    const ssize_t length = ::fgetxattr(descriptor, name, value, sizeof value);
    if (length < 0) return std::nullopt;
    all.emplace(name, std::string(value, static_cast<std::size_t>(length)));
  }
  return all;
}

// The mount that holds an open file, where the kernel gives handles, even when none fits.
int mount_of(int descriptor) {
  file_handle handle{};
  int mount = -1;
  const int told = ::name_to_handle_at(descriptor, "", &handle, &mount, AT_EMPTY_PATH);
  return told == 0 || errno == EOVERFLOW ? mount : -1;
}

}  // namespace

bool append_only_or_immutable(int descriptor) {
  // statx tells from any descriptor (from 4.11); the flags need one that may read.
  struct statx status {};
  if (::statx(descriptor, "", AT_EMPTY_PATH, 0, &status) == 0 &&
      (status.stx_attributes_mask & STATX_ATTR_APPEND) != 0) {
    return (status.stx_attributes & (STATX_ATTR_APPEND | STATX_ATTR_IMMUTABLE)) != 0;
  }
  return (flags_of(descriptor) & (FS_APPEND_FL | FS_IMMUTABLE_FL)) != 0;
}

bool may_rename_over(int directory, int existing) {
  struct stat file {};
  struct stat folder {};
  // Without file handles, at least the file system must be the same.
  return !append_only_or_immutable(directory) && mount_of(existing) == mount_of(directory) &&
         ::fstat(existing, &file) == 0 && ::fstat(directory, &folder) == 0 &&
         file.st_dev == folder.st_dev;
}

bool make_identical(int existing, const struct stat& was, int replacement) {
  // The owner first: a change of owner clears the set-ID bits that the mode then sets.
  struct stat now {};
  if (::fstat(replacement, &now) != 0 ||
      ((now.st_uid != was.st_uid || now.st_gid != was.st_gid) &&
       ::fchown(replacement, was.st_uid, was.st_gid) != 0) ||
      ::fchmod(replacement, was.st_mode & 07777) != 0 || ::fstat(replacement, &now) != 0 ||
      now.st_uid != was.st_uid || now.st_gid != was.st_gid ||
      (now.st_mode & 07777) != (was.st_mode & 07777)) {
    return false;  // another's file, a group the process is not in, a set-group-ID bit dropped
  }
  const auto old_attributes = attributes(existing);
  return ((flags_of(existing) ^ flags_of(replacement)) & kKeptFlags) == 0 &&
         project_of(existing) == project_of(replacement) && old_attributes &&
         old_attributes == attributes(replacement);
}

}  // namespace gorvic::detail
