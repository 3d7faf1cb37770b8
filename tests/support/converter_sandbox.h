// The built converter (and the store checker beside it) linked into a folder of its own, so that a
// tarnvel.ini or qor.ini a test puts beside it affects only that test (the machine's
// /etc/tarnvel.ini never takes part), and the setting its runs get: the test databases' ODBC
// configuration, a time zone, a UTF-8 locale, no QOR folder and WINDIR at the program's folder.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/support/process.h"

namespace tarnvel::testing {

// The exit status a run with the return code `signedCode` shows (its low 8 bits).
inline int Code(int signedCode) {
  return signedCode & 0xff;
}

class ConverterSandbox {
 public:
  // Creates both folders when missing, links the converter into `programDir` and gives it an
  // empty tarnvel.ini; runs start in `workDir`.
  ConverterSandbox(std::filesystem::path programDir, std::filesystem::path workDir);

  const std::filesystem::path& programDir() const { return programDir_; }
  const std::filesystem::path& workDir() const { return workDir_; }
  std::filesystem::path Program() const { return programDir_ / "tarnvel"; }
  std::filesystem::path Checker() const { return programDir_ / "tarnvel-check"; }

  // The environment of a run, on top of this process's own (an empty value removes a variable).
  std::map<std::string, std::string> Environment(const std::string& timeZone = "UTC") const;

  // Runs the converter with `args` in the working folder; `variables` go on top of
  // Environment().
  ProcessResult Run(const std::vector<std::string>& args,
                    const std::map<std::string, std::string>& variables = {}) const;

  // Runs the store checker the same way: beside the same tarnvel.ini, in the same setting.
  ProcessResult RunCheck(const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& variables = {}) const;

  // Runs a bash `script` in the same setting, with the program as "$1" and `args` after it: for
  // input that arrives through pipes, FIFOs and process substitution.
  ProcessResult RunScript(const std::string& script, const std::vector<std::string>& args) const;

 private:
  std::filesystem::path programDir_;
  std::filesystem::path workDir_;
};

}  // namespace tarnvel::testing
