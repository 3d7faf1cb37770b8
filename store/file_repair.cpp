// Repairs of single files for the store checker, each a small piece of work under the
// channel's lock that follows the store's protocol: noted in the lock before it is made,
// synced before its commit, the header written after it.
#include <unistd.h>

#include "seed/channel_key.h"
#include "store/file_header.h"
#include "store/waveform_store.h"

namespace tarnvel {

namespace sr = store_result;

using Action = WaveformStore::FileRepair::Action;

WaveformStore::FileRepair WaveformStore::RepairFile(const ChannelKey& channel,
                                                    const std::string& cpath,
                                                    const std::string& creator,
                                                    bool headerFromRow) {
  if (!ProbeFileList() || !channel.HasSafeCodes() || !IsStoreRelativePath(cpath)) {
    return FileRepair{Action::kFailed};
  }
  // The rate comes from the row (the header gives it); it is read again under the lock.
  std::optional<ChannelFile> row;
  if (FindFileByPath(work_.Files(), cpath, row) != sr::kOk) return FileRepair{Action::kFailed};
  if (!row) return FileRepair{};
  SegmentToStore segment;
  static_cast<ChannelKey&>(segment) = channel;
  segment.location = HeldLocation(channel.location);
  segment.path = PathOnDisk(cpath);
  segment.rate = row->rate;
  segment.creator = creator;
  segment.serial = ++segmentCount_;

  FileRepair repair{Action::kFailed};
  if (work_.Hold(segment) == nullptr) return repair;
  if (work_.Open()) {
    SegmentWork work = WorkFor(segment);
    repair = RepairHeldFile(work, cpath, headerFromRow);
    if (repair.action == Action::kFailed) {
      work_.Recover(sr::kStatementFailed, nullptr);
    } else if (!work_.SegmentStored()) {
      work_.Recover(sr::kStatementFailed, nullptr);
      repair = FileRepair{Action::kFailed};
    }
  }
  work_.SegmentEnded();
  return repair;
}

WaveformStore::FileRepair WaveformStore::RepairHeldFile(SegmentWork& work, const std::string& cpath,
                                                        bool headerFromRow) {
  const SegmentToStore& segment = work.segment;
  std::optional<ChannelFile> row;
  if (FindFileByPath(work.files, cpath, row) != sr::kOk) return FileRepair{Action::kFailed};
  if (!row || row->offset != kDataOffset || !SameRowRate(row->rate, segment.rate)) {
    return FileRepair{};
  }
  const FileCheck check = CheckFileAgainstRow(*row);
  const bool ownHeader = row->creator == segment.creator;
  const std::int64_t size = row->disk.size;
  switch (check.state) {
    case FileState::kLonger: {
      // What lies past the registered samples was never reported stored: an append whose row
      // never came. Noted like an append, so a kill half way is settled the same way.
      if (!work_.AddNote(work.hold,
                         Note::Append(segment.location, cpath, check.keepBytes, ownHeader))) {
        return FileRepair{Action::kFailed};
      }
      const FileDescriptor fd = work.files.OpenExisting(cpath);
      if (!fd) return FileRepair{Action::kFailed};
      work_.Extending(work.hold, cpath, check.keepBytes);
      if (::ftruncate(fd.get(), check.keepBytes) != 0) return FileRepair{Action::kFailed};
      if (ownHeader) {
        work_.HeaderAfterCommit(cpath, HeaderFor(segment, row->begin, check.samples));
      }
      return FileRepair{Action::kCutBack, check.samples, check.keepBytes};
    }
    case FileState::kShorter: {
      // A file cut inside its header, or before its first sample, holds nothing to register.
      if (check.samples <= 0) return FileRepair{};
      const std::int64_t keep = kDataOffset + 4 * check.samples;
      // The row goes back to the whole samples the file holds; a piece of one more is no
      // sample.
      if (!work_.AddNote(work.hold, Note::Append(segment.location, cpath, keep, ownHeader))) {
        return FileRepair{Action::kFailed};
      }
      if (size > keep) {
        const FileDescriptor fd = work.files.OpenExisting(cpath);
        work_.Extending(work.hold, cpath, keep);
        if (!fd || ::ftruncate(fd.get(), keep) != 0) return FileRepair{Action::kFailed};
      }
      if (UpdateFileRow(work, *row, check.samples) != sr::kOk) return FileRepair{Action::kFailed};
      if (ownHeader) {
        work_.HeaderAfterCommit(cpath, HeaderFor(segment, row->begin, check.samples));
      }
      return FileRepair{Action::kRowShortened, check.samples, keep};
    }
    case FileState::kMatches: {
      if (!headerFromRow || !ownHeader) return FileRepair{};
      if (!work_.AddNote(work.hold, Note::Append(segment.location, cpath, size, true))) {
        return FileRepair{Action::kFailed};
      }
      work_.HeaderAfterCommit(cpath, HeaderFor(segment, row->begin, check.samples));
      return FileRepair{Action::kHeaderWritten, check.samples, size};
    }
    case FileState::kMissing:
    case FileState::kNotAFile:
      break;
  }
  return FileRepair{};
}

bool WaveformStore::RegisterFile(const ChannelKey& channel, const std::string& cpath, double begin,
                                 double rate, std::int64_t samples, const std::string& creator) {
  if (!ProbeFileList() || !channel.HasSafeCodes() || !IsStoreRelativePath(cpath) || samples <= 0 ||
      RowRate(rate) <= 0.0) {
    return false;
  }
  SegmentToStore segment;
  static_cast<ChannelKey&>(segment) = channel;
  segment.location = HeldLocation(channel.location);
  segment.path = PathOnDisk(cpath);
  segment.start = begin;
  segment.rate = rate;
  segment.creator = creator;
  segment.serial = ++segmentCount_;
  if (work_.Hold(segment) == nullptr) return false;
  bool registered = false;
  if (work_.Open()) {
    SegmentWork work = WorkFor(segment);
    std::optional<ChannelFile> row;
    const StoreFiles::Entry entry = work.files.Stat(cpath);
    if (FindFileByPath(work.files, cpath, row) == sr::kOk && !row &&
        entry.kind == StoreFiles::Kind::kRegularFile && entry.size == kDataOffset + 4 * samples) {
      // Its data on stable storage before the row that registers it (nothing to cut back
      // should the work be undone).
      work_.Extending(work.hold, cpath, entry.size);
      registered = InsertFileRow(work, Piece{0, samples, begin}, cpath) == sr::kOk;
    }
    if (!registered) {
      work_.Recover(sr::kInsertFailed, nullptr);
    } else if (!work_.SegmentStored()) {
      work_.Recover(sr::kStatementFailed, nullptr);
      registered = false;
    }
  }
  work_.SegmentEnded();
  return registered;
}

bool WaveformStore::RemoveStagedFile(const std::string& station, const std::string& channel,
                                     const std::string& staged) {
  const std::string folder = FolderOf(staged);
  const std::string name = staged.substr(folder.empty() ? 0 : folder.size() + 1);
  constexpr std::string_view kSuffix = ".new";
  if (name.size() <= 1 + kSuffix.size()) return false;
  const std::string cpath =
      (folder.empty() ? "" : folder + "/") + name.substr(1, name.size() - 1 - kSuffix.size());
  // Only the staged name of one of the channel's own files.
  if (StagedPathOf(cpath) != staged || !Note::NewFile(staged, cpath).BelongsTo(station, channel)) {
    return false;
  }
  SegmentToStore segment;
  segment.station = station;
  segment.channel = channel;
  segment.serial = ++segmentCount_;
  if (work_.Hold(segment) == nullptr) return false;
  const StoreFiles files = work_.Files();
  // Settled notes may have put it in place or removed it already.
  const StoreFiles::Removal removal = files.Remove(staged);
  const bool removed =
      removal != StoreFiles::Removal::kRefused && (!work_.syncing() || files.SyncFolder(folder));
  work_.SegmentEnded();
  return removed;
}

}  // namespace tarnvel
