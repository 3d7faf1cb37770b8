#include "tests/support/process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>

extern char** environ;

namespace tarnvel::testing {

std::vector<std::string> MergedEnvironment(const std::map<std::string, std::string>& env) {
  std::map<std::string, std::string> merged;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry(*e);
    const auto eq = entry.find('=');
    if (eq != std::string::npos) merged[entry.substr(0, eq)] = entry.substr(eq + 1);
  }
  for (const auto& [key, value] : env) {
    if (value.empty()) {
      merged.erase(key);
    } else {
      merged[key] = value;
    }
  }
  std::vector<std::string> envText;
  for (const auto& [key, value] : merged) envText.push_back(key + "=" + value);
  return envText;
}

SpawnArguments::SpawnArguments(const std::string& program, const std::vector<std::string>& args,
                               const std::map<std::string, std::string>& env)
    : argText_{program}, envText_(MergedEnvironment(env)) {
  argText_.insert(argText_.end(), args.begin(), args.end());
  for (auto& text : argText_) argv_.push_back(text.data());
  argv_.push_back(nullptr);
  for (auto& text : envText_) envp_.push_back(text.data());
  envp_.push_back(nullptr);
}

ProcessResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& env,
                         const std::filesystem::path& workDir) {
  SpawnArguments spawn(program, args, env);

  int pipeFds[2];
  if (pipe(pipeFds) != 0) throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  posix_spawn_file_actions_addclose(&actions, pipeFds[1]);
  if (!workDir.empty()) posix_spawn_file_actions_addchdir_np(&actions, workDir.c_str());

  pid_t pid = 0;
  const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, spawn.argv(), spawn.envp());
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  ProcessResult result;
  if (rc != 0) {
    close(pipeFds[0]);
    result.output = std::string("spawn failed: ") + std::strerror(rc);
    return result;
  }
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(pipeFds[0], buffer, sizeof buffer);
    if (n <= 0) break;
    result.output.append(buffer, static_cast<std::size_t>(n));
  }
  close(pipeFds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  return result;
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tarnvel-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteFile(const std::filesystem::path& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

void WritePrivateFile(const std::filesystem::path& path, const std::string& content) {
  // Created empty and closed to others before the secret goes in.
  WriteFile(path, "");
  std::filesystem::permissions(
      path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  WriteFile(path, content);
}

std::filesystem::path TestData(const std::string& name) {
  return std::filesystem::path(TARNVEL_SOURCE_DIR) / "tests" / "data" / name;
}

std::string ConverterPath() {
  return TARNVEL_BIN;
}

namespace {

// Whether /proc/locks has a flock line of `pid`, waiting ("3: -> FLOCK  ADVISORY  WRITE 4711
// fd:01:1234 0 EOF") or held ("3: FLOCK  ADVISORY  WRITE 4711 ...").
bool HasFileLockLine(int pid, bool waiting) {
  std::ifstream locks("/proc/locks");
  const std::string mine = " " + std::to_string(pid) + " ";
  const std::string kind = waiting ? ": -> FLOCK " : ": FLOCK ";
  for (std::string line; std::getline(locks, line);) {
    if (line.find(kind) != std::string::npos && line.find(mine) != std::string::npos) return true;
  }
  return false;
}

}  // namespace

bool WaitsForAFileLock(int pid) {
  return HasFileLockLine(pid, true);
}

bool HoldsAFileLock(int pid) {
  return HasFileLockLine(pid, false);
}

bool IsStopped(int pid) {
  // "<pid> (<name>) <state> ...": the state follows the last ')'.
  const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
  const std::size_t close = stat.rfind(')');
  return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'T';
}

bool WaitUntilWaitingForAFileLock(int pid, int seconds) {
  for (int i = 0; i < seconds * 1000; ++i) {
    if (WaitsForAFileLock(pid)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

}  // namespace tarnvel::testing
