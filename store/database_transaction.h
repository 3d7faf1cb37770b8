// The transactions the store groups its FILELIST statements in. Outside of one, the connection
// commits every statement on its own (the ODBC default).
//
// SQLite is told to take its write lock when a transaction begins ("BEGIN IMMEDIATE" while the
// driver commits on its own): the SQLite ODBC driver begins its transactions deferred, so that
// a transaction that has read holds a shared lock, and two converters whose transactions both
// read and then write would each wait for the other until the busy timeout. Every other
// database gets the ODBC calls: automatic commits off, SQLEndTran, automatic commits on again.
#pragma once

#include <sql.h>

namespace tarnvel {

class DatabaseTransaction {
 public:
  // Learns from the connected database how its transactions are taken; a new connection ends
  // any transaction of the old one without a word (the database has rolled it back).
  void Configure(SQLHDBC connection);
  void Forget() {
    connection_ = SQL_NULL_HANDLE;
    open_ = false;
  }

  bool open() const { return open_; }
  // False when the database refused (no transaction is open then).
  bool Begin();
  // False when the database did not commit; the transaction is rolled back then.
  bool Commit();
  void Rollback();

 private:
  bool Execute(const char* text);
  bool End(SQLSMALLINT completion);

  SQLHDBC connection_ = SQL_NULL_HANDLE;
  bool sqlite_ = false;
  bool open_ = false;
};

}  // namespace tarnvel
