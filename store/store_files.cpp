#include "store/store_files.h"

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
    pos = slash + 1;
    if (create && ::mkdirat(folder.get(), part.c_str(), 0777) != 0 && errno != EEXIST) return {};
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

std::optional<std::uint64_t> StoreFiles::FreeSpace() const {
  struct statvfs info {};
  if (::statvfs(directory_.Text().c_str(), &info) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(info.f_bavail) * static_cast<std::uint64_t>(info.f_frsize);
}

}  // namespace tarnvel
