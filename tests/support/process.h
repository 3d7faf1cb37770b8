// Running the built programs from tests, and temporary folders.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace tarnvel::testing {

struct ProcessResult {
  int exitCode = -1000;  // the low 8 bits as the shell sees them; -1000 when it did not exit
  std::string output;    // standard output and standard error, in the order written
};

// This process's environment with `env` applied (an empty value removes a variable), as
// "KEY=value" texts.
std::vector<std::string> MergedEnvironment(const std::map<std::string, std::string>& env);

// The argument and environment arrays posix_spawn takes, over texts this object owns.
class SpawnArguments {
 public:
  SpawnArguments(const std::string& program, const std::vector<std::string>& args,
                 const std::map<std::string, std::string>& env);
  char* const* argv() { return argv_.data(); }
  char* const* envp() { return envp_.data(); }

 private:
  std::vector<std::string> argText_;
  std::vector<std::string> envText_;
  std::vector<char*> argv_;
  std::vector<char*> envp_;
};

// Runs `program` with `args`, the environment of this process plus `env` (an empty value
// removes a variable), in `workDir` when given, with stdin from /dev/null.
ProcessResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& env = {},
                         const std::filesystem::path& workDir = {});

// Whether process `pid` waits for a file lock (flock) right now: a waiting entry of it in
// /proc/locks.
bool WaitsForAFileLock(int pid);
// Polls WaitsForAFileLock until it holds, for at most `seconds`; false when it never did.
bool WaitUntilWaitingForAFileLock(int pid, int seconds = 30);
// Whether process `pid` holds a file lock (flock) right now.
bool HoldsAFileLock(int pid);
// Whether process `pid` is stopped (by SIGSTOP).
bool IsStopped(int pid);

// A fresh folder removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const std::string& content);
// The same for a file that holds a password (an ini file): readable by its owner only.
void WritePrivateFile(const std::filesystem::path& path, const std::string& content);
// A file of the project's test data (tests/data/...).
std::filesystem::path TestData(const std::string& name);
// The built converter.
std::string ConverterPath();

}  // namespace tarnvel::testing
