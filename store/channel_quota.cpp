// The channel quota: a channel's files of this converter stay under 100 MiB together, and the
// data directory's file system keeps 10 MiB free, by deleting the channel's oldest files of
// this converter. Files this run stored into, and the file the current piece continues, are
// never deleted; the deleting stops as soon as both conditions hold. A file is removed from
// disk once the removal of its row is committed (StoreWork::CommitThenRemove).
#include <sys/statvfs.h>

#include <cmath>
#include <vector>

#include "store/waveform_store.h"

namespace tarnvel {

namespace sr = store_result;

namespace {

constexpr TableId kFl = TableId::kFileList;
constexpr double kChannelQuota = 104857600.0;
constexpr std::uint64_t kFreeSpaceFloor = 10485760;
// How far under the quota a channel whose size is only known to be at most so much must be
// for the sum not to be asked again: far more than the rounding of any sum.
constexpr double kSizeMargin = 65536.0;

struct QuotaRow {
  std::int32_t offset = 0;
  double quantity = 0.0;
  double rate = 0.0;
  std::string path;
};

}  // namespace

std::optional<std::uint64_t> WaveformStore::FreeSpace(const StoreFiles& files) const {
  if (freeSpace_) return freeSpace_(files.Directory().Text());
  return files.FreeSpace();
}

StoreResult WaveformStore::EnforceChannelQuota(SegmentWork& work, double lastQty,
                                               const std::string& continued) {
  const SegmentToStore& segment = work.segment;
  std::optional<std::uint64_t> free = FreeSpace(work.files);
  // A channel known to be well under its quota on a disk with room to spare needs no sum.
  if (const auto most = work.rows.SizeAtMost(segment.creator);
      most && (!free || *free >= kFreeSpaceFloor) &&
      lastQty * segment.rate * 4.0 + *most < kChannelQuota - kSizeMargin) {
    return sr::kOk;
  }
  Statement statement(connection_.get());
  if (!statement.ok()) return sr::kStatementFailed;
  const std::string& foff = names_.Column(kFl, "FOFF");
  const std::string& tqty = names_.Column(kFl, "TQTY");
  const std::string& sps = names_.Column(kFl, "SPS");
  const std::string channelRows = FormatStatement(
      "%s='%s' and %s='%s' and %s and %s='%s' and %s=%d", names_.Column(kFl, "STA").c_str(),
      SqlText(segment.station).c_str(), names_.Column(kFl, "CH").c_str(),
      SqlText(segment.channel).c_str(), LocationPredicate(segment.location, false).c_str(),
      names_.Column(kFl, "CREATER").c_str(), SqlText(segment.creator).c_str(), foff.c_str(),
      kDataOffset);
  const std::string sumText =
      FormatStatement("select sum(%s+%s*%s*4) as SIZE from %s where %s", foff.c_str(), tqty.c_str(),
                      sps.c_str(), names_.Table(kFl).c_str(), channelRows.c_str());
  if (!OdbcSucceeded(statement.Execute(sumText))) return sr::kDeleteFailed;
  // Channel totals pass 2^31 bytes easily: the sum is read as a double.
  double total = 0.0;
  statement.BindDouble(1, total);
  if (!OdbcSucceeded(statement.Fetch())) return sr::kDeleteFailed;
  if (statement.Indicator(1) == SQL_NULL_DATA) total = 0.0;
  statement.CloseCursor();
  work.rows.LearnSize(segment.creator, total);

  double size = std::trunc(total);
  auto expected = [&] { return lastQty * segment.rate * 4.0 + size; };
  // Done when the channel stays under its quota and the disk keeps its floor; a free space
  // that cannot be asked leaves the quota alone to decide.
  auto satisfied = [&] { return expected() < kChannelQuota && (!free || *free > kFreeSpaceFloor); };
  if (free && *free >= kFreeSpaceFloor && kChannelQuota > expected()) return sr::kOk;
  if (satisfied()) return sr::kOk;

  Statement list(connection_.get());
  if (!list.ok()) return sr::kStatementFailed;
  const std::string listText =
      FormatStatement("select %s,%s,%s,%s from %s where %s order by %s desc,%s desc", foff.c_str(),
                      tqty.c_str(), sps.c_str(), names_.Column(kFl, "CPATH").c_str(),
                      names_.Table(kFl).c_str(), channelRows.c_str(),
                      names_.Column(kFl, "LDDATE").c_str(), names_.Column(kFl, "TBEGIN").c_str());
  if (!OdbcSucceeded(list.Execute(listText))) return sr::kDeleteFailed;
  std::vector<QuotaRow> rows;
  {
    QuotaRow row;
    std::array<char, 1024> path{};
    list.BindLong(1, row.offset);
    list.BindDouble(2, row.quantity);
    list.BindDouble(3, row.rate);
    list.BindText(4, path);
    while (OdbcSucceeded(list.Fetch())) {
      row.path = dataDir_.FromCpath(path.data());
      rows.push_back(row);
    }
    list.CloseCursor();
  }

  StoreResult result = sr::kOk;
  // Oldest load date first and, within one load date, earliest start first.
  for (auto row = rows.rbegin(); row != rows.rend(); ++row) {
    if (satisfied()) break;
    if (row->path == continued || storedThisRun_.contains(row->path)) continue;
    // Something that is not a plain file below the data directory is neither ours to remove
    // nor to forget.
    if (!IsStoreRelativePath(row->path) ||
        work.files.Stat(row->path).kind == StoreFiles::Kind::kOther) {
      result = sr::kDoneWithWarning;
      continue;
    }
    // The row goes first: a file is removed from disk only once the removal of its row is
    // committed, and only when no row registers it then (a trigger may keep a row whose delete
    // reported success). The note lets the next holder remove the file when a kill comes in
    // between (on a disk too full for the note, the deleting goes on without it).
    work_.AddNote(work.hold, Note::Removal(row->path));
    if (DeleteRowsOfPath(work, row->path) != sr::kOk) return sr::kDeleteFailed;
    StoreFiles::Removal removal = StoreFiles::Removal::kRefused;
    if (!work_.CommitThenRemove(row->path, removal)) return sr::kDeleteFailed;
    if (removal != StoreFiles::Removal::kRemoved) result = sr::kDoneWithWarning;
    size -= std::trunc(row->quantity * row->rate * 4.0 + row->offset);
    free = FreeSpace(work.files);
  }
  work.rows.ForgetSize();
  return result;
}

}  // namespace tarnvel
