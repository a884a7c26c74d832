#include "gorvic/linux/units.hpp"

#include <fcntl.h>
#include <linux/fs.h>
#include <linux/limits.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <map>
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

// The mount that holds an open file, where the kernel gives handles, even when none fits.
int mount_of(int descriptor) {
  file_handle handle{};
  int mount = -1;
  const int told = ::name_to_handle_at(descriptor, "", &handle, &mount, AT_EMPTY_PATH);
  return told == 0 || errno == EOVERFLOW ? mount : -1;
}

// What statx shows of `attributes` (from 4.11; mount roots, 5.8): 1 any, 0 none, -1 unsaid.
int shown(int descriptor, std::uint64_t attributes) {
  struct statx status {};
  if (::statx(descriptor, "", AT_EMPTY_PATH, 0, &status) != 0 ||
      (status.stx_attributes_mask & attributes) == 0) {
    return -1;
  }
  return (status.stx_attributes & attributes) != 0 ? 1 : 0;
}

}  // namespace

std::string signature(int descriptor) {
  // The most that the kernel lists or gives; static, so that only what is read is touched.
  static char names[XATTR_LIST_MAX];
  static char value[XATTR_SIZE_MAX];
  struct stat status {};
  fsxattr project{};  // the project quotas count it in; 0 without projects
  ::ioctl(descriptor, FS_IOC_FSGETXATTR, &project);
  const ssize_t size = ::flistxattr(descriptor, names, sizeof names);
  if (::fstat(descriptor, &status) != 0 || (size < 0 && errno != ENOTSUP)) return {};
  std::map<std::string, std::string> attributes;  // in the order of their names
  for (const char* name = names; name < names + size; name += std::strlen(name) + 1) {
    const ssize_t length = ::fgetxattr(descriptor, name, value, sizeof value);
    if (length < 0) return {};
    attributes.emplace(name, std::string(value, static_cast<std::size_t>(length)));
  }
  std::string text = std::to_string(status.st_uid) + ':' + std::to_string(status.st_gid) + ' ' +
                     std::to_string(status.st_mode & 07777) + ' ' +
                     std::to_string(flags_of(descriptor) & kKeptFlags) + ' ' +
                     std::to_string(project.fsx_projid);
  for (const auto& [name, text_of_value] : attributes)
    (((text += '\0') += name) += '=') += text_of_value;
  return text;
}

bool append_only_or_immutable(int descriptor) {
  // statx tells from any descriptor; the flags need one that may read.
  const int told = shown(descriptor, STATX_ATTR_APPEND | STATX_ATTR_IMMUTABLE);
  return told >= 0 ? told == 1 : (flags_of(descriptor) & (FS_APPEND_FL | FS_IMMUTABLE_FL)) != 0;
}

bool may_rename_over(int directory, int existing) {
  // A file mounted over the name is a mount's root, or in another mount than its directory.
  const int root = shown(existing, STATX_ATTR_MOUNT_ROOT);
  return !append_only_or_immutable(directory) &&
         (root >= 0 ? root == 0 : mount_of(existing) == mount_of(directory));
}

bool make_identical(const struct stat& was, const std::string& was_signature, int replacement) {
  // The owner first: a change of owner clears the set-ID bits that the mode then sets.
  struct stat now {};
  return ::fstat(replacement, &now) == 0 &&
         ((now.st_uid == was.st_uid && now.st_gid == was.st_gid) ||
          ::fchown(replacement, was.st_uid, was.st_gid) == 0) &&
         ::fchmod(replacement, was.st_mode & 07777) == 0 && !was_signature.empty() &&
         signature(replacement) == was_signature;
}

}  // namespace gorvic::detail
