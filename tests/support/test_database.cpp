#include "tests/support/test_database.h"

#include <signal.h>
#include <sql.h>
#include <sqlext.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>

#include "tests/support/process.h"

namespace tarnvel::testing {
namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// First existing path of an ODBC driver library of this machine.
std::string FindDriver(const std::string& library) {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/usr/lib", ec)) {
    const auto candidate = entry.path() / "odbc" / library;
    if (std::filesystem::exists(candidate, ec)) return candidate.string();
  }
  const auto flat = std::filesystem::path("/usr/lib/odbc") / library;
  if (std::filesystem::exists(flat, ec)) return flat.string();
  throw std::runtime_error("ODBC driver " + library + " is not installed");
}

// One ODBC configuration folder for the whole test process. unixODBC keeps data source
// definitions it has read for the life of the process, so every database gets a data source
// name of its own and definitions are only ever added.
class OdbcConfig {
 public:
  static OdbcConfig& Get() {
    static OdbcConfig config;
    return config;
  }

  const std::filesystem::path& folder() const { return dir_.path(); }
  std::filesystem::path iniFile() const { return dir_.path() / "odbc.ini"; }

  void AddDataSource(const std::string& name, const std::map<std::string, std::string>& keys) {
    std::lock_guard lock(mutex_);
    std::ofstream out(iniFile(), std::ios::app);
    out << "[" << name << "]\n";
    for (const auto& [key, value] : keys) out << key << "=" << value << "\n";
    out << "\n";
    if (!out) throw std::runtime_error("cannot write " + iniFile().string());
  }

  // A name unique in this process and among processes running at the same time.
  std::string UniqueName(const std::string& prefix) {
    return prefix + "_" + std::to_string(getpid()) + "_" + std::to_string(++counter_);
  }

 private:
  OdbcConfig() {
    WriteFile(dir_.path() / "odbcinst.ini",
              "[SQLite3]\nDriver=" + FindDriver("libsqlite3odbc.so") +
                  "\nUsageCount=1\n\n[PostgreSQL]\nDriver=" + FindDriver("psqlodbcw.so") +
                  "\nDebug=0\nCommLog=0\nUsageCount=1\n");
    WriteFile(iniFile(), "");
    setenv("ODBCSYSINI", dir_.path().c_str(), 1);
    setenv("ODBCINI", iniFile().c_str(), 1);
  }

  TempDir dir_;
  std::mutex mutex_;
  std::atomic<int> counter_{0};
};

std::string Diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
  std::string text;
  SQLCHAR state[6];
  SQLCHAR message[1024];
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  for (SQLSMALLINT i = 1; SQLGetDiagRec(type, handle, i, state, &native, message, sizeof message,
                                        &length) == SQL_SUCCESS;
       ++i) {
    text += std::string(" [") + reinterpret_cast<char*>(state) + "] " +
            reinterpret_cast<char*>(message);
  }
  return text;
}

std::string ReadSchemaFile(const std::string& name) {
  const auto path = std::filesystem::path(TARNVEL_SOURCE_DIR) / "schema" / name;
  if (!std::filesystem::exists(path)) throw std::runtime_error("missing " + path.string());
  return ReadFile(path);
}

std::vector<std::string> SplitScript(const std::string& script) {
  std::string code;
  std::istringstream lines(script);
  for (std::string line; std::getline(lines, line);) {
    const auto comment = line.find("--");
    code += line.substr(0, comment) + "\n";
  }
  std::vector<std::string> statements;
  std::istringstream parts(code);
  for (std::string part; std::getline(parts, part, ';');) {
    const auto first = part.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) continue;
    const auto last = part.find_last_not_of(" \t\r\n");
    statements.push_back(part.substr(first, last - first + 1));
  }
  return statements;
}

}  // namespace

// The test's own connection, separate from the store's.
class TestDatabase::Connection {
 public:
  Connection(const std::string& dsn, const std::string& user, const std::string& password) {
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_)) ||
        !SQL_SUCCEEDED(SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION,
                                     reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), SQL_IS_INTEGER)) ||
        !SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_))) {
      Release();
      throw std::runtime_error("cannot allocate ODBC handles");
    }
    std::string s = dsn, u = user, p = password;
    const SQLRETURN rc = SQLConnect(dbc_, reinterpret_cast<SQLCHAR*>(s.data()), SQL_NTS,
                                    reinterpret_cast<SQLCHAR*>(u.data()), SQL_NTS,
                                    reinterpret_cast<SQLCHAR*>(p.data()), SQL_NTS);
    if (!SQL_SUCCEEDED(rc)) {
      const std::string why = Diagnostics(SQL_HANDLE_DBC, dbc_);
      Release();
      throw std::runtime_error("cannot connect to data source " + dsn + ":" + why);
    }
    connected_ = true;
  }
  ~Connection() { Release(); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Runs statements in one transaction, then returns to auto-commit.
  void RunInOneTransaction(const std::vector<std::string>& statements) {
    SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF),
                      SQL_IS_UINTEGER);
    try {
      for (const auto& statement : statements) Run(statement, false);
    } catch (...) {
      SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK);
      SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON),
                        SQL_IS_UINTEGER);
      throw;
    }
    const SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_COMMIT);
    SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON),
                      SQL_IS_UINTEGER);
    if (!SQL_SUCCEEDED(rc)) {
      throw std::runtime_error("cannot commit:" + Diagnostics(SQL_HANDLE_DBC, dbc_));
    }
  }

  std::vector<Row> Run(const std::string& sql, bool wantRows) {
    SQLHSTMT stmt = SQL_NULL_HANDLE;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt))) {
      throw std::runtime_error("cannot allocate a statement handle");
    }
    std::vector<Row> rows;
    std::string failure;
    std::string text = sql;
    const SQLRETURN rc = SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS);
    if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA) {
      failure = "statement failed: " + sql + ":" + Diagnostics(SQL_HANDLE_STMT, stmt);
    } else if (wantRows && rc != SQL_NO_DATA) {
      SQLSMALLINT columns = 0;
      SQLNumResultCols(stmt, &columns);
      SQLRETURN fetch;
      while ((fetch = SQLFetch(stmt)) != SQL_NO_DATA) {
        if (!SQL_SUCCEEDED(fetch)) {
          failure = "fetch failed: " + sql + ":" + Diagnostics(SQL_HANDLE_STMT, stmt);
          break;
        }
        Row row;
        for (SQLUSMALLINT c = 1; c <= static_cast<SQLUSMALLINT>(columns); ++c) {
          row.push_back(ColumnText(stmt, c));
        }
        rows.push_back(std::move(row));
      }
      SQLCloseCursor(stmt);
    }
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    if (!failure.empty()) throw std::runtime_error(failure);
    return rows;
  }

 private:
  static std::string ColumnText(SQLHSTMT stmt, SQLUSMALLINT column) {
    std::string value;
    char buffer[4096];
    for (;;) {
      SQLLEN indicator = 0;
      const SQLRETURN rc = SQLGetData(stmt, column, SQL_C_CHAR, buffer, sizeof buffer, &indicator);
      if (rc == SQL_NO_DATA) break;
      if (!SQL_SUCCEEDED(rc)) {
        throw std::runtime_error("cannot read column " + std::to_string(column) + ":" +
                                 Diagnostics(SQL_HANDLE_STMT, stmt));
      }
      if (indicator == SQL_NULL_DATA) return kNullText;
      const bool truncated =
          indicator == SQL_NO_TOTAL || indicator >= static_cast<SQLLEN>(sizeof buffer);
      value.append(buffer, truncated ? sizeof buffer - 1 : static_cast<std::size_t>(indicator));
      if (!truncated) break;
    }
    return value;
  }

  void Release() {
    if (dbc_ != SQL_NULL_HANDLE) {
      if (connected_) SQLDisconnect(dbc_);
      SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
      dbc_ = SQL_NULL_HANDLE;
    }
    if (env_ != SQL_NULL_HANDLE) {
      SQLFreeHandle(SQL_HANDLE_ENV, env_);
      env_ = SQL_NULL_HANDLE;
    }
    connected_ = false;
  }

  SQLHENV env_ = SQL_NULL_HANDLE;
  SQLHDBC dbc_ = SQL_NULL_HANDLE;
  bool connected_ = false;
};

namespace {

std::map<std::string, std::string> PostgresSource(const std::string& database) {
  return {{"Driver", "PostgreSQL"},
          {"Servername", Env("TARNVEL_PG_HOST")},
          {"Port", Env("TARNVEL_PG_PORT")},
          {"Database", database}};
}

// The PostgreSQL database of this test process, created on first use and dropped at exit.
// Each TestDatabase is a schema of its own in it, made the connection's search path; the
// tests of one process run one after the other, so the catalogue only ever shows one QOR
// schema. (Making a database per test costs about a second.)
class PostgresProcessDatabase {
 public:
  static PostgresProcessDatabase& Get() {
    static PostgresProcessDatabase database;
    return database;
  }
  const std::string& dsn() const { return dsn_; }
  const std::string& database() const { return name_; }

 private:
  PostgresProcessDatabase() {
    auto& config = OdbcConfig::Get();
    const std::string admin = config.UniqueName("tarnvel_pg_admin");
    config.AddDataSource(admin, PostgresSource(Env("TARNVEL_PG_DB")));
    adminDsn_ = admin;
    name_ = "tarnvel_test_" + std::to_string(getpid());
    TestDatabase::Connection connection(adminDsn_, Env("TARNVEL_PG_USER"),
                                        Env("TARNVEL_PG_PASSWORD"));
    // Databases left behind by test processes that no longer run.
    for (const auto& row : connection.Run(
             "select datname from pg_database where datname like 'tarnvel_test_%'", true)) {
      const std::string& name = row.at(0);
      const std::string digits = name.substr(std::string("tarnvel_test_").size());
      if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) continue;
      const auto pid = static_cast<pid_t>(std::stol(digits));
      if (pid == getpid() || (kill(pid, 0) != 0 && errno == ESRCH)) {
        connection.Run("drop database if exists " + name + " with (force)", false);
      }
    }
    connection.Run("create database " + name_, false);
    dsn_ = config.UniqueName("tarnvel_pg_process");
    config.AddDataSource(dsn_, PostgresSource(name_));
  }
  ~PostgresProcessDatabase() {
    try {
      TestDatabase::Connection connection(adminDsn_, Env("TARNVEL_PG_USER"),
                                          Env("TARNVEL_PG_PASSWORD"));
      connection.Run("drop database if exists " + name_ + " with (force)", false);
    } catch (const std::exception&) {
      // The next test process removes it.
    }
  }

  std::string adminDsn_;
  std::string name_;
  std::string dsn_;
};

}  // namespace

std::string DatabaseKindName(DatabaseKind kind) {
  return kind == DatabaseKind::kSqlite ? "SQLite" : "PostgreSQL";
}

std::string TestDatabase::Unavailable(DatabaseKind kind) {
  if (kind == DatabaseKind::kSqlite) return {};
  for (const char* name : {"TARNVEL_PG_HOST", "TARNVEL_PG_PORT", "TARNVEL_PG_USER",
                           "TARNVEL_PG_PASSWORD", "TARNVEL_PG_DB"}) {
    if (Env(name).empty()) {
      return std::string("PostgreSQL tests need ") + name +
             " (start a server with scripts/pg_server.sh and export the variables it prints)";
    }
  }
  return {};
}

std::string TestDatabase::MissingDsn() {
  OdbcConfig::Get();  // the local configuration, so nothing outside it is consulted
  return "tarnvel_no_such_source";
}

std::map<std::string, std::string> TestDatabase::Environment() {
  auto& config = OdbcConfig::Get();
  return {{"ODBCSYSINI", config.folder().string()}, {"ODBCINI", config.iniFile().string()}};
}

std::string TestDatabase::SchemaScript(DatabaseKind kind, const DatabaseOptions& options) {
  std::string script;
  if (options.createSchema) {
    script = ReadSchemaFile(kind == DatabaseKind::kSqlite ? "qor_sqlite.sql" : "qor_postgres.sql");
    if (!options.withEndTime) script += "\n" + ReadSchemaFile("filelist_without_tend.sql");
  }
  if (options.lowerCaseNames) {
    std::transform(script.begin(), script.end(), script.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  }
  return script;
}

TestDatabase::TestDatabase(DatabaseKind kind, DatabaseOptions options)
    : kind_(kind), options_(options) {
  const std::string why = Unavailable(kind);
  if (!why.empty()) throw std::runtime_error(why);
  auto& config = OdbcConfig::Get();

  std::string pattern = (std::filesystem::temp_directory_path() / "tarnvel-db-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  folder_ = pattern;
  dataDir_ = folder_ / "data";
  std::filesystem::create_directories(dataDir_);

  if (kind == DatabaseKind::kSqlite) {
    dsn_ = config.UniqueName("qor_sqlite");
    user_ = "qor";
    password_ = "zun";
    config.AddDataSource(
        dsn_,
        {{"Driver", "SQLite3"}, {"Database", (folder_ / "qor.db").string()}, {"Timeout", "10000"}});
  } else {
    dsn_ = config.UniqueName("qor_pg");
    user_ = Env("TARNVEL_PG_USER");
    password_ = Env("TARNVEL_PG_PASSWORD");
    auto& process = PostgresProcessDatabase::Get();
    pgSchema_ = config.UniqueName("qor");
    Connection(process.dsn(), user_, password_).Run("create schema " + pgSchema_, false);
    auto source = PostgresSource(process.database());
    source["ConnSettings"] = "set search_path to " + pgSchema_;
    config.AddDataSource(dsn_, source);
  }
  connection_ = std::make_unique<Connection>(dsn_, user_, password_);
  connection_->RunInOneTransaction(SplitScript(SchemaScript(kind, options)));
}

TestDatabase::~TestDatabase() {
  if (!pgSchema_.empty()) {
    try {
      connection_->Run("drop schema if exists " + pgSchema_ + " cascade", false);
    } catch (const std::exception& e) {
      ADD_FAILURE() << "cannot drop test schema " << pgSchema_ << ": " << e.what();
    }
  }
  connection_.reset();
  std::error_code ec;
  std::filesystem::remove_all(folder_, ec);
}

void TestDatabase::Execute(const std::string& sql) {
  connection_->Run(sql, false);
}

void TestDatabase::ExecuteScript(const std::string& script) {
  for (const auto& statement : SplitScript(script)) Execute(statement);
}

std::vector<Row> TestDatabase::Query(const std::string& sql) {
  return connection_->Run(sql, true);
}

std::string TestDatabase::QueryValue(const std::string& sql) {
  const auto rows = Query(sql);
  if (rows.empty() || rows.front().empty()) throw std::runtime_error("no row: " + sql);
  return rows.front().front();
}

double TestDatabase::QueryNumber(const std::string& sql) {
  const std::string text = QueryValue(sql);
  if (text == kNullText) throw std::runtime_error("null value: " + sql);
  try {
    return std::stod(text);
  } catch (const std::exception&) {
    throw std::runtime_error("not a number (" + text + "): " + sql);
  }
}

std::int64_t TestDatabase::Count(const std::string& table, const std::string& where) {
  const std::string sql =
      "select count(*) from " + table + (where.empty() ? std::string() : " where " + where);
  return static_cast<std::int64_t>(QueryNumber(sql));
}

void DatabaseTest::SetUp() {
  const std::string why = TestDatabase::Unavailable(GetParam());
  if (!why.empty()) GTEST_SKIP() << why;
  db_ = std::make_unique<TestDatabase>(GetParam(), Options());
}

void DatabaseTest::TearDown() {
  db_.reset();
}

}  // namespace tarnvel::testing
