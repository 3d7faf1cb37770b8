#include "store/odbc_statement.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace tarnvel {

std::string SqlText(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (char c : value) {
    out.push_back(c);
    if (c == '\'') out.push_back('\'');
  }
  return out;
}

std::string FormatStatement(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int needed = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string text;
  if (needed > 0) {
    text.resize(static_cast<std::size_t>(needed));
    std::vsnprintf(text.data(), text.size() + 1, format, args);
  }
  va_end(args);
  return text;
}

Statement::Statement(SQLHDBC connection) {
  if (connection != SQL_NULL_HANDLE) handle_.Allocate(connection);
}

Statement::~Statement() {
  CloseCursor();
}

SQLRETURN Statement::Execute(const std::string& text) {
  CloseCursor();
  std::vector<SQLCHAR> buffer(text.begin(), text.end());
  buffer.push_back(0);
  const SQLRETURN rc = SQLExecDirect(handle_.get(), buffer.data(), SQL_NTS);
  cursorOpen_ = OdbcSucceeded(rc);
  return rc;
}

void Statement::LimitRows(SQLULEN rows) {
  SQLSetStmtAttr(handle_.get(), SQL_ATTR_MAX_ROWS, reinterpret_cast<SQLPOINTER>(rows),
                 SQL_IS_UINTEGER);
}

SQLLEN Statement::ChangedRows() const {
  SQLLEN rows = -1;
  if (!OdbcSucceeded(SQLRowCount(handle_.get(), &rows))) return -1;
  return rows;
}

bool Statement::BindLong(SQLUSMALLINT column, std::int32_t& value) {
  return OdbcSucceeded(SQLBindCol(handle_.get(), column, SQL_C_SLONG, &value, sizeof value,
                                  &indicators_.at(column)));
}

bool Statement::BindBigInt(SQLUSMALLINT column, std::int64_t& value) {
  return OdbcSucceeded(SQLBindCol(handle_.get(), column, SQL_C_SBIGINT, &value, sizeof value,
                                  &indicators_.at(column)));
}

bool Statement::BindDouble(SQLUSMALLINT column, double& value) {
  return OdbcSucceeded(SQLBindCol(handle_.get(), column, SQL_C_DOUBLE, &value, sizeof value,
                                  &indicators_.at(column)));
}

bool Statement::BindText(SQLUSMALLINT column, std::array<char, 1024>& buffer) {
  buffer[0] = '\0';
  return OdbcSucceeded(SQLBindCol(handle_.get(), column, SQL_C_CHAR, buffer.data(),
                                  static_cast<SQLLEN>(buffer.size()), &indicators_.at(column)));
}

SQLLEN Statement::Indicator(SQLUSMALLINT column) const {
  return indicators_.at(column);
}

SQLRETURN Statement::Fetch() {
  return SQLFetch(handle_.get());
}

void Statement::CloseCursor() {
  if (cursorOpen_ && handle_) {
    SQLFreeStmt(handle_.get(), SQL_CLOSE);
  }
  cursorOpen_ = false;
}

}  // namespace tarnvel
