#include "store/file_sync.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <map>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace tarnvel {
namespace {

// Syncs running at once: a device serves the flushes of many files together far faster than
// one after the other (a few milliseconds each on common disks).
constexpr std::size_t kSyncsAtOnce = 16;

// A regular file `leaf` of the open folder `folder`, opened to be synced without following a
// link; invalid with errno set when it cannot be (ENOENT: nothing there).
FileDescriptor OpenRegularAt(int folder, const std::string& leaf) {
  int fd = -1;
  do {
    fd = ::openat(folder, leaf.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  FileDescriptor opened(fd);
  struct stat info {};
  if (opened && (::fstat(opened.get(), &info) != 0 || !S_ISREG(info.st_mode))) {
    errno = EISDIR;
    return {};
  }
  return opened;
}

bool Synced(const SyncGroup::Target& target) {
  int rc = 0;
  do {
    rc = target.dataOnly ? ::fdatasync(target.fd) : ::fsync(target.fd);
  } while (rc != 0 && errno == EINTR);
  return rc == 0;
}

}  // namespace

bool SyncGroup::SyncAll(const std::vector<Target>& targets) {
  std::atomic<std::size_t> next{0};
  std::atomic<bool> failed{false};
  // Helper threads only sync descriptors opened here: they allocate nothing.
  const auto work = [&] {
    for (std::size_t i = next++; i < targets.size(); i = next++) {
      if (!Synced(targets[i])) failed = true;
    }
  };
  std::vector<std::thread> helpers;
  const std::size_t wanted = std::min(kSyncsAtOnce, targets.size()) - (targets.empty() ? 0 : 1);
  if (wanted > 0) {
    helpers.reserve(wanted);
    // Every signal stays with the converter's own thread.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    try {
      while (helpers.size() < wanted) helpers.emplace_back(work);
    } catch (const std::system_error&) {
      // Fewer helpers, or none: the syncs left run here.
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  }
  work();
  for (std::thread& helper : helpers) helper.join();
  return !failed;
}

bool SyncGroup::Flush(const StoreFiles& files, const std::vector<int>& more) {
  bool synced = true;
  if (enabled_) {
    std::vector<FileDescriptor> opened;
    std::vector<Target> targets;
    for (const int fd : more) targets.push_back(Target{fd, true});
    // Each folder is opened once, its files from it: a group's files share few folders. What
    // went away meanwhile has nothing left to sync.
    std::map<std::string, std::vector<std::string>> byFolder;
    for (const std::string& path : files_) {
      const std::size_t slash = path.rfind('/');
      byFolder[FolderOf(path)].push_back(slash == std::string::npos ? path
                                                                    : path.substr(slash + 1));
    }
    for (const std::string& folder : folders_) byFolder.try_emplace(folder);
    for (const auto& [folder, leaves] : byFolder) {
      FileDescriptor folderFd = files.OpenForSync(folder, true);
      if (!folderFd) {
        if (errno != ENOENT) synced = false;
        continue;
      }
      for (const std::string& leaf : leaves) {
        FileDescriptor fd = OpenRegularAt(folderFd.get(), leaf);
        if (fd) {
          targets.push_back(Target{fd.get(), true});
          opened.push_back(std::move(fd));
        } else if (errno != ENOENT) {
          synced = false;
        }
      }
      if (folders_.contains(folder)) targets.push_back(Target{folderFd.get(), false});
      opened.push_back(std::move(folderFd));
    }
    synced = SyncAll(targets) && synced;
  }
  Clear();
  return synced;
}

void SyncGroup::Clear() {
  files_.clear();
  folders_.clear();
}

void SyncGroup::StartWriteback(int fd) const {
  if (enabled_) ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
}

}  // namespace tarnvel
