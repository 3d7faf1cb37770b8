#include "store/filelist_survey.h"

#include <array>
#include <cstdint>

#include "seed/channel_key.h"
#include "store/odbc_statement.h"
#include "store/waveform_store.h"

namespace tarnvel {

namespace sr = store_result;

namespace {

constexpr TableId kFl = TableId::kFileList;

// A text column as read: empty for a null.
std::string TextOf(const Statement& statement, SQLUSMALLINT column,
                   const std::array<char, 1024>& buffer) {
  return statement.Indicator(column) == SQL_NULL_DATA ? std::string() : std::string(buffer.data());
}

double NumberOf(const Statement& statement, SQLUSMALLINT column, double value) {
  return statement.Indicator(column) == SQL_NULL_DATA ? 0.0 : value;
}

}  // namespace

StoreResult SurveyFileList(const WaveformStore& store,
                           const std::function<void(RegisteredFile&&)>& each) {
  const SchemaNames& names = store.Names();
  const bool withEnd = store.UseEndTime();
  auto column = [&names](const char* name) { return names.Column(kFl, name); };
  const std::string text = "select " + column("STA") + "," + column("CH") + "," + column("LCODE") +
                           "," + column("FOFF") + "," + column("TBEGIN") + "," + column("TQTY") +
                           "," + column("CPATH") + "," + column("SPS") + "," + column("CREATER") +
                           (withEnd ? "," + column("TEND") : "") + " from " + names.Table(kFl);

  Statement statement(store.ConnectionHandle());
  if (!statement.ok() || !OdbcSucceeded(statement.Execute(text))) return sr::kStatementFailed;
  std::array<char, 1024> station{};
  std::array<char, 1024> channel{};
  std::array<char, 1024> location{};
  std::array<char, 1024> path{};
  std::array<char, 1024> creator{};
  std::int32_t offset = 0;
  double first = 0.0;
  double quantity = 0.0;
  double rate = 0.0;
  double last = 0.0;
  statement.BindText(1, station);
  statement.BindText(2, channel);
  statement.BindText(3, location);
  statement.BindLong(4, offset);
  statement.BindDouble(5, first);
  statement.BindDouble(6, quantity);
  statement.BindText(7, path);
  statement.BindDouble(8, rate);
  statement.BindText(9, creator);
  if (withEnd) statement.BindDouble(10, last);
  for (SQLRETURN rc = statement.Fetch(); rc != SQL_NO_DATA; rc = statement.Fetch()) {
    if (!OdbcSucceeded(rc)) return sr::kStatementFailed;
    RegisteredFile row;
    row.station = TextOf(statement, 1, station);
    row.channel = TextOf(statement, 2, channel);
    row.location = HeldLocation(TextOf(statement, 3, location));
    row.file.offset = statement.Indicator(4) == SQL_NULL_DATA ? 0 : offset;
    row.file.begin = NumberOf(statement, 5, first);
    row.file.quantity = NumberOf(statement, 6, quantity);
    row.file.cpath = TextOf(statement, 7, path);
    row.file.rate = NumberOf(statement, 8, rate);
    row.file.creator = TextOf(statement, 9, creator);
    if (withEnd && statement.Indicator(10) != SQL_NULL_DATA) row.file.end = last;
    each(std::move(row));
  }
  statement.CloseCursor();
  return sr::kOk;
}

}  // namespace tarnvel
