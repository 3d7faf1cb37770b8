// RAII handles over the ODBC call level interface and the one pattern every store statement
// follows: allocate, execute a composed text, bind by position, fetch, close, free.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace tarnvel {

inline bool OdbcSucceeded(SQLRETURN rc) {
  return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO;
}

// Owns one ODBC handle of the given type and frees it exactly once.
template <SQLSMALLINT HandleType>
class OdbcHandle {
 public:
  OdbcHandle() = default;
  ~OdbcHandle() { Reset(); }
  OdbcHandle(const OdbcHandle&) = delete;
  OdbcHandle& operator=(const OdbcHandle&) = delete;
  OdbcHandle(OdbcHandle&& other) noexcept : handle_(other.handle_) {
    other.handle_ = SQL_NULL_HANDLE;
  }
  OdbcHandle& operator=(OdbcHandle&& other) noexcept {
    if (this != &other) {
      Reset();
      handle_ = other.handle_;
      other.handle_ = SQL_NULL_HANDLE;
    }
    return *this;
  }

  // Allocates on `input` (SQL_NULL_HANDLE for an environment); false on failure.
  bool Allocate(SQLHANDLE input) {
    Reset();
    SQLHANDLE h = SQL_NULL_HANDLE;
    if (!OdbcSucceeded(SQLAllocHandle(HandleType, input, &h))) return false;
    handle_ = h;
    return true;
  }
  void Reset() {
    if (handle_ != SQL_NULL_HANDLE) {
      SQLFreeHandle(HandleType, handle_);
      handle_ = SQL_NULL_HANDLE;
    }
  }
  SQLHANDLE get() const { return handle_; }
  explicit operator bool() const { return handle_ != SQL_NULL_HANDLE; }

 private:
  SQLHANDLE handle_ = SQL_NULL_HANDLE;
};

using EnvironmentHandle = OdbcHandle<SQL_HANDLE_ENV>;
using ConnectionHandle = OdbcHandle<SQL_HANDLE_DBC>;

// Doubles every single quote, so a value cannot end the literal it is written into. A value
// without quotes comes back unchanged.
std::string SqlText(std::string_view value);

// printf-style composition of a statement text.
std::string FormatStatement(const char* format, ...) __attribute__((format(printf, 1, 2)));

// One statement handle for the life of one operation.
class Statement {
 public:
  explicit Statement(SQLHDBC connection);  // allocates; check ok()
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool ok() const { return static_cast<bool>(handle_); }
  SQLHSTMT get() const { return handle_.get(); }

  // SQLExecDirect of the text; returns the raw result code.
  SQLRETURN Execute(const std::string& text);
  // Asks the driver for no more than `rows` rows of the next result (SQL_ATTR_MAX_ROWS); a
  // driver that cannot limit them returns them all.
  void LimitRows(SQLULEN rows);
  // Rows the last insert, update or delete changed; -1 when the driver cannot tell.
  SQLLEN ChangedRows() const;

  // Column bindings by 1-based position. The bound object must outlive the fetches.
  bool BindLong(SQLUSMALLINT column, std::int32_t& value);
  bool BindBigInt(SQLUSMALLINT column, std::int64_t& value);
  bool BindDouble(SQLUSMALLINT column, double& value);
  // Text into a buffer of 1024 bytes (paths), NUL-terminated.
  bool BindText(SQLUSMALLINT column, std::array<char, 1024>& buffer);
  // Indicator of the last fetched row for a bound column (SQL_NULL_DATA for a null).
  SQLLEN Indicator(SQLUSMALLINT column) const;

  // SQL_SUCCESS, SQL_SUCCESS_WITH_INFO, SQL_NO_DATA or an error code.
  SQLRETURN Fetch();
  // Closes an open cursor (no effect when none is open).
  void CloseCursor();

 private:
  OdbcHandle<SQL_HANDLE_STMT> handle_;
  bool cursorOpen_ = false;
  std::array<SQLLEN, 16> indicators_{};
};

}  // namespace tarnvel
