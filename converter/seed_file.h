// The SEED file being converted: raw reads, one call per request, closed when the object goes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

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

  // One read call; the bytes read, 0 at the end, -1 on failure (errno set).
  long Read(void* buffer, std::size_t size);
  // Length of the file in bytes, -1 on failure.
  std::int64_t Size() const;
  bool Rewind();
  // Bytes read since the last rewind.
  std::int64_t Position() const { return position_; }

 private:
  int fd_ = -1;
  std::int64_t position_ = 0;
};

}  // namespace tarnvel
