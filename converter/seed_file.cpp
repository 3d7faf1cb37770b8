#include "converter/seed_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tarnvel {

SeedFile::~SeedFile() {
  Close();
}

bool SeedFile::Open(const std::string& path) {
  Close();
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) return false;
  struct stat info {};
  if (fstat(fd_, &info) == 0 && S_ISDIR(info.st_mode)) {
    Close();
    errno = EISDIR;
    return false;
  }
  position_ = 0;
  aheadBegin_ = aheadEnd_ = 0;
  pendingError_ = 0;
  seekable_ = lseek(fd_, 0, SEEK_CUR) >= 0;
  keepingStart_ = !seekable_;
  startLost_ = false;
  return true;
}

void SeedFile::Close() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

bool SeedFile::Refill() {
  std::size_t at = 0;
  if (keepingStart_) {
    // Append behind the bytes kept so far instead of overwriting them.
    at = aheadEnd_;
    if (at + kReadAhead > kKeptForRewind) {
      keepingStart_ = false;
      startLost_ = true;
      at = 0;
    } else if (ahead_.size() < at + kReadAhead) {
      ahead_.resize(at + kReadAhead);
    }
  }
  if (ahead_.empty()) ahead_.resize(kReadAhead);
  aheadBegin_ = aheadEnd_ = at;
  ssize_t n;
  do {
    n = ::read(fd_, ahead_.data() + at, ahead_.size() - at);
  } while (n < 0 && errno == EINTR);
  if (n < 0) pendingError_ = errno;
  if (n <= 0) return false;
  aheadEnd_ = at + static_cast<std::size_t>(n);
  return true;
}

long SeedFile::Read(void* buffer, std::size_t size) {
  auto* out = static_cast<unsigned char*>(buffer);
  std::size_t done = 0;
  while (done < size) {
    if (aheadBegin_ == aheadEnd_ && (pendingError_ != 0 || !Refill())) break;
    const std::size_t take = std::min(size - done, aheadEnd_ - aheadBegin_);
    std::memcpy(out + done, ahead_.data() + aheadBegin_, take);
    aheadBegin_ += take;
    done += take;
  }
  if (done == 0 && pendingError_ != 0) {
    errno = pendingError_;
    pendingError_ = 0;
    return -1;
  }
  position_ += static_cast<std::int64_t>(done);
  return static_cast<long>(done);
}

std::int64_t SeedFile::Size() const {
  struct stat info {};
  if (fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) return -1;
  return static_cast<std::int64_t>(info.st_size);
}

bool SeedFile::Rewind() {
  if (seekable_) {
    if (lseek(fd_, 0, SEEK_SET) != 0) return false;
    aheadBegin_ = aheadEnd_ = 0;
  } else {
    if (startLost_) {
      errno = ESPIPE;
      return false;
    }
    // Everything read so far is still in the buffer, from its first byte on: serve it again,
    // then go on reading where the input stands.
    keepingStart_ = false;
    aheadBegin_ = 0;
  }
  position_ = 0;
  pendingError_ = 0;
  return true;
}

}  // namespace tarnvel
