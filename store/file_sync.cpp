#include "store/file_sync.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
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

namespace {

// Threads that sync at once besides the caller: enough for the file system to gather their
// syncs into few commits. Each only waits, on a small stack, with every signal left to the
// caller's thread.
constexpr std::size_t kSyncThreads = 15;
constexpr std::size_t kSyncThreadStack = std::size_t{64} << 10;

struct SyncWork {
  std::span<const int> fds;
  std::atomic<std::size_t> next{0};
  std::vector<unsigned char> synced;
};

void SyncSome(SyncWork& work) {
  for (std::size_t i = work.next++; i < work.fds.size(); i = work.next++) {
    work.synced[i] = SyncFileData(work.fds[i]) ? 1 : 0;
  }
}

void* SyncThread(void* work) {
  SyncSome(*static_cast<SyncWork*>(work));
  return nullptr;
}

}  // namespace

std::vector<bool> SyncFilesData(std::span<const int> fds) {
  SyncWork work;
  work.fds = fds;
  work.synced.assign(fds.size(), 0);
  std::vector<pthread_t> threads;
  if (fds.size() > 1) {
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) == 0) {
      pthread_attr_setstacksize(&attributes, kSyncThreadStack);
      sigset_t all;
      sigset_t previous;
      sigfillset(&all);
      pthread_sigmask(SIG_SETMASK, &all, &previous);
      const std::size_t wanted = std::min(kSyncThreads, fds.size() - 1);
      threads.reserve(wanted);
      for (std::size_t t = 0; t < wanted; ++t) {
        pthread_t thread{};
        // A thread that cannot be made leaves its share to the others and the caller.
        if (pthread_create(&thread, &attributes, &SyncThread, &work) != 0) break;
        threads.push_back(thread);
      }
      pthread_sigmask(SIG_SETMASK, &previous, nullptr);
      pthread_attr_destroy(&attributes);
    }
  }
  SyncSome(work);
  for (const pthread_t thread : threads) pthread_join(thread, nullptr);
  return std::vector<bool>(work.synced.begin(), work.synced.end());
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
