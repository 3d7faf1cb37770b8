// A PostgreSQL server of one test's own (scripts/pg_server.sh in a folder and on a port of its
// own), for tests that stop the server: the shared test server stays untouched. It holds the
// QOR schema and has an ODBC data source of its own; queries go through psql.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/process.h"
#include "tests/support/test_database.h"

namespace tarnvel::testing {

class ScratchPostgres {
 public:
  static constexpr const char* kBin = "/usr/lib/postgresql/15/bin";

  // Empty when such a server can be run here, otherwise why not.
  static std::string Unavailable() {
    if (::geteuid() != 0) return "a server of the test's own is started as root";
    if (!std::filesystem::exists(std::string(kBin) + "/pg_ctl")) {
      return "PostgreSQL 15 server programs are not installed";
    }
    return {};
  }

  ScratchPostgres() : port_(FreePort()) {
    std::filesystem::permissions(dir_.path(), std::filesystem::perms(0755));
    Start();
    Psql({"-v", "ON_ERROR_STOP=1", "-f",
          (std::filesystem::path(TARNVEL_SOURCE_DIR) / "schema" / "qor_postgres.sql").string()});
    const auto config = RunProgram(
        "/bin/bash", {Script("odbc_config.sh"), (dir_.path() / "odbc").string(),
                      "qor_scratch=postgres:127.0.0.1:" + std::to_string(port_) + ":qordb"});
    if (config.exitCode != 0) throw std::runtime_error("odbc_config.sh: " + config.output);
  }

  ~ScratchPostgres() { Stop(); }
  ScratchPostgres(const ScratchPostgres&) = delete;
  ScratchPostgres& operator=(const ScratchPostgres&) = delete;

  void Start() {
    const auto result = RunProgram(
        "/bin/bash", {Script("pg_server.sh"), "start", dir_.path().string(), std::to_string(port_)},
        ServerEnvironment());
    if (result.exitCode != 0) throw std::runtime_error("pg_server.sh start: " + result.output);
  }
  // A fast shutdown: the server ends every session (committed work stays) and stops listening.
  void Stop() {
    RunProgram("/bin/bash", {Script("pg_server.sh"), "stop", dir_.path().string()},
               ServerEnvironment());
  }

  std::string dsn() const { return "qor_scratch"; }
  std::string user() const { return "qor"; }
  std::string password() const { return "zun"; }
  // ODBCSYSINI and ODBCINI of this server's data source.
  std::map<std::string, std::string> Environment() const {
    return {{"ODBCSYSINI", (dir_.path() / "odbc").string()},
            {"ODBCINI", (dir_.path() / "odbc" / "odbc.ini").string()}};
  }

  // Rows of a query, columns as psql prints them (null as kNullText).
  std::vector<Row> Query(const std::string& sql) {
    const std::string output =
        Psql({"-v", "ON_ERROR_STOP=1", "-t", "-A", "-F", "\x1f", "-P", "null=<null>", "-c", sql});
    std::vector<Row> rows;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
      if (line.empty()) continue;
      Row row;
      std::istringstream fields(line);
      for (std::string field; std::getline(fields, field, '\x1f');) row.push_back(field);
      rows.push_back(std::move(row));
    }
    return rows;
  }

 private:
  static std::string Script(const std::string& name) {
    return (std::filesystem::path(TARNVEL_SOURCE_DIR) / "scripts" / name).string();
  }
  static std::map<std::string, std::string> ServerEnvironment() {
    return {{"TARNVEL_PG_USER", "qor"}, {"TARNVEL_PG_PASSWORD", "zun"}, {"TARNVEL_PG_DB", "qordb"}};
  }
  static int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      if (fd >= 0) ::close(fd);
      throw std::runtime_error("no free port");
    }
    ::close(fd);
    return ntohs(address.sin_port);
  }
  std::string Psql(std::vector<std::string> args) {
    std::vector<std::string> all{"-X", "-q",  "-h", "127.0.0.1", "-p", std::to_string(port_),
                                 "-U", "qor", "-d", "qordb"};
    all.insert(all.end(), args.begin(), args.end());
    const auto result = RunProgram(std::string(kBin) + "/psql", all, {{"PGPASSWORD", "zun"}});
    if (result.exitCode != 0) throw std::runtime_error("psql: " + result.output);
    return result.output;
  }

  TempDir dir_;
  int port_;
};

}  // namespace tarnvel::testing
