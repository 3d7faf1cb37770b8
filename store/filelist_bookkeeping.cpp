// FILELIST bookkeeping: storing a segment as pieces of at most one hour. Each piece's samples
// are found stored already (left alone, or replaced where they differ), continue the channel's
// latest file, or start a new file; the channel stays under its quota meanwhile.
#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "seed/channel_key.h"
#include "store/store_lines.h"
#include "store/waveform_store.h"

namespace tarnvel {

namespace sr = store_result;

StoreResult WaveformStore::DeleteFileEntry(const ChannelKey& channel, double start,
                                           std::string_view path) {
  // An earlier copy is replaced by StoreSegment, once the new content is safe; removing it
  // here first would lose it whenever storing fails.
  probedFor_.reset();
  const bool reachable = ProbeFileList();
  if (reachable) probedFor_ = ProbedSegment{channel, start, std::string(path)};
  return Reported("DeleteFileEntry", channel, reachable ? sr::kOk : sr::kUnreachable);
}

StoreResult WaveformStore::StoreSegment(const SampleBuffer& samples, std::int64_t count,
                                        const ChannelKey& channel, std::string_view path,
                                        double start, double end, std::string_view creator,
                                        double rate, double calibration, double calibrationPeriod) {
  // The database answered the probe of this segment's DeleteFileEntry a moment ago: that
  // answer stands for this call too (one probe per segment, not two).
  const bool probed =
      std::exchange(probedFor_, std::nullopt) == ProbedSegment{channel, start, std::string(path)};
  if (count < 0 || static_cast<std::uint64_t>(count) > samples.size()) {
    count = static_cast<std::int64_t>(samples.size());
  }
  const SegmentToStore segment{channel,        &samples,
                               count,          std::string(path),
                               start,          end,
                               rate,           std::string(creator),
                               calibration,    calibrationPeriod,
                               ++segmentCount_};
  return Reported("StoreSegment", channel, StoreSegmentPieces(segment, probed));
}

void WaveformStore::BeginBatch() {
  probedFor_.reset();
  work_.BeginBatch();
  // What killed runs left under any channel's lock is settled before this run stores anything.
  if (ProbeFileList()) work_.SettleEveryChannel();
}

void WaveformStore::FinishBatch() {
  probedFor_.reset();
  work_.FinishBatch();
}

std::vector<WaveformStore::SegmentName> WaveformStore::TakeUndoneSegments() {
  return work_.TakeUndoneSegments();
}

WaveformStore::SegmentWork WaveformStore::WorkFor(const SegmentToStore& segment) {
  ChannelHold& hold = work_.HoldOf(segment);
  return SegmentWork{segment, work_.Files(), hold,
                     hold.rows[segment.HasLocation() ? segment.location : std::string()]};
}

StoreResult WaveformStore::StoreSegmentPieces(const SegmentToStore& segment, bool probed) {
  attempted_ = segment.path;
  const double start = segment.start;
  const double end = segment.end;
  const double rate = segment.rate;
  if (!(end > start) || !(rate > 0.0) || !std::isfinite(rate)) return sr::kEmptySpan;
  if (RowRate(rate) <= 0.0) {
    PrintRateNotStorable(segment);
    return sr::kRateNotStorable;
  }
  if (!probed && !ProbeFileList()) {
    // The open transaction is lost with the database.
    const StoreResult rc =
        work_.open() ? work_.Recover(sr::kUnreachable, nullptr) : sr::kUnreachable;
    attempted_ = segment.path;  // the segments stored again named theirs
    return rc;
  }
  // Codes become path components; none may lead out of the data directory.
  if (!HasSafeCodes(segment.station, segment.channel, segment.location)) {
    PrintOpenError(segment.path);
    return sr::kFileOpenFailed;
  }
  dataDir_.MakeDirectoryPath();

  work_.ReleaseLongHeldLocks();
  // Several converters may store the same channel; each decides and writes under its lock.
  if (work_.Hold(segment) == nullptr) {
    PrintOpenError(segment.path);
    return sr::kFileOpenFailed;
  }
  StoreResult rc = sr::kStatementFailed;
  try {
    if (work_.Open()) {
      SegmentWork work = WorkFor(segment);
      rc = StorePieces(work);
      if (rc != sr::kOk && rc != sr::kDoneWithWarning) {
        rc = work_.Recover(rc, &segment);
      } else if (!work_.SegmentStored()) {
        rc = work_.Recover(sr::kStatementFailed, &segment);
      }
    }
  } catch (...) {
    work_.RecoverFromRaised(segment);
    throw;
  }
  work_.SegmentEnded();
  return rc;
}

StoreResult WaveformStore::StoreAgain(const SegmentToStore& segment) {
  attempted_ = segment.path;
  if (work_.Hold(segment) == nullptr) {
    PrintOpenError(segment.path);
    return sr::kFileOpenFailed;
  }
  SegmentWork work = WorkFor(segment);
  return StorePieces(work);
}

StoreResult WaveformStore::StorePieces(SegmentWork& work) {
  const SegmentToStore& segment = work.segment;
  for (const Piece& piece : CutIntoPieces(segment.start, segment.rate, segment.count)) {
    // Until the piece finds its file, the file it would start is the one it tries.
    attempted_ = PathOnDisk(
        ComposeWaveformCpath(LocalTimeOf(piece.start), segment.station, segment.channel));
    if (!work_.Open()) return sr::kStatementFailed;
    work_.Enlist(segment);
    StoreResult rc = StorePiece(work, piece);
    if (rc == sr::kOk && !work_.PieceStored()) rc = sr::kStatementFailed;
    if (rc != sr::kOk) {
      work_.PieceFailed();
      return rc;
    }
  }
  return work.quotaWarned ? sr::kDoneWithWarning : sr::kOk;
}

StoreResult WaveformStore::StorePiece(SegmentWork& work, Piece piece) {
  const double rate = work.segment.rate;
  bool deadRowDropped = false;
  while (piece.count > 0) {
    std::vector<ChannelFile> around;
    if (const StoreResult rc = FindFilesAround(work, piece, around); rc != sr::kOk) return rc;
    for (ChannelFile& file : around) file.disk = work.files.Stat(file.cpath);
    // The file whose slots lie at the piece's own sample times decides; samples no file holds
    // at their times are new, wherever other files' samples lie between them.
    const PieceMatch match = MatchPiece(piece, rate, around);
    const Piece step = piece.Take(match.count);
    PieceProgress progress;
    if (match.file) {
      const ChannelFile& stored = around[*match.file];
      if (stored.disk.kind == StoreFiles::Kind::kMissing && !deadRowDropped && match.offset == 0) {
        // Converting again at the same start replaces a registration whose file is gone.
        if (const StoreResult rc = DeleteFileRow(work, stored.begin, stored.cpath); rc != sr::kOk) {
          return rc;
        }
        // Committed before a new file may take its name: rolled back (a kill, a failure), the
        // row would come back registering that uncommitted file as its own.
        StoreFiles::Removal removal = StoreFiles::Removal::kRefused;
        if (!work_.CommitThenRemove(stored.cpath, removal)) return sr::kStatementFailed;
        deadRowDropped = true;
        continue;
      }
      progress = StoreOverStoredFile(work, step, stored, match.offset);
      if (progress.result != sr::kOk) return progress.result;
    }
    // Samples the deciding file cannot take (missing, a link, cut short before them) are stored
    // as new ones.
    if (progress.samples == 0) {
      // Where no stored file decided, nothing was written since the files were looked at.
      work.lookedAt = match.file ? nullptr : &around;
      progress = StoreNewSamples(work, step);
      work.lookedAt = nullptr;
      if (progress.result != sr::kOk) return progress.result;
    }
    piece = piece.After(progress.samples, rate);
  }
  return sr::kOk;
}

WaveformStore::PieceProgress WaveformStore::StoreOverStoredFile(SegmentWork& work,
                                                                const Piece& piece,
                                                                const ChannelFile& stored,
                                                                std::int64_t offset) {
  const FileCheck check = CheckFileAgainstRow(stored);
  if (check.state == FileState::kShorter) {
    return RestoreShortenedFile(work, piece, stored, offset, check.samples);
  }
  // A link or a folder is never read or written.
  if (check.state != FileState::kMatches && check.state != FileState::kLonger) return {};
  const std::int64_t fileSamples = check.samples;
  if (offset < 0 || offset >= fileSamples) return {};
  const std::int64_t n = std::min(piece.count, fileSamples - offset);
  attempted_ = PathOnDisk(stored.cpath);

  // Samples stored unchanged at their times are left as they are.
  std::string onDisk(static_cast<std::size_t>(4 * n), '\0');
  {
    // A file that cannot be read may hold these samples already: storing them elsewhere would
    // store them twice.
    const FileDescriptor fd = work.files.OpenForReading(stored.cpath);
    if (!fd || !ReadAllAt(fd.get(), onDisk.data(), onDisk.size(), kDataOffset + 4 * offset)) {
      PrintOpenError(PathOnDisk(stored.cpath));
      return {sr::kFileOpenFailed, 0};
    }
  }
  std::string mine;
  AppendFloatsLittleEndian(mine, *work.segment.samples, static_cast<std::size_t>(piece.first),
                           static_cast<std::size_t>(n));
  if (onDisk == mine) {
    work_.tally().FoundStored(n);
    storedThisRun_.insert(stored.cpath);
    return {sr::kOk, n};
  }
  // Other values for the times the file holds replace its own.
  const StoreResult rc =
      ReplaceSamples(work, piece.Take(n), stored, offset, fileSamples, fileSamples);
  if (rc == sr::kNoRowUpdated) return {};  // the row went away meanwhile
  return {rc, rc == sr::kOk ? n : 0};
}

WaveformStore::PieceProgress WaveformStore::RestoreShortenedFile(SegmentWork& work,
                                                                 const Piece& piece,
                                                                 const ChannelFile& stored,
                                                                 std::int64_t offset,
                                                                 std::int64_t held) {
  // Only a piece that starts within what the file still holds (or right at its end, also when
  // not even its header is left) restores it; the file is never written to, only replaced
  // through a staged copy. Storing the piece in a file of its own would register the held
  // samples twice.
  if (offset < 0 || offset > held) return {};
  // The file ends where its samples or the piece's do, never beyond what its row registered.
  const std::int64_t extent =
      std::max(held, std::min(offset + piece.count, SamplesOfRow(stored).nominal));
  const std::int64_t n = std::min(piece.count, extent - offset);
  if (n <= 0) return {};
  const StoreResult rc = ReplaceSamples(work, piece.Take(n), stored, offset, held, extent);
  if (rc == sr::kNoRowUpdated) return {};  // the row went away meanwhile
  return {rc, rc == sr::kOk ? n : 0};
}

WaveformStore::PieceProgress WaveformStore::StoreNewSamples(SegmentWork& work, const Piece& piece) {
  std::optional<ChannelFile> latest;
  if (const StoreResult rc = FindLastFile(work, latest); rc != sr::kOk) return {rc, 0};
  const PieceDecision decision = DecidePiece(piece, work.segment.rate, latest);
  if (decision.action == PieceAction::kRefuse) {
    PrintOpenError(PathOnDisk(latest->cpath));
    return {sr::kFileOpenFailed, 0};
  }
  const bool append = decision.action == PieceAction::kAppend;
  const StoreResult quota =
      EnforceChannelQuota(work, latest ? latest->quantity : -1.0, append ? latest->cpath : "");
  if (quota == sr::kDoneWithWarning) {
    work.quotaWarned = true;
  } else if (quota != sr::kOk) {
    return {quota, 0};
  }
  if (decision.notice != PieceNotice::kNone) {
    PrintNotContinued(decision.notice, PathOnDisk(latest->cpath));
  }
  if (append) {
    const StoreResult rc = AppendToFile(work, piece.Take(decision.count), *latest, decision);
    if (rc == sr::kOk) return {sr::kOk, decision.count};
    // A row that went away after it was found: the piece goes to a new file instead.
    if (rc != sr::kNoRowUpdated) return {rc, 0};
  }
  const StoreResult rc = WriteNewFile(work, piece);
  if (rc != sr::kOk) return {rc, 0};
  return {sr::kOk, piece.count};
}

}  // namespace tarnvel
