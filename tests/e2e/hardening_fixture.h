// Running the built converter under hostile conditions: everything of a test (program folder,
// working folder, data directory) lies below one root folder, so that a test can see every
// file a run leaves anywhere in it; runs can be made as an unprivileged user. The store below
// the data directory the test last handed to a run is checked at the end of every test.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/e2e/background_process.h"
#include "tests/e2e/store_checks.h"
#include "tests/support/converter_sandbox.h"
#include "tests/support/process.h"
#include "tests/support/test_database.h"

namespace tarnvel::testing {

// The account of nobody: no files of the test belong to it.
inline constexpr int kUnprivilegedId = 65534;

class HardeningTest : public DatabaseTest, protected StoreExpectations {
 protected:
  void SetUp() override {
    DatabaseTest::SetUp();
    if (IsSkipped()) return;
    sandbox_.emplace(root() / "program", root() / "work");
    storeDir_ = root() / "data";
  }
  void TearDown() override {
    if (!IsSkipped() && !StoreChecked()) CheckStore(db(), storeDir_);
    DatabaseTest::TearDown();
  }

  // The data directory checked at the end (for runs that take it from an ini file).
  void UseStoreDir(const std::filesystem::path& dataDir) { storeDir_ = dataDir; }
  const std::filesystem::path& StoreDir() const { return storeDir_; }

  const std::filesystem::path& root() const { return root_.path(); }
  const std::filesystem::path& programDir() const { return sandbox_->programDir(); }
  const std::filesystem::path& workDir() const { return sandbox_->workDir(); }
  std::filesystem::path Program() const { return sandbox_->Program(); }

  // The connection values of the test database and a data directory, as arguments.
  std::vector<std::string> ConnectionArgs(const std::filesystem::path& dataDir) {
    storeDir_ = dataDir;
    return {"ODBC=" + db().dsn(), "USER=" + db().user(), "PASSWORD=" + db().password(),
            "DATA=" + dataDir.string()};
  }

  std::map<std::string, std::string> Environment(const std::string& timeZone = "UTC") const {
    return sandbox_->Environment(timeZone);
  }

  // The converter with `args` alone (settings from the ini files); `variables` go on top of
  // Environment().
  ProcessResult Run(const std::vector<std::string>& args,
                    const std::map<std::string, std::string>& variables = {}) {
    return sandbox_->Run(args, variables);
  }

  // `seed` and `args` after it, with the connection values of the test database.
  ProcessResult Convert(const std::filesystem::path& seed, const std::filesystem::path& dataDir,
                        std::vector<std::string> args = {}) {
    std::vector<std::string> all{seed.string()};
    for (auto& arg : ConnectionArgs(dataDir)) all.push_back(arg);
    all.insert(all.end(), args.begin(), args.end());
    return sandbox_->Run(all);
  }

  std::unique_ptr<BackgroundProcess> StartConvert(const std::filesystem::path& seed,
                                                  const std::filesystem::path& dataDir,
                                                  const std::string& outputName) {
    std::vector<std::string> all{seed.string()};
    for (auto& arg : ConnectionArgs(dataDir)) all.push_back(arg);
    return std::make_unique<BackgroundProcess>(Program().string(), all, Environment(),
                                               workDir() / outputName);
  }

  // Runs the converter as the unprivileged account; the test's folders and the test database
  // are opened up to it first (the data directory keeps its own permissions).
  ProcessResult RunUnprivileged(const std::vector<std::string>& args) {
    namespace fs = std::filesystem;
    const auto open = fs::perms(0755);
    fs::permissions(root(), open);
    fs::permissions(programDir(), open);
    fs::permissions(workDir(), open);
    fs::permissions(TestDatabase::Environment().at("ODBCSYSINI"), open);
    if (db().kind() == DatabaseKind::kSqlite) {
      fs::permissions(db().folder(), fs::perms(0777));
      fs::permissions(db().folder() / "qor.db", fs::perms(0666));
    }
    std::vector<std::string> all{"--reuid=" + std::to_string(kUnprivilegedId),
                                 "--regid=" + std::to_string(kUnprivilegedId), "--clear-groups",
                                 Program().string()};
    all.insert(all.end(), args.begin(), args.end());
    return RunProgram("/usr/bin/setpriv", all, Environment(), workDir());
  }

  static std::string UnprivilegedUnavailable() {
    if (::geteuid() != 0) return "runs as another user need root";
    if (!std::filesystem::exists("/usr/bin/setpriv")) return "setpriv (util-linux) is missing";
    return {};
  }

 private:
  TempDir root_;
  std::optional<ConverterSandbox> sandbox_;
  std::filesystem::path storeDir_;
};

}  // namespace tarnvel::testing
