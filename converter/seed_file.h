// The SEED file being converted: raw reads served from a read-ahead buffer, so that reading a
// file record by record costs one system call per buffer rather than one per record; closed
// when the object goes.
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
  // Length of the file in bytes, -1 on failure.
  std::int64_t Size() const;
  bool Rewind();
  // Bytes read since the last rewind.
  std::int64_t Position() const { return position_; }

 private:
  static constexpr std::size_t kReadAhead = std::size_t{1} << 18;

  // One read call into the read-ahead buffer; false at the end or on failure.
  bool Refill();

  int fd_ = -1;
  std::int64_t position_ = 0;
  std::vector<unsigned char> ahead_;
  std::size_t aheadBegin_ = 0;  // first unread byte of ahead_
  std::size_t aheadEnd_ = 0;    // end of the bytes read into ahead_
  int pendingError_ = 0;        // a failure met after some bytes were already returned
};

}  // namespace tarnvel
