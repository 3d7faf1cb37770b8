// Runs a program and reports its wall time and peak memory, for the whole-program benchmarks.
//
//   measure_tool RESULT_FILE PROGRAM [ARGS...]
//
// The child's standard output and error pass through. RESULT_FILE gets one line:
//   wall_seconds user_seconds system_seconds max_rss_kib exit_status
// where max_rss_kib is the child's peak resident set (wait4) and exit_status its exit code (or
// 128 + signal). The tool's own exit code is the child's.
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

namespace {

double Seconds(const timeval& t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
}

double Now() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s RESULT_FILE PROGRAM [ARGS...]\n", argv[0]);
    return 2;
  }
  std::fflush(nullptr);
  const double begin = Now();
  const pid_t child = fork();
  if (child < 0) {
    std::perror("fork");
    return 2;
  }
  if (child == 0) {
    execvp(argv[2], argv + 2);
    std::perror(argv[2]);
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  pid_t done;
  do {
    done = wait4(child, &status, 0, &usage);
  } while (done < 0 && errno == EINTR);
  const double wall = Now() - begin;
  if (done < 0) {
    std::perror("wait4");
    return 2;
  }
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  std::FILE* result = std::fopen(argv[1], "w");
  if (result == nullptr) {
    std::perror(argv[1]);
    return 2;
  }
  std::fprintf(result, "%.6f %.6f %.6f %ld %d\n", wall, Seconds(usage.ru_utime),
               Seconds(usage.ru_stime), usage.ru_maxrss, code);
  std::fclose(result);
  return code;
}
