#include "store/posix_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdint>
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

}  // namespace tarnvel
