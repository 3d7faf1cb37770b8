// A program run in the background while a test watches it: its standard output and standard
// error go to a file the test can read at any time, so the test can act in the middle of a run
// (stop a server, change the input file, stop and continue the process).
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/process.h"

extern char** environ;

namespace tarnvel::testing {

class BackgroundProcess {
 public:
  // Starts `program` with `args`, this process's environment plus `env` (an empty value removes
  // a variable), output into `outputFile`.
  BackgroundProcess(const std::string& program, const std::vector<std::string>& args,
                    const std::map<std::string, std::string>& env, std::filesystem::path outputFile)
      : outputFile_(std::move(outputFile)) {
    SpawnArguments spawn(program, args, env);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outputFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    const int rc =
        posix_spawn(&pid_, program.c_str(), &actions, nullptr, spawn.argv(), spawn.envp());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("cannot start " + program);
  }

  ~BackgroundProcess() {
    if (!finished_) {
      ::kill(pid_, SIGKILL);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
  }
  BackgroundProcess(const BackgroundProcess&) = delete;
  BackgroundProcess& operator=(const BackgroundProcess&) = delete;

  pid_t pid() const { return pid_; }
  std::string Output() const { return ReadFile(outputFile_); }

  // Whether the process has ended (collecting its code when it has).
  bool Finished() {
    if (finished_) return true;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) Collect(status);
    return finished_;
  }

  // Waits until the process ends; a process that is still running after `guard` is killed and
  // counted as hung (exit code -1000), so a hang fails the test instead of stalling the suite.
  int Wait(std::chrono::seconds guard = std::chrono::seconds(120)) {
    const auto deadline = std::chrono::steady_clock::now() + guard;
    while (!Finished()) {
      if (std::chrono::steady_clock::now() > deadline) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        finished_ = true;
        exitCode_ = -1000;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return exitCode_;
  }

  // Polls the output until `ready` holds for it; false when the process ended first or after
  // `guard`.
  bool WaitForOutput(const std::function<bool(const std::string&)>& ready,
                     std::chrono::seconds guard = std::chrono::seconds(60)) {
    const auto deadline = std::chrono::steady_clock::now() + guard;
    while (std::chrono::steady_clock::now() < deadline) {
      if (ready(Output())) return true;
      if (Finished()) return ready(Output());
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
  }

 private:
  void Collect(int status) {
    finished_ = true;
    exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1000;
  }

  std::filesystem::path outputFile_;
  pid_t pid_ = -1;
  bool finished_ = false;
  int exitCode_ = -1000;
};

}  // namespace tarnvel::testing
