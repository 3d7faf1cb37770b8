#include "store/file_sync.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace tarnvel {

bool SyncGroup::Flush(const StoreFiles& files) {
  bool synced = true;
  if (enabled_) {
    // The files first: a folder entry must never be on stable storage ahead of its data.
    for (const std::string& path : files_) synced = files.SyncFile(path) && synced;
    for (const std::string& folder : folders_) synced = files.SyncFolder(folder) && synced;
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

bool SyncGroup::SyncNow(int fd) const {
  if (!enabled_) return true;
  int rc = 0;
  do {
    rc = ::fdatasync(fd);
  } while (rc != 0 && errno == EINTR);
  return rc == 0;
}

}  // namespace tarnvel
