// A preload library for the durability tests (LD_PRELOAD): records, in their order, the calls
// through which the converter writes, links and syncs files, and can make syncing chosen files
// fail, so that a test sees what reaches the disk before what.
//
//   SYNC_TRACE=<file>  appends one line per call to <file>: "<call> <path>", the call one of
//                      write, pwrite, linkat, fdatasync, fsync; the path as /proc/self/fd names
//                      the descriptor (the new name for linkat)
//   SYNC_FAIL=<text>   fdatasync and fsync of a path containing <text> fail with EIO
//
// Writes to the console (descriptors 0 to 2) are not recorded.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

template <typename Function>
Function Next(const char* name) {
  return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

ssize_t RealWrite(int fd, const void* data, size_t size) {
  static const auto next = Next<ssize_t (*)(int, const void*, size_t)>("write");
  return next(fd, data, size);
}

int TraceFile() {
  static const int fd = [] {
    const char* path = std::getenv("SYNC_TRACE");
    return path != nullptr ? ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644) : -1;
  }();
  return fd;
}

std::string PathOf(int fd) {
  char link[64];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  char path[4096];
  const ssize_t n = ::readlink(link, path, sizeof path);
  return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string("?");
}

void Record(const char* call, const std::string& path) {
  const int trace = TraceFile();
  if (trace < 0) return;
  const std::string line = std::string(call) + " " + path + "\n";
  const int saved = errno;
  RealWrite(trace, line.data(), line.size());  // one append: lines of two threads never mix
  errno = saved;
}

// Records a sync of `fd`; true when it is to fail.
bool SyncFails(const char* call, int fd) {
  const std::string path = PathOf(fd);
  Record(call, path);
  const char* fail = std::getenv("SYNC_FAIL");
  return fail != nullptr && *fail != '\0' && path.find(fail) != std::string::npos;
}

// A sync call, recorded; refused with EIO where SyncFails says so.
int SyncOrFail(const char* call, int (*next)(int), int fd) {
  if (SyncFails(call, fd)) {
    errno = EIO;
    return -1;
  }
  return next(fd);
}

}  // namespace

extern "C" {

ssize_t write(int fd, const void* data, size_t size) {
  if (fd > 2 && fd != TraceFile()) Record("write", PathOf(fd));
  return RealWrite(fd, data, size);
}

ssize_t pwrite(int fd, const void* data, size_t size, off_t offset) {
  static const auto next = Next<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite");
  Record("pwrite", PathOf(fd));
  return next(fd, data, size, offset);
}

int linkat(int fromFolder, const char* from, int toFolder, const char* to, int flags) {
  static const auto next = Next<int (*)(int, const char*, int, const char*, int)>("linkat");
  const int rc = next(fromFolder, from, toFolder, to, flags);
  if (rc == 0) Record("linkat", to);
  return rc;
}

int fdatasync(int fd) {
  static const auto next = Next<int (*)(int)>("fdatasync");
  return SyncOrFail("fdatasync", next, fd);
}

int fsync(int fd) {
  static const auto next = Next<int (*)(int)>("fsync");
  return SyncOrFail("fsync", next, fd);
}

}  // extern "C"
