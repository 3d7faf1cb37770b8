// Waveform files under the data directory: new files written under a staged name (or, for a
// piece staged while the SEED file was read, that unnamed file linked there) and put in place
// once their row is registered, appends to a file's registered end, samples replaced
// through a staged copy put in place once the row's update is committed, and the 512-byte
// header written from the values of the file's row (after the commit for a file extended).
// Each change is noted in the channel's lock first and handed to StoreWork, which undoes it
// should its transaction roll back and syncs it before the commit.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "store/file_header.h"
#include "store/store_lines.h"
#include "store/waveform_store.h"

namespace tarnvel {

namespace sr = store_result;

namespace {

// Same-second names tried for a new file before giving up.
constexpr int kMostSerials = 10000;

// A new file at `path` with nothing in its way: a stale staged file of a killed run is
// replaced.
FileDescriptor CreateStaged(const StoreFiles& files, const std::string& path) {
  FileDescriptor fd = files.CreateNew(path);
  if (!fd && errno == EEXIST && files.Remove(path) == StoreFiles::Removal::kRemoved) {
    fd = files.CreateNew(path);
  }
  return fd;
}

// The unnamed file the reading staged the piece's samples in, when it holds exactly them behind
// room for the header and was never named: it becomes the piece's file with one link. Claimed
// here, so that it is offered once only.
FileDescriptor StagedPieceFile(const SampleBuffer& samples, const Piece& piece) {
  const auto first = static_cast<std::size_t>(piece.first);
  const auto count = static_cast<std::size_t>(piece.count);
  const std::optional<SampleBuffer::FiledRun> run = samples.FiledRunAt(first);
  if (!run || run->first != first || run->count != count ||
      run->at + static_cast<off_t>(first * sizeof(float)) != kDataOffset) {
    return {};
  }
  struct stat info {};
  if (::fstat(run->file->fd(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink != 0 ||
      info.st_size != kDataOffset + static_cast<off_t>(count * sizeof(float)) ||
      !run->file->ClaimForName()) {
    return {};
  }
  return FileDescriptor(::dup(run->file->fd()));
}

// Copies `bytes` bytes from byte `from` of `in` to the position of `out` within the kernel;
// the bytes copied (fewer when the system copies no more: the rest is written instead).
std::size_t CopyBytes(int in, off_t from, int out, std::size_t bytes) {
  std::size_t copied = 0;
  while (copied < bytes) {
    const ssize_t n = ::copy_file_range(in, &from, out, nullptr, bytes - copied, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    copied += static_cast<std::size_t>(n);
  }
  return copied;
}

// Writes `count` samples from `first` at the position of `fd` as 4-byte little-endian floats:
// samples staged in a file while reading are copied from there without passing through memory,
// the rest (and whatever cannot be copied) written as always.
bool WriteSamples(int fd, const SampleBuffer& samples, std::size_t first, std::size_t count) {
  if constexpr (std::endian::native == std::endian::little) {
    while (count > 0) {
      const std::optional<SampleBuffer::FiledRun> run = samples.FiledRunAt(first);
      if (!run) break;  // filed samples come first: the rest lie in memory
      const std::size_t take = std::min(count, run->first + run->count - first);
      const std::size_t bytes = take * sizeof(float);
      const std::size_t copied = CopyBytes(
          run->file->fd(), run->at + static_cast<off_t>(first * sizeof(float)), fd, bytes);
      if (copied < bytes) {
        // A part of a sample copied goes back, and the rest is written.
        const std::size_t whole = copied / sizeof(float);
        const auto part = static_cast<off_t>(copied % sizeof(float));
        if (part != 0 && ::lseek(fd, -part, SEEK_CUR) < 0) return false;
        return WriteFloatsLittleEndian(fd, samples, first + whole, count - whole);
      }
      first += take;
      count -= take;
    }
  }
  return WriteFloatsLittleEndian(fd, samples, first, count);
}

// Links the unnamed file `unnamed` at `staged`: a stale staged file of a killed run is replaced.
bool LinkStaged(const StoreFiles& files, int unnamed, const std::string& staged) {
  if (files.LinkUnnamed(unnamed, staged)) return true;
  return errno == EEXIST && files.Remove(staged) == StoreFiles::Removal::kRemoved &&
         files.LinkUnnamed(unnamed, staged);
}

}  // namespace

StoreResult WaveformStore::WriteStaged(SegmentWork& work, const Note& note,
                                       const std::string& staged, std::string_view cpath,
                                       const std::function<bool(int fd)>& write, int unnamed) {
  FileDescriptor fd;
  bool linked = false;
  // Noted first: whatever a kill leaves behind, the next holder of the lock finds. An unnamed
  // file that cannot be linked there (another file system, a file system without them) leaves
  // the content to be written as without it.
  if (work_.AddNote(work.hold, note)) {
    linked = unnamed >= 0 && LinkStaged(work.files, unnamed, staged);
    if (!linked) fd = CreateStaged(work.files, staged);
  }
  if (!linked && !fd) {
    PrintOpenError(PathOnDisk(cpath));
    return sr::kFileOpenFailed;
  }
  work_.Staged(work.hold, staged, std::string(cpath));
  if (linked) {
    work_.StartWriteback(unnamed);
    return sr::kOk;
  }
  const bool written = write(fd.get());
  if (written) work_.StartWriteback(fd.get());
  if (!fd.Close() || !written) {
    Discard(work, staged);
    return sr::kFileWriteFailed;
  }
  return sr::kOk;
}

std::array<char, kWaveformHeaderSize> WaveformStore::HeaderFor(const SegmentToStore& segment,
                                                               double begin,
                                                               std::int64_t samples) const {
  return StoreHeaderOf(segment, segment.rate, begin, samples, useEndTime_);
}

StoreResult WaveformStore::WriteNewFile(SegmentWork& work, const Piece& piece) {
  const SegmentToStore& segment = work.segment;
  const std::tm local = LocalTimeOf(piece.start);

  // The first name that no row registers and nothing occupies; a link on the way is refused.
  std::string cpath;
  for (int serial = 0;; ++serial) {
    cpath = ComposeWaveformCpath(local, segment.station, segment.channel, serial);
    attempted_ = PathOnDisk(cpath);
    const StoreFiles::Entry entry = work.files.Stat(cpath);
    if (entry.kind == StoreFiles::Kind::kOther || serial == kMostSerials) {
      PrintOpenError(PathOnDisk(cpath));
      return sr::kFileOpenFailed;
    }
    if (entry.kind == StoreFiles::Kind::kRegularFile) continue;
    std::optional<ChannelFile> registered;
    if (const StoreResult rc = FindFileByPath(work.files, cpath, registered); rc != sr::kOk) {
      return rc;
    }
    if (!registered) break;
  }

  const std::string staged = StagedPathOf(cpath);
  const auto header = HeaderFor(segment, piece.start, piece.count);
  // Samples staged while reading need only the header to become the file.
  FileDescriptor unnamed = StagedPieceFile(*segment.samples, piece);
  if (unnamed && !WriteAllAt(unnamed.get(), header.data(), header.size(), 0)) unnamed.Close();
  const StoreResult staging = WriteStaged(
      work, Note::NewFile(staged, cpath), staged, cpath,
      [&](int fd) {
        return WriteAll(fd, header.data(), header.size()) &&
               WriteSamples(fd, *segment.samples, static_cast<std::size_t>(piece.first),
                            static_cast<std::size_t>(piece.count));
      },
      unnamed ? unnamed.get() : -1);
  if (staging != sr::kOk) return staging;
  if (const StoreResult rc = InsertFileRow(work, piece, cpath); rc != sr::kOk) {
    Discard(work, staged);
    return rc;
  }
  if (!work.files.Rename(staged, cpath, false)) {
    // The name was taken since it was chosen, or the file system refused: the row goes again.
    // When it cannot, the staged file stays for the next holder of the lock to settle.
    if (DeleteRowsOfPath(work, cpath) == sr::kOk) {
      Discard(work, staged);
    } else {
      work_.LeaveUnsettled(work.hold);
    }
    PrintOpenError(PathOnDisk(cpath));
    return sr::kFileOpenFailed;
  }
  work_.NewFile(work.hold, cpath, staged);
  storedThisRun_.insert(cpath);
  work_.tally().Wrote(cpath, StoreTally::FileWork::kNew, piece.count);
  return sr::kOk;
}

StoreResult WaveformStore::AppendToFile(SegmentWork& work, const Piece& piece,
                                        const ChannelFile& file, const PieceDecision& decision) {
  const SegmentToStore& segment = work.segment;
  // Samples go right after those the row registers, never after whatever else the file holds.
  const off_t registeredEnd = kDataOffset + 4 * decision.fileSamples;
  attempted_ = PathOnDisk(file.cpath);
  // Another program's file keeps its own header, as before.
  const bool ownHeader = file.creator == segment.creator;
  FileDescriptor fd;
  // The size the file goes back to, should the append stop before the row is extended.
  if (work_.AddNote(work.hold,
                    Note::Append(segment.location, file.cpath, registeredEnd, ownHeader))) {
    fd = work.files.OpenExisting(file.cpath);
  }
  if (!fd) {
    PrintOpenError(PathOnDisk(file.cpath));
    return sr::kFileOpenFailed;
  }
  work_.Extending(work.hold, file.cpath, registeredEnd);
  if (decision.keepBytes >= 0 && ::ftruncate(fd.get(), decision.keepBytes) != 0) {
    return sr::kFileWriteFailed;
  }
  const bool written =
      ::lseek(fd.get(), registeredEnd, SEEK_SET) == registeredEnd &&
      WriteSamples(fd.get(), *segment.samples, static_cast<std::size_t>(piece.first),
                   static_cast<std::size_t>(piece.count));
  if (written) work_.StartWriteback(fd.get());
  StoreResult rc = written ? UpdateFileRow(work, file, decision.fileSamples + piece.count)
                           : sr::kFileWriteFailed;
  if (rc == sr::kOk && !fd.Close()) rc = sr::kFileWriteFailed;
  if (rc != sr::kOk) {
    // Take the samples off again, so the file holds what its row says; under a lock that was
    // lost meanwhile another converter may have stored beyond that end since, and the note is
    // left to be settled by the committed rows instead.
    if (!work.hold.lock.StillNamed(work.files)) {
      work_.LeaveUnsettled(work.hold);
      return rc;
    }
    if (!fd) fd = work.files.OpenExisting(file.cpath);
    if (!fd || ::ftruncate(fd.get(), registeredEnd) != 0) work_.LeaveUnsettled(work.hold);
    return rc;
  }
  storedThisRun_.insert(file.cpath);
  work_.tally().Wrote(file.cpath, StoreTally::FileWork::kContinued, piece.count);
  // The header gives the new length only once the row does.
  if (ownHeader) {
    work_.HeaderAfterCommit(file.cpath,
                            HeaderFor(segment, file.begin, decision.fileSamples + piece.count));
  }
  return sr::kOk;
}

StoreResult WaveformStore::ReplaceSamples(SegmentWork& work, const Piece& piece,
                                          const ChannelFile& stored, std::int64_t offset,
                                          std::int64_t held, std::int64_t fileSamples) {
  const SegmentToStore& segment = work.segment;
  std::string content(static_cast<std::size_t>(kDataOffset + 4 * fileSamples), '\0');
  // A file cut inside its header has nothing worth reading: it gets its header anew.
  attempted_ = PathOnDisk(stored.cpath);
  const bool hasHeader = stored.disk.size >= kDataOffset;
  if (hasHeader) {
    const FileDescriptor old = work.files.OpenForReading(stored.cpath);
    if (!old || !ReadAllAt(old.get(), content.data(),
                           static_cast<std::size_t>(kDataOffset + 4 * held), 0)) {
      PrintOpenError(PathOnDisk(stored.cpath));
      return sr::kFileOpenFailed;
    }
  }
  std::string replacement;
  AppendFloatsLittleEndian(replacement, *segment.samples, static_cast<std::size_t>(piece.first),
                           static_cast<std::size_t>(piece.count));
  // Of the samples the file held at these times, those whose value changes; past what it held,
  // the samples are restored.
  const std::int64_t compared = std::clamp<std::int64_t>(held - offset, 0, piece.count);
  std::int64_t changed = 0;
  for (std::int64_t i = 0; i < compared; ++i) {
    const auto at = static_cast<std::size_t>(4 * i);
    if (content.compare(static_cast<std::size_t>(kDataOffset + 4 * offset) + at, 4, replacement, at,
                        4) != 0) {
      ++changed;
    }
  }
  const std::int64_t restored = piece.count - compared;
  content.replace(static_cast<std::size_t>(kDataOffset + 4 * offset), replacement.size(),
                  replacement);
  if (stored.creator == segment.creator || !hasHeader) {
    const auto header = HeaderFor(segment, stored.begin, fileSamples);
    content.replace(0, header.size(), header.data(), header.size());
  }

  const std::string staged = StagedPathOf(stored.cpath);
  const StoreResult staging =
      WriteStaged(work, Note::Replacement(staged, stored.cpath), staged, stored.cpath,
                  [&](int fd) { return WriteAll(fd, content.data(), content.size()); });
  if (staging != sr::kOk) return staging;
  // The row keeps its extent and gets the new load date.
  if (const StoreResult rc = UpdateFileRow(work, stored, fileSamples); rc != sr::kOk) {
    Discard(work, staged);
    return rc;
  }
  // The stored samples are replaced only once that update is committed: a rollback could not
  // bring them back.
  bool placed = false;
  // A copy in place is committed work: it counts then, and changed values are named.
  StoreTally rewritten;
  rewritten.Wrote(stored.cpath, StoreTally::FileWork::kRewritten, changed + restored, changed);
  rewritten.FoundStored(compared - changed);
  const bool committed = work_.CommitThenPlace(work.hold, staged, stored.cpath, rewritten, placed);
  if (placed && changed > 0) PrintReplaced(changed, PathOnDisk(stored.cpath));
  if (!committed) return sr::kStatementFailed;
  if (!placed) {
    PrintOpenError(PathOnDisk(stored.cpath));
    return sr::kFileOpenFailed;
  }
  storedThisRun_.insert(stored.cpath);
  return sr::kOk;
}

}  // namespace tarnvel
