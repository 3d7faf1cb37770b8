#include "store/file_sync.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "store/posix_file.h"

namespace tarnvel {

bool SyncToStableStorage() {
  static const bool sync = [] {
    const char* value = std::getenv(kNoSyncVariable);
    return value == nullptr || std::strcmp(value, "1") != 0;
  }();
  return sync;
}

bool SyncFileData(int fd) {
  int rc = 0;
  do {
    rc = ::fdatasync(fd);
  } while (rc != 0 && errno == EINTR);
  return rc == 0;
}

bool SyncFolder(const std::string& folder) {
  const FileDescriptor opened =
      OpenFile(folder.empty() ? std::string(".") : folder, O_RDONLY | O_DIRECTORY);
  if (!opened) return false;
  int rc = 0;
  do {
    rc = ::fsync(opened.get());
  } while (rc != 0 && errno == EINTR);
  return rc == 0;
}

void StartWriteBack(int fd, off_t offset, off_t length) {
#ifdef SYNC_FILE_RANGE_WRITE
  ::sync_file_range(fd, offset, length, SYNC_FILE_RANGE_WRITE);
#else
  static_cast<void>(fd);
  static_cast<void>(offset);
  static_cast<void>(length);
#endif
}

}  // namespace tarnvel
