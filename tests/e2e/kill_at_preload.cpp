// A preload library for the kill test (LD_PRELOAD): counts the calls through which the
// converter changes files and the database, and kills the process with SIGKILL right before a
// chosen one, so a test can stop a conversion at every point where the store is half changed.
//
//   KILL_AT_CALL=N        kill before the Nth counted call
//   KILL_AT_COUNT=<file>  write the number of counted calls into <file> at exit
//
// Counted: SQLExecDirect, write, pwrite, ftruncate, renameat, renameat2, linkat, unlinkat.
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sql.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace {

std::atomic<long> calls{0};

long KillAt() {
  static const long at = [] {
    const char* text = std::getenv("KILL_AT_CALL");
    return text != nullptr ? std::atol(text) : 0L;
  }();
  return at;
}

void Count() {
  const long n = ++calls;
  if (n == KillAt()) ::kill(::getpid(), SIGKILL);
}

template <typename Function>
Function Next(const char* name) {
  return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

__attribute__((destructor)) void WriteCount() {
  const char* path = std::getenv("KILL_AT_COUNT");
  if (path == nullptr) return;
  if (std::FILE* out = std::fopen(path, "w")) {
    std::fprintf(out, "%ld\n", calls.load());
    std::fclose(out);
  }
}

}  // namespace

extern "C" {

SQLRETURN SQL_API SQLExecDirect(SQLHSTMT statement, SQLCHAR* text, SQLINTEGER length) {
  static const auto next =
      Next<SQLRETURN(SQL_API*)(SQLHSTMT, SQLCHAR*, SQLINTEGER)>("SQLExecDirect");
  Count();
  return next(statement, text, length);
}

ssize_t write(int fd, const void* data, size_t size) {
  static const auto next = Next<ssize_t (*)(int, const void*, size_t)>("write");
  // The console is no point at which the store changes.
  if (fd > 2) Count();
  return next(fd, data, size);
}

ssize_t pwrite(int fd, const void* data, size_t size, off_t offset) {
  static const auto next = Next<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite");
  Count();
  return next(fd, data, size, offset);
}

int ftruncate(int fd, off_t size) {
  static const auto next = Next<int (*)(int, off_t)>("ftruncate");
  Count();
  return next(fd, size);
}

int renameat(int fromFolder, const char* from, int toFolder, const char* to) {
  static const auto next = Next<int (*)(int, const char*, int, const char*)>("renameat");
  Count();
  return next(fromFolder, from, toFolder, to);
}

int renameat2(int fromFolder, const char* from, int toFolder, const char* to, unsigned flags) {
  static const auto next = Next<int (*)(int, const char*, int, const char*, unsigned)>("renameat2");
  Count();
  return next(fromFolder, from, toFolder, to, flags);
}

int linkat(int fromFolder, const char* from, int toFolder, const char* to, int flags) {
  static const auto next = Next<int (*)(int, const char*, int, const char*, int)>("linkat");
  Count();
  return next(fromFolder, from, toFolder, to, flags);
}

int unlinkat(int folder, const char* name, int flags) {
  static const auto next = Next<int (*)(int, const char*, int)>("unlinkat");
  Count();
  return next(folder, name, flags);
}

}  // extern "C"
