// Running the built converter end to end against a real test database: the program is linked
// into a folder of its own, so that a tarnvel.ini beside it affects only this test. The store
// below the test database's data directory is checked at the end of every test.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/e2e/store_checks.h"
#include "tests/support/converter_sandbox.h"
#include "tests/support/process.h"
#include "tests/support/test_database.h"

namespace tarnvel::testing {

class ConverterTest : public DatabaseTest, protected StoreExpectations {
 protected:
  void SetUp() override {
    DatabaseTest::SetUp();
    if (IsSkipped()) return;
    sandbox_.emplace(programDir_.path(), work_.path());
    WriteIni({});
  }
  void TearDown() override {
    if (!IsSkipped() && !StoreChecked()) CheckStore(db(), db().dataDir());
    DatabaseTest::TearDown();
  }

  // tarnvel.ini beside the program: the test database's source, user, password and data
  // directory, plus extra "[SECTION]\nKEY=value" text.
  void WriteIni(const std::string& extra) { WriteIni(extra, db().password()); }
  // The same with another password; an empty one leaves the key out.
  void WriteIni(const std::string& extra, const std::string& password) {
    WritePrivateFile(programDir_.path() / "tarnvel.ini",
                     "[DATABASE]\nODBC=" + db().dsn() + "\nUSER=" + db().user() + "\n" +
                         (password.empty() ? "" : "PASSWORD=" + password + "\n") +
                         "\n[DATA]\nDIR=" + db().dataDir().string() + "\n\n" + extra);
  }

  // Runs the converter beside the ini file (ConverterSandbox::Run).
  ProcessResult Run(const std::vector<std::string>& args,
                    const std::map<std::string, std::string>& variables = {}) {
    return sandbox_->Run(args, variables);
  }

  // The store checker beside the converter and its ini file (ConverterSandbox::RunCheck).
  ProcessResult RunCheck(const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& variables = {}) {
    return sandbox_->RunCheck(args, variables);
  }

  // A bash `script` in the same setting (ConverterSandbox::RunScript).
  ProcessResult RunScript(const std::string& script, const std::vector<std::string>& args) {
    return sandbox_->RunScript(script, args);
  }

  // A file in the test's working folder.
  std::filesystem::path Place(const std::string& name, const std::string& bytes) {
    const auto path = work_.path() / name;
    WriteFile(path, bytes);
    return path;
  }

  const TempDir& work() const { return work_; }
  // The folder of the program, where WINDIR points (so a qor.ini there is the one it reads).
  const std::filesystem::path& programDir() const { return programDir_.path(); }

 private:
  TempDir programDir_;
  TempDir work_;
  std::optional<ConverterSandbox> sandbox_;
};

}  // namespace tarnvel::testing
