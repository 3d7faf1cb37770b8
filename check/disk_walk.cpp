#include "check/disk_walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace tarnvel::check {
namespace {

// Folders nest no deeper than this below the data directory (the store's own are two deep);
// deeper ones are reported unreadable rather than walked without end.
constexpr int kDeepestFolder = 64;

std::string Joined(const std::string& folder, const std::string& name) {
  return folder.empty() ? name : folder + "/" + name;
}

// Walks the folder open as `fd` (taken over), `folder` being its path.
void Walk(int fd, const std::string& folder, int depth, std::vector<DiskEntry>& entries) {
  DIR* dir = ::fdopendir(fd);
  if (dir == nullptr) {
    entries.push_back({DiskEntry::Kind::kUnreadable, folder, 0, {}, errno});
    ::close(fd);
    return;
  }
  std::vector<std::string> names;
  errno = 0;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  if (errno != 0) entries.push_back({DiskEntry::Kind::kUnreadable, folder, 0, {}, errno});
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    const std::string path = Joined(folder, name);
    struct stat st {};
    if (::fstatat(::dirfd(dir), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno != ENOENT) entries.push_back({DiskEntry::Kind::kUnreadable, path, 0, {}, errno});
      continue;
    }
    if (S_ISREG(st.st_mode)) {
      entries.push_back(
          {DiskEntry::Kind::kFile, path, static_cast<std::int64_t>(st.st_size), {}, 0});
    } else if (S_ISLNK(st.st_mode)) {
      std::string target(4096, '\0');
      const ssize_t length = ::readlinkat(::dirfd(dir), name.c_str(), target.data(), target.size());
      target.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
      entries.push_back({DiskEntry::Kind::kLink, path, 0, target, 0});
    } else if (S_ISDIR(st.st_mode)) {
      errno = ELOOP;
      const int child = depth < kDeepestFolder
                            ? ::openat(::dirfd(dir), name.c_str(),
                                       O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)
                            : -1;
      if (child < 0) {
        entries.push_back({DiskEntry::Kind::kUnreadable, path, 0, {}, errno});
        continue;
      }
      Walk(child, path, depth + 1, entries);
    } else {
      entries.push_back({DiskEntry::Kind::kOther, path, 0, {}, 0});
    }
  }
  ::closedir(dir);
}

}  // namespace

bool WalkDataDirectory(const DataDirectory& directory, std::vector<DiskEntry>& entries) {
  const int fd = ::open(directory.Text().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  Walk(fd, "", 0, entries);
  return true;
}

}  // namespace tarnvel::check
