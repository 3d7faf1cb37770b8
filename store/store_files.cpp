#include "store/store_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

namespace tarnvel {
namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

FileDescriptor OpenAt(int folder, const std::string& name, int flags, mode_t mode = 0) {
  int fd = -1;
  do {
    fd = ::openat(folder, name.c_str(), flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return FileDescriptor(fd);
}

// A regular file opened at `leaf` of `folder`, refusing anything else.
FileDescriptor OpenRegular(const FileDescriptor& folder, std::string_view leaf, int flags,
                           mode_t mode = 0) {
  if (!folder) return {};
  FileDescriptor fd = OpenAt(folder.get(), std::string(leaf), flags | O_NOFOLLOW, mode);
  if (!fd) return fd;
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    errno = EISDIR;
    return {};
  }
  return fd;
}

}  // namespace

FileDescriptor StoreFiles::OpenParent(std::string_view path, bool create,
                                      std::string_view& leaf) const {
  if (!IsStoreRelativePath(path)) {
    errno = EINVAL;
    return {};
  }
  FileDescriptor folder = OpenFile(directory_.Text(), O_RDONLY | O_DIRECTORY);
  std::size_t pos = 0;
  for (std::size_t slash = path.find('/'); folder && slash != std::string_view::npos;
       slash = path.find('/', pos)) {
    const std::string part(path.substr(pos, slash - pos));
    if (create) {
      if (::mkdirat(folder.get(), part.c_str(), 0777) == 0) {
        // The folder holding the new one has a new entry.
        if (newFolders_ != nullptr) newFolders_->insert(FolderOf(path.substr(0, slash)));
      } else if (errno != EEXIST) {
        return {};
      }
    }
    pos = slash + 1;
    folder = OpenAt(folder.get(), part, kFolderFlags);
  }
  leaf = path.substr(pos);
  return folder;
}

StoreFiles::Entry StoreFiles::Stat(std::string_view path) const {
  std::string_view leaf;
  const FileDescriptor folder = OpenParent(path, false, leaf);
  if (!folder) return Entry{errno == ENOENT ? Kind::kMissing : Kind::kOther, 0};
  struct stat info {};
  if (::fstatat(folder.get(), std::string(leaf).c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
    return Entry{errno == ENOENT ? Kind::kMissing : Kind::kOther, 0};
  }
  if (!S_ISREG(info.st_mode)) return Entry{Kind::kOther, 0};
  return Entry{Kind::kRegularFile, static_cast<std::int64_t>(info.st_size)};
}

FileDescriptor StoreFiles::OpenExisting(std::string_view path) const {
  std::string_view leaf;
  const FileDescriptor folder = OpenParent(path, false, leaf);
  return OpenRegular(folder, leaf, O_RDWR);
}

FileDescriptor StoreFiles::OpenForReading(std::string_view path) const {
  std::string_view leaf;
  const FileDescriptor folder = OpenParent(path, false, leaf);
  return OpenRegular(folder, leaf, O_RDONLY);
}

FileDescriptor StoreFiles::CreateNew(std::string_view path) const {
  std::string_view leaf;
  const FileDescriptor folder = OpenParent(path, true, leaf);
  return OpenRegular(folder, leaf, O_RDWR | O_CREAT | O_EXCL, 0666);
}

FileDescriptor StoreFiles::OpenOrCreate(std::string_view path) const {
  std::string_view leaf;
  const FileDescriptor folder = OpenParent(path, true, leaf);
  return OpenRegular(folder, leaf, O_RDWR | O_CREAT, 0666);
}

bool StoreFiles::LinkUnnamed(int fd, std::string_view path) const {
  std::string_view leaf;
  const FileDescriptor folder = OpenParent(path, true, leaf);
  if (!folder) return false;
  char self[64];
  std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
  return ::linkat(AT_FDCWD, self, folder.get(), std::string(leaf).c_str(), AT_SYMLINK_FOLLOW) == 0;
}

StoreFiles::Removal StoreFiles::Remove(std::string_view path) const {
  std::string_view leaf;
  const FileDescriptor folder = OpenParent(path, false, leaf);
  if (!folder) return errno == ENOENT ? Removal::kMissing : Removal::kRefused;
  const std::string name(leaf);
  struct stat info {};
  if (::fstatat(folder.get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno == ENOENT ? Removal::kMissing : Removal::kRefused;
  }
  if (!S_ISREG(info.st_mode)) return Removal::kRefused;
  if (::unlinkat(folder.get(), name.c_str(), 0) == 0) return Removal::kRemoved;
  return errno == ENOENT ? Removal::kMissing : Removal::kRefused;
}

bool StoreFiles::Rename(std::string_view from, std::string_view to, bool replace) const {
  std::string_view fromLeaf;
  std::string_view toLeaf;
  const FileDescriptor fromFolder = OpenParent(from, false, fromLeaf);
  const FileDescriptor toFolder = OpenParent(to, true, toLeaf);
  if (!fromFolder || !toFolder) return false;
  const std::string source(fromLeaf);
  const std::string target(toLeaf);
  if (replace)
    return ::renameat(fromFolder.get(), source.c_str(), toFolder.get(), target.c_str()) == 0;
  if (::renameat2(fromFolder.get(), source.c_str(), toFolder.get(), target.c_str(),
                  RENAME_NOREPLACE) == 0) {
    return true;
  }
  // File systems without RENAME_NOREPLACE: a hard link fails on an existing target as well.
  if (errno != EINVAL && errno != ENOSYS) return false;
  if (::linkat(fromFolder.get(), source.c_str(), toFolder.get(), target.c_str(), 0) != 0) {
    return false;
  }
  ::unlinkat(fromFolder.get(), source.c_str(), 0);
  return true;
}

std::vector<std::string> StoreFiles::FileNames(std::string_view folder) const {
  std::vector<std::string> names;
  FileDescriptor fd;
  if (folder.empty()) {
    fd = OpenFile(directory_.Text(), O_RDONLY | O_DIRECTORY);
  } else {
    std::string_view leaf;
    const FileDescriptor parent = OpenParent(folder, false, leaf);
    if (parent) fd = OpenAt(parent.get(), std::string(leaf), kFolderFlags);
  }
  if (!fd) return names;
  // The directory stream owns a descriptor of its own.
  const int owned = ::fcntl(fd.get(), F_DUPFD_CLOEXEC, 0);
  DIR* dir = owned >= 0 ? ::fdopendir(owned) : nullptr;
  if (dir == nullptr) {
    if (owned >= 0) ::close(owned);
    return names;
  }
  const int dirFd = ::dirfd(dir);
  for (const dirent* entry = ::readdir(dir); entry != nullptr; entry = ::readdir(dir)) {
    struct stat info {};
    if (::fstatat(dirFd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode)) {
      names.emplace_back(entry->d_name);
    }
  }
  ::closedir(dir);
  return names;
}

bool StoreFiles::StillNames(std::string_view path, int fd) const {
  std::string_view leaf;
  const FileDescriptor folder = OpenParent(path, false, leaf);
  struct stat there {};
  struct stat mine {};
  return folder &&
         ::fstatat(folder.get(), std::string(leaf).c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0 &&
         ::fstat(fd, &mine) == 0 && S_ISREG(there.st_mode) && there.st_dev == mine.st_dev &&
         there.st_ino == mine.st_ino;
}

namespace {

bool Synced(int fd, bool dataOnly) {
  int rc = 0;
  do {
    rc = dataOnly ? ::fdatasync(fd) : ::fsync(fd);
  } while (rc != 0 && errno == EINTR);
  return rc == 0;
}

}  // namespace

FileDescriptor StoreFiles::OpenForSync(std::string_view path, bool folder) const {
  if (folder && path.empty()) return OpenFile(directory_.Text(), O_RDONLY | O_DIRECTORY);
  std::string_view leaf;
  const FileDescriptor parent = OpenParent(path, false, leaf);
  if (!parent) return {};
  if (folder) return OpenAt(parent.get(), std::string(leaf), kFolderFlags);
  return OpenRegular(parent, leaf, O_RDONLY);
}

bool StoreFiles::SyncFile(std::string_view path) const {
  const FileDescriptor fd = OpenForSync(path, false);
  if (!fd) return errno == ENOENT;
  return Synced(fd.get(), true);
}

bool StoreFiles::SyncFolder(std::string_view folder) const {
  const FileDescriptor fd = OpenForSync(folder, true);
  if (!fd) return errno == ENOENT;
  return Synced(fd.get(), false);
}

std::string FolderOf(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash));
}

std::optional<std::uint64_t> StoreFiles::FreeSpace() const {
  struct statvfs info {};
  if (::statvfs(directory_.Text().c_str(), &info) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(info.f_bavail) * static_cast<std::uint64_t>(info.f_frsize);
}

}  // namespace tarnvel
