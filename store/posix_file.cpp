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

bool WriteAll(int fd, const void* data, std::size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd, bytes, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    bytes += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool WriteAllAt(int fd, const void* data, std::size_t size, off_t offset) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (size > 0) {
    const ssize_t n = ::pwrite(fd, bytes, size, offset);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    bytes += n;
    size -= static_cast<std::size_t>(n);
    offset += n;
  }
  return true;
}

bool ReadAllAt(int fd, void* data, std::size_t size, off_t offset) {
  auto* bytes = static_cast<unsigned char*>(data);
  while (size > 0) {
    const ssize_t n = ::pread(fd, bytes, size, offset);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    bytes += n;
    size -= static_cast<std::size_t>(n);
    offset += n;
  }
  return true;
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
