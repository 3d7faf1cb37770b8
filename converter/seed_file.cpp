#include "converter/seed_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

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
  return true;
}

void SeedFile::Close() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

long SeedFile::Read(void* buffer, std::size_t size) {
  ssize_t n;
  do {
    n = ::read(fd_, buffer, size);
  } while (n < 0 && errno == EINTR);
  if (n > 0) position_ += n;
  return static_cast<long>(n);
}

std::int64_t SeedFile::Size() const {
  struct stat info {};
  if (fstat(fd_, &info) != 0) return -1;
  return static_cast<std::int64_t>(info.st_size);
}

bool SeedFile::Rewind() {
  if (lseek(fd_, 0, SEEK_SET) != 0) return false;
  position_ = 0;
  return true;
}

}  // namespace tarnvel
