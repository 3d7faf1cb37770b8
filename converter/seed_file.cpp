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
  return true;
}

void SeedFile::Close() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

bool SeedFile::Refill() {
  if (ahead_.empty()) ahead_.resize(kReadAhead);
  aheadBegin_ = aheadEnd_ = 0;
  ssize_t n;
  do {
    n = ::read(fd_, ahead_.data(), ahead_.size());
  } while (n < 0 && errno == EINTR);
  if (n < 0) pendingError_ = errno;
  if (n <= 0) return false;
  aheadEnd_ = static_cast<std::size_t>(n);
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
  if (fstat(fd_, &info) != 0) return -1;
  return static_cast<std::int64_t>(info.st_size);
}

bool SeedFile::Rewind() {
  if (lseek(fd_, 0, SEEK_SET) != 0) return false;
  position_ = 0;
  aheadBegin_ = aheadEnd_ = 0;
  pendingError_ = 0;
  return true;
}

}  // namespace tarnvel
