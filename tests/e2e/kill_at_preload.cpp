// A preload library for the kill, stop and order tests (LD_PRELOAD): counts the calls through
// which the converter changes files and the database or brings them to stable storage, kills the
// process with SIGKILL right before a chosen one, stops it before the first call of a name, and
// writes down every such call in order, so a test can stop a conversion at every point where
// the store is half changed and check the order of its writes, syncs, renames and commits.
//
//   KILL_AT_CALL=N        kill before the Nth counted call
//   KILL_AT_COUNT=<file>  write the number of counted calls into <file> at exit
//   STOP_BEFORE=<name>    stop (SIGSTOP) before the first call of <name> ("fdatasync", "flock",
//                         "commit" or any traced name below); the test continues the process
//   FAIL_SYNCS=1          every fsync and fdatasync of a file below the folder FAIL_SYNCS_BELOW
//                         fails with EIO, as on a failing disk
//   LOSE_COMMIT_ANSWER=N  the Nth commit is carried out, then reported failed, as when the
//                         connection drops before the database's answer arrives
//   KILL_AT_TRACE=<file>  append one line per traced call to <file>:
//                           write <path> | pwrite <path> <offset> | ftruncate <path> <size> |
//                           rename <from> <to> | link <from> <to> | unlink <path> |
//                           mkdir <path> | fsync <path> | fdatasync <path> |
//                           sql <statement> | commit | rollback | flock <path> | debug <text>
//                         (paths absolute; "commit" and "rollback" for SQLEndTran and for the
//                         statements COMMIT and ROLLBACK alike; "debug" for syslog lines)
//
// Counted: SQLExecDirect, SQLEndTran, write, pwrite, ftruncate, renameat, renameat2, linkat,
// unlinkat, fsync, fdatasync.
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sql.h>
#include <sqlext.h>
#include <stdarg.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

namespace {

std::atomic<long> calls{0};
std::atomic<bool> stopped{false};
thread_local bool inside = false;  // the library's own calls are not traced

// Whether the answer of this commit is to be lost (LOSE_COMMIT_ANSWER).
bool LoseThisCommitAnswer() {
  static std::atomic<long> commits{0};
  static const long lose = [] {
    const char* text = std::getenv("LOSE_COMMIT_ANSWER");
    return text != nullptr ? std::atol(text) : 0L;
  }();
  return ++commits == lose;
}

long KillAt() {
  static const long at = [] {
    const char* text = std::getenv("KILL_AT_CALL");
    return text != nullptr ? std::atol(text) : 0L;
  }();
  return at;
}

template <typename Function>
Function Next(const char* name) {
  return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

// The path an open descriptor names, or "fd:<n>".
std::string PathOf(int fd) {
  char link[64];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  char target[4096];
  const ssize_t n = ::readlink(link, target, sizeof target - 1);
  if (n <= 0) return "fd:" + std::to_string(fd);
  return std::string(target, static_cast<std::size_t>(n));
}

std::string PathAt(int folder, const char* name) {
  if (name != nullptr && name[0] == '/') return name;
  std::string base = folder == AT_FDCWD ? std::string(".") : PathOf(folder);
  return base + "/" + (name != nullptr ? name : "");
}

void Trace(const std::string& line) {
  static const char* path = std::getenv("KILL_AT_TRACE");
  if (path == nullptr || inside) return;
  static std::mutex mutex;
  const std::lock_guard<std::mutex> lock(mutex);
  inside = true;
  static const auto write = Next<ssize_t (*)(int, const void*, size_t)>("write");
  const int fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd >= 0) {
    std::string text = line;
    for (char& c : text) {
      if (c == '\n' || c == '\r') c = ' ';
    }
    text += '\n';
    (void)write(fd, text.data(), text.size());
    ::close(fd);
  }
  inside = false;
}

// Before a call named `name`: stops the process before the first such call when asked to.
void MaybeStop(const char* name) {
  static const char* stopBefore = std::getenv("STOP_BEFORE");
  if (stopBefore == nullptr || inside || std::strcmp(stopBefore, name) != 0) return;
  if (!stopped.exchange(true)) ::kill(::getpid(), SIGSTOP);
}

// A counted call: traced, and the process killed right before it when it is the chosen one.
void Count(const char* name, const std::string& detail) {
  if (inside) return;
  MaybeStop(name);
  Trace(detail.empty() ? std::string(name) : std::string(name) + " " + detail);
  const long n = ++calls;
  if (n == KillAt()) ::kill(::getpid(), SIGKILL);
}

__attribute__((destructor)) void WriteCount() {
  const char* path = std::getenv("KILL_AT_COUNT");
  if (path == nullptr) return;
  inside = true;
  if (std::FILE* out = std::fopen(path, "w")) {
    std::fprintf(out, "%ld\n", calls.load());
    std::fclose(out);
  }
}

void TraceDebug(const char* format, va_list args) {
  char text[2048];
  std::vsnprintf(text, sizeof text, format, args);
  Trace(std::string("debug ") + text);
}

}  // namespace

extern "C" {

SQLRETURN SQL_API SQLExecDirect(SQLHSTMT statement, SQLCHAR* text, SQLINTEGER length) {
  static const auto next =
      Next<SQLRETURN(SQL_API*)(SQLHSTMT, SQLCHAR*, SQLINTEGER)>("SQLExecDirect");
  const std::string sql = text == nullptr     ? std::string()
                          : length == SQL_NTS ? std::string(reinterpret_cast<const char*>(text))
                                              : std::string(reinterpret_cast<const char*>(text),
                                                            static_cast<std::size_t>(length));
  if (sql == "COMMIT" || sql == "ROLLBACK") {
    Count(sql == "COMMIT" ? "commit" : "rollback", "");
  } else {
    Count("sql", sql);
  }
  const SQLRETURN rc = next(statement, text, length);
  if (sql == "COMMIT" && LoseThisCommitAnswer()) return SQL_ERROR;
  return rc;
}

SQLRETURN SQL_API SQLEndTran(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT completion) {
  static const auto next =
      Next<SQLRETURN(SQL_API*)(SQLSMALLINT, SQLHANDLE, SQLSMALLINT)>("SQLEndTran");
  Count(completion == SQL_COMMIT ? "commit" : "rollback", "");
  const SQLRETURN rc = next(type, handle, completion);
  if (completion == SQL_COMMIT && LoseThisCommitAnswer()) return SQL_ERROR;
  return rc;
}

ssize_t write(int fd, const void* data, size_t size) {
  static const auto next = Next<ssize_t (*)(int, const void*, size_t)>("write");
  // The console is no point at which the store changes.
  if (fd > 2) Count("write", PathOf(fd));
  return next(fd, data, size);
}

ssize_t pwrite(int fd, const void* data, size_t size, off_t offset) {
  static const auto next = Next<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite");
  Count("pwrite", PathOf(fd) + " " + std::to_string(offset));
  return next(fd, data, size, offset);
}

int ftruncate(int fd, off_t size) {
  static const auto next = Next<int (*)(int, off_t)>("ftruncate");
  Count("ftruncate", PathOf(fd) + " " + std::to_string(size));
  return next(fd, size);
}

int renameat(int fromFolder, const char* from, int toFolder, const char* to) {
  static const auto next = Next<int (*)(int, const char*, int, const char*)>("renameat");
  Count("rename", PathAt(fromFolder, from) + " " + PathAt(toFolder, to));
  return next(fromFolder, from, toFolder, to);
}

int renameat2(int fromFolder, const char* from, int toFolder, const char* to, unsigned flags) {
  static const auto next = Next<int (*)(int, const char*, int, const char*, unsigned)>("renameat2");
  Count("rename", PathAt(fromFolder, from) + " " + PathAt(toFolder, to));
  return next(fromFolder, from, toFolder, to, flags);
}

int linkat(int fromFolder, const char* from, int toFolder, const char* to, int flags) {
  static const auto next = Next<int (*)(int, const char*, int, const char*, int)>("linkat");
  Count("link", PathAt(fromFolder, from) + " " + PathAt(toFolder, to));
  return next(fromFolder, from, toFolder, to, flags);
}

int unlinkat(int folder, const char* name, int flags) {
  static const auto next = Next<int (*)(int, const char*, int)>("unlinkat");
  Count("unlink", PathAt(folder, name));
  return next(folder, name, flags);
}

int mkdirat(int folder, const char* name, mode_t mode) {
  static const auto next = Next<int (*)(int, const char*, mode_t)>("mkdirat");
  const int rc = next(folder, name, mode);
  if (rc == 0) Trace("mkdir " + PathAt(folder, name));
  return rc;
}

// Whether a sync of `fd` is to fail (FAIL_SYNCS).
bool FailsToSync(int fd) {
  static const char* below = std::getenv("FAIL_SYNCS_BELOW");
  if (std::getenv("FAIL_SYNCS") == nullptr || below == nullptr) return false;
  return PathOf(fd).rfind(below, 0) == 0;
}

// A sync call, counted; refused with EIO where FailsToSync says so.
static int CountedSync(const char* name, int (*next)(int), int fd) {
  Count(name, PathOf(fd));
  if (FailsToSync(fd)) {
    errno = EIO;
    return -1;
  }
  return next(fd);
}

int fsync(int fd) {
  static const auto next = Next<int (*)(int)>("fsync");
  return CountedSync("fsync", next, fd);
}

int fdatasync(int fd) {
  static const auto next = Next<int (*)(int)>("fdatasync");
  return CountedSync("fdatasync", next, fd);
}

// The function flock(2) shares its name with fcntl's struct flock.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wshadow"
int flock(int fd, int operation) {
  static const auto next = Next<int (*)(int, int)>("flock");
  MaybeStop("flock-before");
  const int rc = next(fd, operation);
  if (rc == 0 && (operation & LOCK_EX) != 0) {
    Trace("flock " + PathOf(fd));
    // Stopped right after the lock is taken, when asked for "flock".
    MaybeStop("flock");
  }
  return rc;
}
#pragma GCC diagnostic pop

void syslog(int /*priority*/, const char* format, ...) {
  va_list args;
  va_start(args, format);
  TraceDebug(format, args);
  va_end(args);
}

void __syslog_chk(int /*priority*/, int /*flag*/, const char* format, ...) {
  va_list args;
  va_start(args, format);
  TraceDebug(format, args);
  va_end(args);
}

}  // extern "C"
