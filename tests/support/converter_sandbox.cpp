#include "tests/support/converter_sandbox.h"

#include "tests/support/test_database.h"

namespace tarnvel::testing {

ConverterSandbox::ConverterSandbox(std::filesystem::path programDir, std::filesystem::path workDir)
    : programDir_(std::move(programDir)), workDir_(std::move(workDir)) {
  std::filesystem::create_directories(programDir_);
  std::filesystem::create_directories(workDir_);
  std::filesystem::create_symlink(ConverterPath(), Program());
  std::filesystem::create_symlink(CheckerPath(), Checker());
  WriteFile(programDir_ / "tarnvel.ini", "");
}

std::map<std::string, std::string> ConverterSandbox::Environment(
    const std::string& timeZone) const {
  std::map<std::string, std::string> env = TestDatabase::Environment();
  env["TZ"] = timeZone;
  env["LC_ALL"] = "C.UTF-8";
  env["QOR"] = "";
  env["WINDIR"] = programDir_.string();  // no qor.ini unless a test puts one there
  return env;
}

ProcessResult ConverterSandbox::Run(const std::vector<std::string>& args,
                                    const std::map<std::string, std::string>& variables) const {
  std::map<std::string, std::string> env = Environment();
  for (const auto& [name, value] : variables) env[name] = value;
  return RunProgram(Program().string(), args, env, workDir_);
}

ProcessResult ConverterSandbox::RunCheck(
    const std::vector<std::string>& args,
    const std::map<std::string, std::string>& variables) const {
  std::map<std::string, std::string> env = Environment();
  for (const auto& [name, value] : variables) env[name] = value;
  return RunProgram(Checker().string(), args, env, workDir_);
}

ProcessResult ConverterSandbox::RunScript(const std::string& script,
                                          const std::vector<std::string>& args) const {
  std::vector<std::string> all{"-c", script, "bash", Program().string()};
  all.insert(all.end(), args.begin(), args.end());
  return RunProgram("/bin/bash", all, Environment(), workDir_);
}

}  // namespace tarnvel::testing
