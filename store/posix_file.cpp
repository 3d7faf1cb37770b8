#include "store/posix_file.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace tarnvel {

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

bool FileDescriptor::Close() {
  if (fd_ < 0) return true;
  const int rc = ::close(fd_);
  fd_ = -1;
  return rc == 0;
}

FileDescriptor OpenFile(const std::string& path, int flags, mode_t mode) {
  int fd = -1;
  do {
    fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return FileDescriptor(fd);
}

namespace {

// Repeats `step(done)`, which moves bytes from offset `done` on and returns how many it moved
// (or -1), until `size` bytes have moved. Interrupted calls are retried; a failure, or an end
// of file, ends it with false.
template <typename Step>
bool MoveAll(std::size_t size, Step step) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = step(done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

bool WriteAll(int fd, const void* data, std::size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  return MoveAll(size, [&](std::size_t done) { return ::write(fd, bytes + done, size - done); });
}

bool WriteAllAt(int fd, const void* data, std::size_t size, off_t offset) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  return MoveAll(size, [&](std::size_t done) {
    return ::pwrite(fd, bytes + done, size - done, offset + static_cast<off_t>(done));
  });
}

bool ReadAllAt(int fd, void* data, std::size_t size, off_t offset) {
  auto* bytes = static_cast<unsigned char*>(data);
  return MoveAll(size, [&](std::size_t done) {
    return ::pread(fd, bytes + done, size - done, offset + static_cast<off_t>(done));
  });
}

namespace {

std::uint32_t LittleEndianBits(float value) {
  const auto bits = std::bit_cast<std::uint32_t>(value);
  if constexpr (std::endian::native == std::endian::little) return bits;
  return (bits >> 24) | ((bits >> 8) & 0x0000FF00u) | ((bits << 8) & 0x00FF0000u) | (bits << 24);
}

}  // namespace

void AppendFloatsLittleEndian(std::string& out, const SampleBuffer& samples, std::size_t first,
                              std::size_t count) {
  if (first > samples.size()) return;
  count = std::min(count, samples.size() - first);
  samples.ForEachSpan(first, count, [&](std::span<const float> span) {
    const std::size_t at = out.size();
    out.resize(at + span.size() * sizeof(float));
    char* target = out.data() + at;
    for (const float value : span) {
      const std::uint32_t bits = LittleEndianBits(value);
      std::memcpy(target, &bits, sizeof bits);
      target += sizeof bits;
    }
  });
}

bool WriteFloatsLittleEndian(int fd, const SampleBuffer& samples, std::size_t first,
                             std::size_t count) {
  if (first > samples.size() || count > samples.size() - first) return false;
  bool ok = true;
  std::vector<std::uint32_t> swapped;
  samples.ForEachSpan(first, count, [&](std::span<const float> span) {
    if (!ok) return;
    if constexpr (std::endian::native == std::endian::little) {
      ok = WriteAll(fd, span.data(), span.size() * sizeof(float));
    } else {
      swapped.resize(span.size());
      std::transform(span.begin(), span.end(), swapped.begin(), LittleEndianBits);
      ok = WriteAll(fd, swapped.data(), swapped.size() * sizeof(float));
    }
  });
  return ok;
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
