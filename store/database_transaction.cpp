#include "store/database_transaction.h"

#include <sqlext.h>

#include <cstring>
#include <string>

#include "store/odbc_statement.h"

namespace tarnvel {

void DatabaseTransaction::Configure(SQLHDBC connection) {
  connection_ = connection;
  open_ = false;
  char name[64] = {};
  SQLSMALLINT length = 0;
  sqlite_ = OdbcSucceeded(SQLGetInfo(connection, SQL_DBMS_NAME, name, sizeof name, &length)) &&
            std::strncmp(name, "SQLite", 6) == 0;
}

bool DatabaseTransaction::Execute(const char* text) {
  Statement statement(connection_);
  return statement.ok() && OdbcSucceeded(statement.Execute(text));
}

bool DatabaseTransaction::Begin() {
  if (open_) return true;
  if (connection_ == SQL_NULL_HANDLE) return false;
  open_ = sqlite_ ? Execute("BEGIN IMMEDIATE")
                  : OdbcSucceeded(SQLSetConnectAttr(
                        connection_, SQL_ATTR_AUTOCOMMIT,
                        reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), SQL_IS_UINTEGER));
  return open_;
}

bool DatabaseTransaction::End(SQLSMALLINT completion) {
  if (sqlite_) return Execute(completion == SQL_COMMIT ? "COMMIT" : "ROLLBACK");
  const bool ended = OdbcSucceeded(SQLEndTran(SQL_HANDLE_DBC, connection_, completion));
  // Back to committing every statement on its own; for a transaction that is still open after
  // a failed commit this commits nothing, because the rollback below comes first.
  if (ended) {
    SQLSetConnectAttr(connection_, SQL_ATTR_AUTOCOMMIT,
                      reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), SQL_IS_UINTEGER);
  }
  return ended;
}

bool DatabaseTransaction::Commit() {
  if (!open_) return true;
  if (End(SQL_COMMIT)) {
    open_ = false;
    return true;
  }
  Rollback();
  return false;
}

void DatabaseTransaction::Rollback() {
  if (!open_) return;
  open_ = false;
  // A connection that cannot roll back is lost, and the database rolls back on its own.
  End(SQL_ROLLBACK);
}

}  // namespace tarnvel
