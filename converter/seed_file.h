// The SEED file being converted: raw reads served from a read-ahead buffer, so that reading a
// file record by record costs one system call per buffer rather than one per record; closed
// when the object goes. Input that cannot be sought (a pipe, a FIFO, process substitution) is
// read the same way; its first bytes are kept until the first rewind, which serves them again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tarnvel {

class SeedFile {
 public:
  SeedFile() = default;
  ~SeedFile();
  SeedFile(const SeedFile&) = delete;
  SeedFile& operator=(const SeedFile&) = delete;

  // False with errno set when the file does not open for reading.
  bool Open(const std::string& path);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }

  // Up to `size` bytes; fewer only at the end of the file or before a failure. The bytes read,
  // 0 at the end, -1 on failure (errno set).
  long Read(void* buffer, std::size_t size);
  // Length of the file in bytes; -1 when the input has no length (a pipe, a FIFO, a device) or
  // on failure.
  std::int64_t Size() const;
  // Back to the first byte. False with errno set when the input cannot be sought and more was
  // read from it than is kept for this.
  bool Rewind();
  // Bytes read since the last rewind.
  std::int64_t Position() const { return position_; }

 private:
  static constexpr std::size_t kReadAhead = std::size_t{1} << 20;
  // What input that cannot be sought keeps for its rewind; more than record length detection
  // reads.
  static constexpr std::size_t kKeptForRewind = std::size_t{4} << 20;

  // One read call into the read-ahead buffer; false at the end or on failure.
  bool Refill();

  int fd_ = -1;
  std::int64_t position_ = 0;
  std::vector<unsigned char> ahead_;
  std::size_t aheadBegin_ = 0;  // first unread byte of ahead_
  std::size_t aheadEnd_ = 0;    // end of the bytes read into ahead_
  int pendingError_ = 0;        // a failure met after some bytes were already returned
  bool seekable_ = true;
  // Input that cannot be sought, before its first rewind: ahead_ holds every byte from the
  // first on. Cleared at the rewind, or when the kept bytes would outgrow kKeptForRewind.
  bool keepingStart_ = false;
  bool startLost_ = false;  // the first bytes were not kept: no rewind is possible
};

}  // namespace tarnvel
