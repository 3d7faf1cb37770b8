// Real QOR test databases (SQLite through its ODBC driver, PostgreSQL through psqlODBC), each
// fresh and empty, reached through a project-local ODBC configuration.
//
// Typical use in a test parameterised over both databases:
//
//   class MyTest : public tarnvel::testing::DatabaseTest {};
//   TEST_P(MyTest, Something) {
//     db().Execute("insert into SITECHAN(STA,CHAN,SPS) values('ABC','BHZ',20)");
//     WaveformStore store;
//     ConfigureStore(store);              // odbc/user/password/data options of this database
//     ASSERT_TRUE(store.Connect());
//     ...
//     EXPECT_EQ(db().Count("FILELIST"), 1);
//   }
//   TARNVEL_DATABASE_TEST_SUITE(MyTest);
//
// PostgreSQL needs a server (scripts/pg_server.sh) and the variables TARNVEL_PG_HOST,
// TARNVEL_PG_PORT, TARNVEL_PG_USER, TARNVEL_PG_PASSWORD and TARNVEL_PG_DB; without them the
// PostgreSQL cases are skipped with the reason. The role needs the right to create databases:
// each test process makes one database, and every TestDatabase is a schema of its own in it
// (the search path of its data source), dropped when the object goes.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "settings/resolved_settings.h"

namespace tarnvel::testing {

enum class DatabaseKind { kSqlite, kPostgres };

// "SQLite" or "PostgreSQL" (also the parameter names of TARNVEL_DATABASE_TEST_SUITE).
std::string DatabaseKindName(DatabaseKind kind);

struct DatabaseOptions {
  // FILELIST has the optional TEND column.
  bool withEndTime = true;
  // Every table and column is created with a lower-case name. (PostgreSQL folds unquoted
  // names to lower case anyway, so there the catalogue always reports lower case.)
  bool lowerCaseNames = false;
  // Create the fourteen QOR tables; false gives an empty database.
  bool createSchema = true;
};

// The text Query gives for a null column value.
inline constexpr const char* kNullText = "<null>";

using Row = std::vector<std::string>;

class TestDatabase {
 public:
  // Empty when a database of this kind can be made here, otherwise why not.
  static std::string Unavailable(DatabaseKind kind);

  // Creates a fresh database with the QOR schema and a data source of its own, and points this
  // process's ODBC driver manager at the project-local configuration (ODBCSYSINI, ODBCINI).
  // Throws std::runtime_error on any failure.
  explicit TestDatabase(DatabaseKind kind, DatabaseOptions options = {});
  ~TestDatabase();
  TestDatabase(const TestDatabase&) = delete;
  TestDatabase& operator=(const TestDatabase&) = delete;

  DatabaseKind kind() const { return kind_; }
  const DatabaseOptions& options() const { return options_; }
  // Connection values for the store (SQLite ignores user and password).
  const std::string& dsn() const { return dsn_; }
  const std::string& user() const { return user_; }
  const std::string& password() const { return password_; }
  // A data source name that is defined nowhere: connecting to it always fails.
  static std::string MissingDsn();
  // An existing, empty folder for the waveform files of this database.
  const std::filesystem::path& dataDir() const { return dataDir_; }
  // The folder everything of this database lives in (removed with it).
  const std::filesystem::path& folder() const { return folder_; }
  // ODBCSYSINI and ODBCINI for RunProgram, so a child process sees the same data sources.
  static std::map<std::string, std::string> Environment();

  // Runs one statement on a connection of the test's own; throws with the driver's message
  // when it fails (a statement that matches no row is no failure).
  void Execute(const std::string& sql);
  // Runs every statement of a script (';'-separated, "--" comments allowed).
  void ExecuteScript(const std::string& script);
  // Every row of a query, each column as the driver's text (kNullText for null). Numbers come
  // as the database writes them ("20" or "20.0"): compare them with QueryNumber or cast them.
  std::vector<Row> Query(const std::string& sql);
  // The first column of the first row; throws when the query gives no row.
  std::string QueryValue(const std::string& sql);
  double QueryNumber(const std::string& sql);
  // Rows of a table, optionally restricted by a where clause ("STA='ABC'").
  std::int64_t Count(const std::string& table, const std::string& where = {});

  // The schema script for a kind and options, as the constructor runs it.
  static std::string SchemaScript(DatabaseKind kind, const DatabaseOptions& options);

 public:
  class Connection;  // the test's own connection (defined in the .cpp)

 private:
  DatabaseKind kind_;
  DatabaseOptions options_;
  std::filesystem::path folder_;
  std::filesystem::path dataDir_;
  std::string dsn_;
  std::string user_;
  std::string password_;
  std::string pgSchema_;  // PostgreSQL: the schema holding this database's tables
  std::unique_ptr<Connection> connection_;
};

// Fixture for tests run against both databases. SetUp creates db() with Options() or skips
// the case when the database is not available.
class DatabaseTest : public ::testing::TestWithParam<DatabaseKind> {
 protected:
  void SetUp() override;
  void TearDown() override;
  virtual DatabaseOptions Options() const { return {}; }

  TestDatabase& db() { return *db_; }
  // The settings of a WaveformStore on this database: its data source, user, password and
  // data directory, with the end-time switch on, as a store starts.
  ResolvedSettings StoreSettings() const {
    return ResolvedSettings{.odbc = db_->dsn(),
                            .user = db_->user(),
                            .password = db_->password(),
                            .dataDir = DataDirectory(db_->dataDir().string()),
                            .useTend = true};
  }
  template <typename Store>
  void ConfigureStore(Store& store) {
    store.Configure(StoreSettings());
  }

 private:
  std::unique_ptr<TestDatabase> db_;
};

// The same fixture for a database made with other options, e.g.
//   class NoEndTime : public DatabaseTestWith<DatabaseOptions{.withEndTime = false}> {};
template <DatabaseOptions kOptions>
class DatabaseTestWith : public DatabaseTest {
 protected:
  DatabaseOptions Options() const override { return kOptions; }
};

struct DatabaseKindPrinter {
  std::string operator()(const ::testing::TestParamInfo<DatabaseKind>& info) const {
    return DatabaseKindName(info.param);
  }
};

}  // namespace tarnvel::testing

#define TARNVEL_DATABASE_TEST_SUITE(Fixture)                                               \
  INSTANTIATE_TEST_SUITE_P(Databases, Fixture,                                             \
                           ::testing::Values(::tarnvel::testing::DatabaseKind::kSqlite,    \
                                             ::tarnvel::testing::DatabaseKind::kPostgres), \
                           ::tarnvel::testing::DatabaseKindPrinter())
