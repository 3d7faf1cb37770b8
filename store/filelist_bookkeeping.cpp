// FILELIST bookkeeping: storing a segment as pieces of at most one hour, continuing the
// channel's latest file, keeping each channel under its quota and registering every file.
#include <unistd.h>

#include <cmath>
#include <ctime>
#include <vector>

#include "store/channel_lock.h"
#include "store/path_safety.h"
#include "store/waveform_store.h"

namespace tarnvel {

namespace sr = store_result;

namespace {

constexpr double kFileLengthLimit = 3600.0;
constexpr double kChannelQuota = 104857600.0;
constexpr std::uint64_t kFreeSpaceFloor = 10485760;
constexpr int kDataOffset = 512;

bool IsBlankLocation(std::string_view location) {
  return location.empty() || location == "??";
}

bool DeleteSucceeded(SQLRETURN rc) {
  return OdbcSucceeded(rc) || rc == SQL_NO_DATA;
}

std::string WithSlashes(std::string text) {
  for (char& c : text) {
    if (c == '\\') c = '/';
  }
  return text;
}

std::string LocalLoadDate() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  return text;
}

}  // namespace

std::string WaveformStore::FileListLocationPredicate(bool bracketExplicit) const {
  const std::string& lcode = names_.Column(TableId::kFileList, "LCODE");
  if (IsBlankLocation(location_)) {
    return "(" + lcode + "='?\?' or " + lcode + " is null)";
  }
  const std::string test = lcode + "='" + SqlText(location_) + "'";
  return bracketExplicit ? "(" + test + ")" : test;
}

int WaveformStore::DeleteFileEntry(std::string_view station, std::string_view channel,
                                   std::string_view location, double start, std::string_view path) {
  if (!ProbeFileList()) return sr::kUnreachable;
  Statement statement(connection_.get());
  if (!statement.ok()) return sr::kStatementFailed;
  currentPath_ = std::string(path);
  std::string relative = currentPath_;
  ToRelativePath(relative);
  relative = WithSlashes(relative);
  const std::string absolute = WithSlashes(ToAbsolutePath());
  // A file this run wrote or extended belongs to an earlier segment of the same run.
  if (writtenThisRun_.contains(NormalPath(absolute))) return sr::kOk;

  const std::string savedLocation = location_;
  location_ = std::string(location);
  const TableId fl = TableId::kFileList;
  const std::string text = FormatStatement(
      "delete from %s where %s='%s' and %s='%s' and %s and %s=%0.4f and %s='%s'",
      names_.Table(fl).c_str(), names_.Column(fl, "STA").c_str(), SqlText(station).c_str(),
      names_.Column(fl, "CH").c_str(), SqlText(channel).c_str(),
      FileListLocationPredicate(false).c_str(), names_.Column(fl, "TBEGIN").c_str(), start,
      names_.Column(fl, "CPATH").c_str(), SqlText(relative).c_str());
  location_ = savedLocation;
  if (!DeleteSucceeded(statement.Execute(text))) return sr::kDeleteFailed;
  const std::string dir = DataDirWithSlashes();
  if (dir.empty() || IsInsideDirectory(absolute, dir)) ::unlink(absolute.c_str());
  return sr::kOk;
}

int WaveformStore::StoreSegment(const SampleBuffer& samples, std::int64_t count,
                                std::string_view station, std::string_view channel,
                                std::string_view location, std::string_view path, double start,
                                double end, std::string_view creator, double rate,
                                double calibration, double calibrationPeriod) {
  samples_ = &samples;
  station_ = std::string(station);
  channel_ = std::string(channel);
  location_ = std::string(location);
  currentPath_ = std::string(path);
  start_ = start;
  end_ = end;
  duration_ = end - start;
  creator_ = std::string(creator);
  rate_ = rate;
  calibration_ = calibration;
  calibrationPeriod_ = calibrationPeriod;
  MakeDirectoryPath(dataDir_);
  if (!(end_ > start_)) return sr::kEmptySpan;
  if (!IsSafePathComponent(station_) || !IsSafePathComponent(channel_) ||
      (!location_.empty() && !IsSafePathComponent(location_))) {
    return sr::kFileOpenFailed;
  }
  // Several converters may store the same channel; each decides and writes under this lock.
  ChannelLock lock;
  if (!lock.Acquire(DataDirWithSlashes(), station_, channel_, location_)) {
    return sr::kFileOpenFailed;
  }
  return StorePieces(samples, count);
}

int WaveformStore::StorePieces(const SampleBuffer& samples, std::int64_t count) {
  if (!(end_ > start_)) return sr::kEmptySpan;
  // A rate that is not positive cannot be cut into pieces.
  if (!(rate_ > 0.0) || !std::isfinite(rate_)) return sr::kEmptySpan;
  if (!ProbeFileList()) return sr::kUnreachable;
  if (count < 0 || static_cast<std::uint64_t>(count) > samples.size()) {
    count = static_cast<std::int64_t>(samples.size());
  }

  const double perFile = kFileLengthLimit * rate_;
  const auto pieces = static_cast<std::int64_t>(std::ceil(static_cast<double>(count) / perFile));
  const auto fullPiece = static_cast<std::int64_t>(perFile);
  bool quotaWarned = false;

  for (std::int64_t i = 0; i < pieces; ++i) {
    const auto first = static_cast<std::int64_t>(perFile * static_cast<double>(i));
    const std::int64_t length = std::min(fullPiece, count - first);
    if (length <= 0) break;

    double lastBegin = -1.0;
    double lastQty = -1.0;
    std::string lastPath;
    int rc = FindLastFile(lastBegin, lastQty, lastPath);
    if (rc != sr::kOk) return rc;
    std::set<std::string> removed;
    rc = EnforceChannelQuota(lastQty, removed);
    if (rc == sr::kDoneWithWarning) {
      quotaWarned = true;
    } else if (rc != sr::kOk) {
      return rc;
    }

    const bool continues = !lastPath.empty() && !removed.contains(lastPath) &&
                           std::fabs(lastBegin + lastQty - start_) < 1.5 / rate_ &&
                           lastQty < kFileLengthLimit;
    bool appended = false;
    if (continues) {
      rc = WriteSamples(static_cast<std::size_t>(first), static_cast<std::size_t>(length), false,
                        lastPath);
      if (rc != sr::kOk) return rc;
      rc = UpdateFileRow(lastBegin, lastQty, lastPath);
      if (rc == sr::kOk) {
        appended = true;
        // The next piece begins where this one ends, as after an insert.
        if (duration_ >= kFileLengthLimit) {
          duration_ -= kFileLengthLimit;
          start_ += kFileLengthLimit;
        }
      } else {
        // Take the samples off again, so the file holds what its row says.
        const std::string path = WithSlashes(AbsoluteOf(lastPath));
        if (appendedFrom_ >= 0 && ::truncate(path.c_str(), appendedFrom_) != 0) {
          return sr::kUpdateFailed;
        }
        // The row went away after it was found: store the piece as a new file instead.
        if (rc != sr::kNoRowUpdated) return rc;
      }
    }
    if (!appended) {
      rc =
          WriteSamples(static_cast<std::size_t>(first), static_cast<std::size_t>(length), true, {});
      if (rc != sr::kOk) return rc;
      const std::string written = WithSlashes(ToAbsolutePath());
      rc = InsertFileRow(kDataOffset);
      ToRelativePath(currentPath_);
      currentPath_ = WithSlashes(currentPath_);
      if (rc != sr::kOk) {
        ::unlink(written.c_str());  // never leave a file no row registers
        return rc;
      }
    }

    const std::string cpath = appended ? lastPath : currentPath_;
    rc = WriteFileHeaderFor(cpath);
    if (rc != sr::kOk) {
      if (!appended) {
        // A new file must not stay registered behind a zero placeholder header. When its row
        // cannot be removed either (the database went away), the file stays: the row still
        // describes the samples it holds.
        if (DeleteRowsOfPath(cpath) == sr::kOk) ::unlink(WithSlashes(AbsoluteOf(cpath)).c_str());
        return rc;
      }
      // An appended file keeps its earlier header (the row and samples agree); a file of
      // another creator has no row of ours to read the header from, as before.
      if (rc != sr::kStatementFailed) return rc;
    }
  }
  return quotaWarned ? sr::kDoneWithWarning : sr::kOk;
}

int WaveformStore::FindLastFile(double& lastBegin, double& lastQty, std::string& lastPath) {
  Statement statement(connection_.get());
  if (!statement.ok()) return sr::kStatementFailed;
  const TableId fl = TableId::kFileList;
  const std::string text = FormatStatement(
      "select %s,%s,%s,%s from %s where %s='%s' and %s='%s' and %s order by %s desc,%s desc",
      names_.Column(fl, "FOFF").c_str(), names_.Column(fl, "TBEGIN").c_str(),
      names_.Column(fl, "TQTY").c_str(), names_.Column(fl, "CPATH").c_str(),
      names_.Table(fl).c_str(), names_.Column(fl, "STA").c_str(), SqlText(station_).c_str(),
      names_.Column(fl, "CH").c_str(), SqlText(channel_).c_str(),
      FileListLocationPredicate(false).c_str(), names_.Column(fl, "LDDATE").c_str(),
      names_.Column(fl, "TBEGIN").c_str());
  if (!OdbcSucceeded(statement.Execute(text))) return sr::kStatementFailed;
  std::int32_t offset = 0;
  std::array<char, 1024> path{};
  statement.BindLong(1, offset);
  statement.BindDouble(2, lastBegin);
  statement.BindDouble(3, lastQty);
  statement.BindText(4, path);
  lastPath.clear();
  SQLRETURN rc = statement.Fetch();
  if (rc == SQL_NO_DATA) return sr::kOk;
  if (!OdbcSucceeded(rc)) return sr::kStatementFailed;
  while (offset != kDataOffset) {
    lastBegin = 0.0;
    lastQty = 0.0;
    path[0] = '\0';
    rc = statement.Fetch();
    if (!OdbcSucceeded(rc)) {
      lastBegin = 0.0;
      lastQty = 0.0;
      path[0] = '\0';
      break;
    }
  }
  lastPath = path.data();
  statement.CloseCursor();
  return sr::kOk;
}

int WaveformStore::EnforceChannelQuota(double lastQty, std::set<std::string>& removed) {
  Statement statement(connection_.get());
  if (!statement.ok()) return sr::kStatementFailed;
  const TableId fl = TableId::kFileList;
  const std::string& foff = names_.Column(fl, "FOFF");
  const std::string& tqty = names_.Column(fl, "TQTY");
  const std::string& sps = names_.Column(fl, "SPS");
  const std::string channelRows = FormatStatement(
      "%s='%s' and %s='%s' and %s and %s='%s' and %s=%d", names_.Column(fl, "STA").c_str(),
      SqlText(station_).c_str(), names_.Column(fl, "CH").c_str(), SqlText(channel_).c_str(),
      FileListLocationPredicate(false).c_str(), names_.Column(fl, "CREATER").c_str(),
      SqlText(creator_).c_str(), foff.c_str(), kDataOffset);
  const std::string sumText =
      FormatStatement("select sum(%s+%s*%s*4) as SIZE from %s where %s", foff.c_str(), tqty.c_str(),
                      sps.c_str(), names_.Table(fl).c_str(), channelRows.c_str());
  if (!OdbcSucceeded(statement.Execute(sumText))) return sr::kDeleteFailed;
  // Channel totals pass 2^31 bytes easily: the sum is read as a double.
  double total = 0.0;
  statement.BindDouble(1, total);
  const SQLRETURN fetched = statement.Fetch();
  if (!OdbcSucceeded(fetched)) return sr::kDeleteFailed;
  if (statement.Indicator(1) == SQL_NULL_DATA) total = 0.0;
  statement.CloseCursor();

  double size = std::trunc(total);
  auto expected = [&] { return lastQty * rate_ * 4.0 + size; };
  std::optional<std::uint64_t> free = FreeSpace();
  // Done when the channel stays under its quota and the disk keeps its floor; a free space
  // that cannot be asked leaves the quota alone to decide.
  auto satisfied = [&] { return expected() < kChannelQuota && (!free || *free > kFreeSpaceFloor); };
  if (free && *free >= kFreeSpaceFloor && kChannelQuota > expected()) return sr::kOk;
  if (satisfied()) return sr::kOk;

  Statement list(connection_.get());
  if (!list.ok()) return sr::kStatementFailed;
  const std::string listText =
      FormatStatement("select %s,%s,%s,%s from %s where %s order by %s desc,%s desc", foff.c_str(),
                      tqty.c_str(), sps.c_str(), names_.Column(fl, "CPATH").c_str(),
                      names_.Table(fl).c_str(), channelRows.c_str(),
                      names_.Column(fl, "LDDATE").c_str(), names_.Column(fl, "TBEGIN").c_str());
  if (!OdbcSucceeded(list.Execute(listText))) return sr::kDeleteFailed;
  struct Row {
    std::int32_t offset = 0;
    double qty = 0.0;
    double rate = 0.0;
    std::string path;
  };
  std::vector<Row> rows;
  {
    std::int32_t offset = 0;
    double qty = 0.0;
    double rowRate = 0.0;
    std::array<char, 1024> path{};
    list.BindLong(1, offset);
    list.BindDouble(2, qty);
    list.BindDouble(3, rowRate);
    list.BindText(4, path);
    while (OdbcSucceeded(list.Fetch())) rows.push_back(Row{offset, qty, rowRate, path.data()});
    list.CloseCursor();
  }

  int result = sr::kOk;
  // Oldest load date first and, within one load date, earliest start first.
  for (auto row = rows.rbegin(); row != rows.rend(); ++row) {
    if (satisfied()) break;
    currentPath_ = row->path;
    const std::string onDisk = WithSlashes(ToAbsolutePath());
    if (::unlink(onDisk.c_str()) != 0) result = sr::kDoneWithWarning;
    Statement remove(connection_.get());
    if (!remove.ok()) return sr::kStatementFailed;
    const std::string text =
        FormatStatement("delete from %s where %s='%s'", names_.Table(fl).c_str(),
                        names_.Column(fl, "CPATH").c_str(), SqlText(row->path).c_str());
    if (!DeleteSucceeded(remove.Execute(text))) return sr::kDeleteFailed;
    removed.insert(row->path);
    size -= std::trunc(row->qty * row->rate * 4.0 + row->offset);
    free = FreeSpace();
  }
  return result;
}

int WaveformStore::DeleteRowsOfPath(const std::string& cpath) {
  Statement statement(connection_.get());
  if (!statement.ok()) return sr::kStatementFailed;
  const TableId fl = TableId::kFileList;
  const std::string text =
      FormatStatement("delete from %s where %s='%s'", names_.Table(fl).c_str(),
                      names_.Column(fl, "CPATH").c_str(), SqlText(cpath).c_str());
  return DeleteSucceeded(statement.Execute(text)) ? sr::kOk : sr::kDeleteFailed;
}

int WaveformStore::InsertFileRow(int dataOffset) {
  Statement statement(connection_.get());
  if (!statement.ok()) return sr::kStatementFailed;
  const std::string loadDate = LocalLoadDate();
  std::string path = currentPath_;
  ToRelativePath(path);
  path = WithSlashes(path);
  const double quantity = duration_ >= kFileLengthLimit ? kFileLengthLimit : duration_;

  // A file written over a registered path replaces that registration.
  if (DeleteRowsOfPath(path) != sr::kOk) return sr::kInsertFailed;

  const TableId fl = TableId::kFileList;
  auto col = [&](const char* name) { return names_.Column(fl, name).c_str(); };
  std::string columns = FormatStatement("%s,%s,%s,%s,%s,%s,%s,%s,%s,%s,%s,%s,%s", col("STA"),
                                        col("TBEGIN"), col("TQTY"), col("SPS"), col("GAIN"),
                                        col("CPATH"), col("DATATYPE"), col("CH"), col("CREATER"),
                                        col("LDDATE"), col("FOFF"), col("CALIB"), col("CALPER"));
  std::string values =
      FormatStatement("'%s',%0.4f,%0.2f,%0.2f,1,'%s',3,'%s','%s',{ts '%s'},%d,%0.2f,%0.2f",
                      SqlText(station_).c_str(), start_, quantity, rate_, SqlText(path).c_str(),
                      SqlText(channel_).c_str(), SqlText(creator_).c_str(), loadDate.c_str(),
                      dataOffset, calibration_, calibrationPeriod_);
  if (useEndTime_) {
    columns += FormatStatement(",%s", col("TEND"));
    values += FormatStatement(",%0.4f", start_ + quantity);
  }
  if (!location_.empty()) {
    columns += FormatStatement(",%s", col("LCODE"));
    values += FormatStatement(",'%s'", SqlText(location_).c_str());
  }
  const std::string text = FormatStatement(
      "insert into %s(%s) values(%s)", names_.Table(fl).c_str(), columns.c_str(), values.c_str());
  if (!OdbcSucceeded(statement.Execute(text))) return sr::kInsertFailed;
  if (duration_ >= kFileLengthLimit) {
    duration_ -= quantity;
    start_ += quantity;
  }
  return sr::kOk;
}

int WaveformStore::UpdateFileRow(double lastBegin, double lastQty, const std::string& cpath) {
  Statement statement(connection_.get());
  if (!statement.ok()) return sr::kStatementFailed;
  const std::string loadDate = LocalLoadDate();
  // Only this piece's length is added: a longer segment goes on in new files.
  const double added = duration_ >= kFileLengthLimit ? kFileLengthLimit : duration_;
  const TableId fl = TableId::kFileList;
  std::string assignments =
      FormatStatement("%s=%0.2f,%s={ts '%s'}", names_.Column(fl, "TQTY").c_str(), lastQty + added,
                      names_.Column(fl, "LDDATE").c_str(), loadDate.c_str());
  if (useEndTime_) {
    assignments += FormatStatement(",%s=%0.4f", names_.Column(fl, "TEND").c_str(),
                                   lastBegin + lastQty + added);
  }
  const std::string text = FormatStatement(
      "update %s set %s where %s='%s' and %s='%s' and %s and %s=%0.4f and %s=%0.2f and %s='%s'",
      names_.Table(fl).c_str(), assignments.c_str(), names_.Column(fl, "STA").c_str(),
      SqlText(station_).c_str(), names_.Column(fl, "CH").c_str(), SqlText(channel_).c_str(),
      FileListLocationPredicate(true).c_str(), names_.Column(fl, "TBEGIN").c_str(), lastBegin,
      names_.Column(fl, "TQTY").c_str(), lastQty, names_.Column(fl, "CPATH").c_str(),
      SqlText(cpath).c_str());
  const SQLRETURN rc = statement.Execute(text);
  if (OdbcSucceeded(rc)) return sr::kOk;
  return rc == SQL_NO_DATA ? sr::kNoRowUpdated : sr::kUpdateFailed;
}

}  // namespace tarnvel
