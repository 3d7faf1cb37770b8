// The FILELIST statements of the bookkeeping: finding a channel's files, registering a file,
// extending and removing registrations.
#include <ctime>

#include "seed/channel_key.h"
#include "store/location_predicate.h"
#include "store/waveform_store.h"

namespace tarnvel {

namespace sr = store_result;

namespace {

constexpr TableId kFl = TableId::kFileList;

// How far back the files around a piece are looked for: no file is longer than a day.
constexpr double kLongestFile = 86400.0;
// How far below the known end the probe's latest TBEGIN must lie to vouch for it: the driver
// may hand the value over rounded to 15 digits.
constexpr double kProbeMargin = 0.001;

std::string LocalLoadDate() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  return text;
}

// The columns a ChannelFile is read from, bound in this order.
struct FileColumns {
  std::int32_t offset = 0;
  double begin = 0.0;
  double quantity = 0.0;
  std::array<char, 1024> path{};
  double rate = 0.0;
  std::array<char, 1024> creator{};
  double end = 0.0;

  // Binds FOFF, TBEGIN, TQTY, CPATH, SPS, CREATER and, with `withEnd`, TEND.
  void Bind(Statement& statement, bool withEnd) {
    SQLUSMALLINT column = 1;
    statement.BindLong(column++, offset);
    statement.BindDouble(column++, begin);
    statement.BindDouble(column++, quantity);
    statement.BindText(column++, path);
    statement.BindDouble(column++, rate);
    statement.BindText(column++, creator);
    if (withEnd) {
      endColumn = column;
      statement.BindDouble(column++, end);
    }
  }
  ChannelFile Row(const Statement& statement, const DataDirectory& directory) const {
    ChannelFile file;
    file.cpath = directory.FromCpath(path.data());
    file.offset = offset;
    file.begin = begin;
    file.quantity = quantity;
    if (endColumn != 0 && statement.Indicator(endColumn) != SQL_NULL_DATA) file.end = end;
    file.rate = rate;
    file.creator = creator.data();
    return file;
  }
  SQLUSMALLINT endColumn = 0;
};

// After a delete of `cpath`'s rows: a trigger may keep rows while the delete reports success, so
// unless it changed some, nothing known of the channel's rows stands any more.
void ForgetDeleted(ChannelRows& rows, const Statement& statement, std::string_view cpath) {
  if (statement.ChangedRows() > 0) {
    rows.Deleted(std::string(cpath));
  } else {
    rows = ChannelRows{};
  }
}

}  // namespace

std::string WaveformStore::LocationPredicate(std::string_view location,
                                             bool bracketExplicit) const {
  return tarnvel::LocationPredicate(names_.Column(kFl, "LCODE"), location,
                                    bracketExplicit ? LocationPredicateForm::kFileListBracketed
                                                    : LocationPredicateForm::kFileList);
}

std::string WaveformStore::CpathPredicate(std::string_view cpath) const {
  const std::string& column = names_.Column(kFl, "CPATH");
  const std::string test = column + "='" + SqlText(cpath) + "'";
  if (!dataDir_.IsNetworkShare()) return test;
  return "(" + column + "='" + SqlText(dataDir_.CpathOf(cpath)) + "' or " + test + ")";
}

StoreResult WaveformStore::FindLastFile(SegmentWork& work, std::optional<ChannelFile>& latest) {
  latest.reset();
  // The first row with a 512-byte header, newest load date first.
  std::optional<ChannelFile> first;
  if (const auto known = work.rows.Latest()) {
    first = *known;
  } else {
    const SegmentToStore& segment = work.segment;
    // The rate and the end time come along: a file is continued only at its own rate, and TEND
    // tells how many samples the row registers more exactly than TQTY does.
    const std::string text = FormatStatement(
        "select %s,%s,%s,%s,%s,%s%s from %s where %s='%s' and %s='%s' and %s order by %s desc,%s "
        "desc",
        names_.Column(kFl, "FOFF").c_str(), names_.Column(kFl, "TBEGIN").c_str(),
        names_.Column(kFl, "TQTY").c_str(), names_.Column(kFl, "CPATH").c_str(),
        names_.Column(kFl, "SPS").c_str(), names_.Column(kFl, "CREATER").c_str(),
        useEndTime_ ? ("," + names_.Column(kFl, "TEND")).c_str() : "", names_.Table(kFl).c_str(),
        names_.Column(kFl, "STA").c_str(), SqlText(segment.station).c_str(),
        names_.Column(kFl, "CH").c_str(), SqlText(segment.channel).c_str(),
        LocationPredicate(segment.location, false).c_str(), names_.Column(kFl, "LDDATE").c_str(),
        names_.Column(kFl, "TBEGIN").c_str());
    // One row is asked for first (drivers that read every row of a result before the first
    // fetch would otherwise read the whole channel); all of them only when it has another
    // offset.
    for (const bool oneRow : {true, false}) {
      Statement statement(connection_.get());
      if (!statement.ok()) return sr::kStatementFailed;
      if (oneRow) statement.LimitRows(1);
      if (!OdbcSucceeded(statement.Execute(text))) return sr::kStatementFailed;
      FileColumns columns;
      columns.Bind(statement, useEndTime_);
      bool otherOffset = false;
      for (SQLRETURN rc = statement.Fetch(); rc != SQL_NO_DATA; rc = statement.Fetch()) {
        if (!OdbcSucceeded(rc)) return sr::kStatementFailed;
        otherOffset = columns.offset != kDataOffset;
        if (otherOffset) continue;
        first = columns.Row(statement, dataDir_);
        break;
      }
      statement.CloseCursor();
      if (!otherOffset) break;
    }
    work.rows.LearnLatest(first);
  }
  // A path of another program's that the store cannot open is nothing to continue.
  if (first && IsStoreRelativePath(first->cpath)) {
    const ChannelFile* seen = nullptr;
    if (work.lookedAt != nullptr) {
      for (const ChannelFile& file : *work.lookedAt) {
        if (file.cpath == first->cpath) seen = &file;
      }
    }
    first->disk = seen != nullptr ? seen->disk : work.files.Stat(first->cpath);
    latest = std::move(first);
  }
  return sr::kOk;
}

StoreResult WaveformStore::FindFilesAround(SegmentWork& work, const Piece& piece,
                                           std::vector<ChannelFile>& files) {
  files.clear();
  const SegmentToStore& segment = work.segment;
  const double pieceEnd = piece.start + static_cast<double>(piece.count) / segment.rate;
  // Twice TQTY: a rate rounded to hundredths can make TQTY understate a slow channel's span by
  // up to half.
  const ChannelRows::Window window{AsStoredTime(piece.start - kLongestFile), AsStoredTime(pieceEnd),
                                   AsStoredTime(piece.start - 1.0 / segment.rate)};
  ChannelRows::Coverage coverage = work.rows.Covers(window);
  // The probe's latest TBEGIN of all FILELIST, asked while the channel was locked, tells
  // whether any row but the store's own can start after what is known.
  if (coverage == ChannelRows::Coverage::kExtend && probes_ > work.hold.takenAfterProbe &&
      (!probeLatest_ || *probeLatest_ < work.rows.KnownUntil() - kProbeMargin)) {
    work.rows.NothingAfterKnown(window);
    coverage = ChannelRows::Coverage::kKnown;
  }
  if (coverage == ChannelRows::Coverage::kKnown) {
    files = work.rows.Around(window);
    return sr::kOk;
  }
  const ChannelRows::Window asked =
      coverage == ChannelRows::Coverage::kExtend ? work.rows.ExtensionWindow(window) : window;

  Statement statement(connection_.get());
  if (!statement.ok()) return sr::kStatementFailed;
  const std::string& tbegin = names_.Column(kFl, "TBEGIN");
  const std::string& tqty = names_.Column(kFl, "TQTY");
  const std::string text = FormatStatement(
      "select %s,%s,%s,%s,%s,%s%s from %s where %s='%s' and %s='%s' and %s and %s=%d and "
      "%s>%0.4f and %s<%0.4f and %s+2*%s>%0.4f order by %s",
      names_.Column(kFl, "FOFF").c_str(), tbegin.c_str(), tqty.c_str(),
      names_.Column(kFl, "CPATH").c_str(), names_.Column(kFl, "SPS").c_str(),
      names_.Column(kFl, "CREATER").c_str(),
      useEndTime_ ? ("," + names_.Column(kFl, "TEND")).c_str() : "", names_.Table(kFl).c_str(),
      names_.Column(kFl, "STA").c_str(), SqlText(segment.station).c_str(),
      names_.Column(kFl, "CH").c_str(), SqlText(segment.channel).c_str(),
      LocationPredicate(segment.location, false).c_str(), names_.Column(kFl, "FOFF").c_str(),
      kDataOffset, tbegin.c_str(), asked.after, tbegin.c_str(), asked.before, tbegin.c_str(),
      tqty.c_str(), asked.endAfter, tbegin.c_str());
  if (!OdbcSucceeded(statement.Execute(text))) return sr::kStatementFailed;
  FileColumns columns;
  columns.Bind(statement, useEndTime_);
  std::vector<ChannelFile> rows;
  for (SQLRETURN rc = statement.Fetch(); rc != SQL_NO_DATA; rc = statement.Fetch()) {
    if (!OdbcSucceeded(rc)) return sr::kStatementFailed;
    ChannelFile file = columns.Row(statement, dataDir_);
    if (IsStoreRelativePath(file.cpath)) rows.push_back(std::move(file));
  }
  statement.CloseCursor();
  if (coverage == ChannelRows::Coverage::kUnknown) {
    work.rows.LearnAround(window, rows);
    files = std::move(rows);
  } else {
    work.rows.LearnExtension(asked, rows);
    files = work.rows.Around(window);
  }
  return sr::kOk;
}

StoreResult WaveformStore::RowOfPath(const StoreFiles& files, std::string_view cpath,
                                     std::optional<ChannelFile>& row) {
  return FindFileByPath(files, cpath, row);
}

StoreResult WaveformStore::FindFileByPath(const StoreFiles& files, std::string_view cpath,
                                          std::optional<ChannelFile>& found) {
  found.reset();
  Statement statement(connection_.get());
  if (!statement.ok()) return sr::kStatementFailed;
  const std::string text =
      FormatStatement("select %s,%s,%s,%s,%s,%s%s from %s where %s",
                      names_.Column(kFl, "FOFF").c_str(), names_.Column(kFl, "TBEGIN").c_str(),
                      names_.Column(kFl, "TQTY").c_str(), names_.Column(kFl, "CPATH").c_str(),
                      names_.Column(kFl, "SPS").c_str(), names_.Column(kFl, "CREATER").c_str(),
                      useEndTime_ ? ("," + names_.Column(kFl, "TEND")).c_str() : "",
                      names_.Table(kFl).c_str(), CpathPredicate(cpath).c_str());
  if (!OdbcSucceeded(statement.Execute(text))) return sr::kStatementFailed;
  FileColumns columns;
  columns.Bind(statement, useEndTime_);
  const SQLRETURN rc = statement.Fetch();
  if (rc == SQL_NO_DATA) return sr::kOk;
  if (!OdbcSucceeded(rc)) return sr::kStatementFailed;
  found = columns.Row(statement, dataDir_);
  found->disk = files.Stat(cpath);
  statement.CloseCursor();
  return sr::kOk;
}

StoreResult WaveformStore::InsertFileRow(SegmentWork& work, const Piece& piece,
                                         std::string_view cpath) {
  const SegmentToStore& segment = work.segment;
  Statement statement(connection_.get());
  if (!statement.ok()) return sr::kStatementFailed;
  const std::string loadDate = LocalLoadDate();
  const double quantity = RowDuration(piece.count, segment.rate);
  auto col = [&](const char* name) { return names_.Column(kFl, name).c_str(); };
  std::string columns = FormatStatement("%s,%s,%s,%s,%s,%s,%s,%s,%s,%s,%s,%s,%s", col("STA"),
                                        col("TBEGIN"), col("TQTY"), col("SPS"), col("GAIN"),
                                        col("CPATH"), col("DATATYPE"), col("CH"), col("CREATER"),
                                        col("LDDATE"), col("FOFF"), col("CALIB"), col("CALPER"));
  std::string values =
      FormatStatement("'%s',%0.4f,%0.2f,%0.2f,1,'%s',3,'%s','%s',{ts '%s'},%d,%0.2f,%0.2f",
                      SqlText(segment.station).c_str(), piece.start, quantity, segment.rate,
                      SqlText(dataDir_.CpathOf(cpath)).c_str(), SqlText(segment.channel).c_str(),
                      SqlText(segment.creator).c_str(), loadDate.c_str(), kDataOffset,
                      segment.calibration, segment.calibrationPeriod);
  if (useEndTime_) {
    columns += FormatStatement(",%s", col("TEND"));
    values += FormatStatement(",%0.4f", piece.start + quantity);
  }
  if (!segment.location.empty()) {
    columns += FormatStatement(",%s", col("LCODE"));
    values += FormatStatement(",'%s'", SqlText(segment.location).c_str());
  }
  const std::string text = FormatStatement(
      "insert into %s(%s) values(%s)", names_.Table(kFl).c_str(), columns.c_str(), values.c_str());
  if (!OdbcSucceeded(statement.Execute(text))) return sr::kInsertFailed;
  // A trigger may drop the row and still report success: a file without its row is not stored.
  if (statement.ChangedRows() == 0) return sr::kInsertFailed;
  ChannelFile row;
  row.cpath = cpath;
  row.offset = kDataOffset;
  row.begin = AsStoredTime(piece.start);
  row.quantity = AsStoredDuration(quantity);
  if (useEndTime_) row.end = AsStoredTime(piece.start + quantity);
  row.rate = RowRate(segment.rate);
  row.creator = segment.creator;
  work.rows.Inserted(row, loadDate);
  return sr::kOk;
}

StoreResult WaveformStore::UpdateFileRow(SegmentWork& work, const ChannelFile& file,
                                         std::int64_t samples) {
  const SegmentToStore& segment = work.segment;
  Statement statement(connection_.get());
  if (!statement.ok()) return sr::kStatementFailed;
  const std::string loadDate = LocalLoadDate();
  const double quantity = RowDuration(samples, segment.rate);
  std::string assignments =
      FormatStatement("%s=%0.2f,%s={ts '%s'}", names_.Column(kFl, "TQTY").c_str(), quantity,
                      names_.Column(kFl, "LDDATE").c_str(), loadDate.c_str());
  if (useEndTime_) {
    assignments +=
        FormatStatement(",%s=%0.4f", names_.Column(kFl, "TEND").c_str(), file.begin + quantity);
  }
  // The row is picked by its CPATH as well, so two files starting in one second stay apart.
  const std::string text = FormatStatement(
      "update %s set %s where %s='%s' and %s='%s' and %s and %s=%0.4f and %s=%0.2f and %s",
      names_.Table(kFl).c_str(), assignments.c_str(), names_.Column(kFl, "STA").c_str(),
      SqlText(segment.station).c_str(), names_.Column(kFl, "CH").c_str(),
      SqlText(segment.channel).c_str(), LocationPredicate(segment.location, true).c_str(),
      names_.Column(kFl, "TBEGIN").c_str(), file.begin, names_.Column(kFl, "TQTY").c_str(),
      file.quantity, CpathPredicate(file.cpath).c_str());
  const SQLRETURN rc = statement.Execute(text);
  if (rc == SQL_NO_DATA) {
    // No row changed: either the row went away meanwhile, or the database dropped the update
    // while reporting success (a trigger can). Only a row that is gone lets the samples go to
    // another file; beside a row that stays they would be stored twice.
    std::optional<ChannelFile> still;
    if (FindFileByPath(work.files, file.cpath, still) != sr::kOk || still) {
      return sr::kUpdateFailed;
    }
    return sr::kNoRowUpdated;
  }
  if (!OdbcSucceeded(rc)) return sr::kUpdateFailed;
  ChannelFile after = file;
  after.quantity = AsStoredDuration(quantity);
  if (useEndTime_) after.end = AsStoredTime(file.begin + quantity);
  work.rows.Updated(file, after, loadDate);
  return sr::kOk;
}

StoreResult WaveformStore::DeleteFileRow(SegmentWork& work, double begin, std::string_view cpath) {
  const SegmentToStore& segment = work.segment;
  Statement statement(connection_.get());
  if (!statement.ok()) return sr::kStatementFailed;
  const std::string text = FormatStatement(
      "delete from %s where %s='%s' and %s='%s' and %s and %s=%0.4f and %s",
      names_.Table(kFl).c_str(), names_.Column(kFl, "STA").c_str(),
      SqlText(segment.station).c_str(), names_.Column(kFl, "CH").c_str(),
      SqlText(segment.channel).c_str(), LocationPredicate(segment.location, false).c_str(),
      names_.Column(kFl, "TBEGIN").c_str(), begin, CpathPredicate(cpath).c_str());
  const SQLRETURN rc = statement.Execute(text);
  if (!OdbcSucceeded(rc) && rc != SQL_NO_DATA) return sr::kDeleteFailed;
  ForgetDeleted(work.rows, statement, cpath);
  return sr::kOk;
}

StoreResult WaveformStore::DeleteRowsOfPath(SegmentWork& work, std::string_view cpath) {
  Statement statement(connection_.get());
  if (!statement.ok()) return sr::kStatementFailed;
  const std::string text = FormatStatement("delete from %s where %s", names_.Table(kFl).c_str(),
                                           CpathPredicate(cpath).c_str());
  const SQLRETURN rc = statement.Execute(text);
  if (!OdbcSucceeded(rc) && rc != SQL_NO_DATA) return sr::kDeleteFailed;
  ForgetDeleted(work.rows, statement, cpath);
  return sr::kOk;
}

}  // namespace tarnvel
