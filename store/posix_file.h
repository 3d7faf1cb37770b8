// Owned file descriptors and complete writes: every write of a waveform or CSS file goes
// through here so that a short write (disk full, file-size limit, I/O error) is never taken
// for success. And bringing written files to stable storage.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include "seed/sample_buffer.h"

namespace tarnvel {

class FileDescriptor {
 public:
  FileDescriptor() = default;
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() { Close(); }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  FileDescriptor& operator=(FileDescriptor&& other) noexcept;

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  // Closes the descriptor; false when close reported an error (a delayed write failure).
  bool Close();

 private:
  int fd_ = -1;
};

// open(2) with O_CLOEXEC, retried on EINTR.
FileDescriptor OpenFile(const std::string& path, int flags, mode_t mode = 0666);

// Writes all `size` bytes, retrying interrupted and partial writes; false on any failure.
bool WriteAll(int fd, const void* data, std::size_t size);

// pwrite/pread of all `size` bytes at `offset`, retrying interrupted and partial transfers;
// false on any failure (for reading also at the end of the file).
bool WriteAllAt(int fd, const void* data, std::size_t size, off_t offset);
bool ReadAllAt(int fd, void* data, std::size_t size, off_t offset);

// Appends `count` samples from `first` to `out` as 4-byte IEEE floats in little-endian order.
void AppendFloatsLittleEndian(std::string& out, const SampleBuffer& samples, std::size_t first,
                              std::size_t count);

// Writes `count` samples from `first` as 4-byte IEEE floats in little-endian order.
bool WriteFloatsLittleEndian(int fd, const SampleBuffer& samples, std::size_t first,
                             std::size_t count);

// ---- stable storage ----
// What a run reports as written must survive a power cut: file data is synced before anything
// that points to it is written, and a new folder entry (a created or linked file) before
// anything that names it.

// fdatasync(2), retried when interrupted; false on failure (the data may not be on disk).
bool SyncFileData(int fd);

// SyncFileData of every descriptor, several at a time: the file system then puts many of them on
// the disk with one journal commit instead of one each. Element i tells whether fds[i] synced.
std::vector<bool> SyncFilesData(std::span<const int> fds);

// fsync(2) of a folder, so that the entries made in it last; false when it cannot be opened or
// synced. "" is the working folder.
bool SyncFolder(const std::string& folder);

// Starts writing `length` bytes from `offset` (0: to the end of the file) back to the disk
// without waiting for it, so that a later SyncFileData finds little left to do. Best effort.
void StartWriteBack(int fd, off_t offset, off_t length);

}  // namespace tarnvel
