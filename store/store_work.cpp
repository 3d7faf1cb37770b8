#include "store/store_work.h"

#include <unistd.h>

#include <utility>

namespace tarnvel {

namespace sr = store_result;

namespace {

std::string HoldKey(const SegmentToStore& segment) {
  return segment.station + '\n' + segment.channel;
}

}  // namespace

StoreWork::StoreWork(Store& store, const DataDirectory& directory, const std::uint64_t& probes)
    : store_(store), directory_(directory), probes_(probes) {}

void StoreWork::Disconnecting(bool connected) {
  // Work still open holds whole pieces only (a run that ends by a failure raised between
  // segments): it is committed like the end of a batch.
  if (connected && transaction_.open() && !Commit()) Recover(sr::kStatementFailed, nullptr);
  ReleaseAll();
  transaction_.Forget();
}

void StoreWork::FinishBatch() {
  if (!Commit()) Recover(sr::kStatementFailed, nullptr);
  ReleaseAll();
  batch_ = false;
}

void StoreWork::ReleaseLongHeldLocks() {
  if (holds_.empty() || std::chrono::steady_clock::now() - heldSince_ < kLongestTransaction) {
    return;
  }
  if (!Commit()) Recover(sr::kStatementFailed, nullptr);
  ReleaseAll();
}

StoreWork::ChannelHold& StoreWork::HoldOf(const SegmentToStore& segment) {
  return holds_.at(HoldKey(segment));
}

StoreWork::ChannelHold* StoreWork::Hold(const SegmentToStore& segment) {
  const std::string key = HoldKey(segment);
  if (const auto held = holds_.find(key); held != holds_.end()) return &held->second;
  if (holds_.size() >= kMostChannelsHeld) {
    if (!Commit()) Recover(sr::kStatementFailed, nullptr);
    ReleaseAll();
  }
  const StoreFiles files = Files();
  ChannelLock lock;
  ChannelLock::Attempt attempt = ChannelLock::Attempt::kFailed;
  if (holds_.empty()) {
    attempt = lock.Acquire(files, segment.station, segment.channel) ? ChannelLock::Attempt::kTaken
                                                                    : ChannelLock::Attempt::kFailed;
  } else {
    attempt = lock.TryAcquire(files, segment.station, segment.channel);
    if (attempt == ChannelLock::Attempt::kBusy) {
      // Another converter has it, and may be waiting for one of ours: all of ours go first.
      if (!Commit()) Recover(sr::kStatementFailed, nullptr);
      ReleaseAll();
      attempt = lock.Acquire(files, segment.station, segment.channel)
                    ? ChannelLock::Attempt::kTaken
                    : ChannelLock::Attempt::kFailed;
    }
  }
  if (attempt != ChannelLock::Attempt::kTaken) return nullptr;
  if (holds_.empty()) heldSince_ = std::chrono::steady_clock::now();
  ChannelHold& hold = holds_[key];
  hold.station = segment.station;
  hold.channel = segment.channel;
  hold.lock = std::move(lock);
  hold.newLockFile = hold.lock.created();
  hold.takenAfterProbe = probes_;
  Settle(hold, &segment.creator);
  return &hold;
}

void StoreWork::ReleaseAll() {
  // Closing a lock file releases its lock; nothing may be uncommitted then.
  if (transaction_.open()) Abandon();
  holds_.clear();
}

bool StoreWork::Open() {
  if (transaction_.open()) return true;
  if (!transaction_.Begin()) return false;
  since_ = std::chrono::steady_clock::now();
  return true;
}

void StoreWork::Enlist(const SegmentToStore& segment) {
  if (segments_.empty() || segments_.back().serial != segment.serial) {
    segments_.push_back(segment);
  }
}

bool StoreWork::TimeToCommit() const {
  return std::chrono::steady_clock::now() - since_ >= kLongestTransaction;
}

bool StoreWork::PieceStored() {
  ++pieces_;
  // The piece's file is in place: its rows may be committed.
  return !(careful_ || TimeToCommit()) || Commit();
}

void StoreWork::PieceFailed() {
  if (careful_) Abandon();
}

bool StoreWork::SegmentStored() {
  return batch_ || Commit();
}

void StoreWork::SegmentEnded() {
  if (!batch_) ReleaseAll();
}

bool StoreWork::AddNote(ChannelHold& hold, const tarnvel::Note& note) {
  if (!hold.lock.AddNote(note)) return false;
  hold.notesToSync = true;
  // A lock file this process created has a new folder entry, which the notes need too.
  if (hold.newLockFile) sync_.Folder(std::string(ChannelLock::kFolder));
  return true;
}

void StoreWork::NewFile(ChannelHold& hold, const std::string& cpath, const std::string& staged) {
  hold.undo.NewFile(cpath, staged);
  sync_.File(cpath);
  sync_.Folder(FolderOf(cpath));
}

void StoreWork::Staged(ChannelHold& hold, const std::string& staged, const std::string& cpath) {
  hold.undo.Staged(staged, cpath);
  sync_.File(staged);
}

void StoreWork::Extending(ChannelHold& hold, const std::string& cpath, std::int64_t bytes) {
  hold.undo.Extending(cpath, bytes);
  sync_.File(cpath);
}

void StoreWork::HeaderAfterCommit(const std::string& cpath,
                                  const std::array<char, kWaveformHeaderSize>& header) {
  headers_[cpath] = header;
}

void StoreWork::Discard(ChannelHold& hold, const std::string& staged) {
  const StoreFiles files = Files();
  if (files.Remove(staged) == StoreFiles::Removal::kRefused) hold.unsettled = true;
  sync_.Folder(FolderOf(staged));
}

bool StoreWork::SyncBeforeCommit(const StoreFiles& files) {
  // The notes with the work they describe: whatever of it a power cut leaves, they name.
  std::vector<int> notes;
  for (auto& [key, hold] : holds_) {
    if (!hold.notesToSync) continue;
    notes.push_back(hold.lock.descriptor());
    hold.notesToSync = false;
  }
  const bool synced = sync_.Flush(files, notes);
  if (synced) {
    for (auto& [key, hold] : holds_) hold.newLockFile = false;
  }
  return synced;
}

bool StoreWork::LocksStillNamed(const StoreFiles& files) const {
  for (const auto& [key, hold] : holds_) {
    if (!hold.lock.StillNamed(files)) return false;
  }
  return true;
}

bool StoreWork::Commit(const std::function<void(const StoreFiles&)>& afterCommit) {
  if (!transaction_.open()) return true;
  const StoreFiles files = Files();
  // What the rows register is on stable storage before them, and no lock was lost meanwhile
  // (a lock file removed by a cleaning job lets another converter in: the work is done again
  // under the lock taken anew).
  if (!SyncBeforeCommit(files)) {
    store_.Debug().Write("tarnvel store: files could not be synced; the work is done again");
    transaction_.Rollback();
    return false;
  }
  if (!LocksStillNamed(files)) {
    store_.Debug().Write(
        "tarnvel store: a channel lock file was removed while it was held; the work is done again");
    transaction_.Rollback();
    return false;
  }
  if (!transaction_.Commit()) {
    // Whether the database committed is not known: its answer may be what was lost. The work
    // is settled by what the committed rows say, as after a kill, never undone by name.
    commitUncertain_ = true;
    return false;
  }
  // Only committed work counts, once: a rolled-back transaction's tally goes with it.
  committed_.Add(std::exchange(tally_, {}));
  if (afterCommit) afterCommit(files);
  // Headers follow their rows, never ahead of them.
  bool headersWritten = true;
  for (const auto& [cpath, header] : headers_) {
    const FileDescriptor fd = files.OpenExisting(cpath);
    if (!fd || !WriteAllAt(fd.get(), header.data(), header.size(), 0)) headersWritten = false;
    sync_.File(cpath);
  }
  headers_.clear();
  // The notes stay for a header that did not reach stable storage: the next holder writes it.
  if (!sync_.Flush(files) || !headersWritten) {
    for (auto& [key, hold] : holds_) hold.unsettled = true;
  }
  for (auto& [key, hold] : holds_) hold.undo.Clear();
  pieces_ = 0;
  segments_.clear();
  ClearSettledNotes();
  return true;
}

void StoreWork::ClearSettledNotes() {
  for (auto& [key, hold] : holds_) {
    if (!hold.unsettled) hold.lock.ClearNotes();
  }
}

bool StoreWork::CommitThenPlace(ChannelHold& hold, const std::string& staged,
                                const std::string& cpath, const StoreTally& rewritten,
                                bool& placed) {
  placed = false;
  return CommitInsidePiece([&](const StoreFiles& files) {
    // From here on the replacement is due: the next holder puts it in place should this
    // process be killed before it does.
    hold.lock.AddNote(tarnvel::Note::PlaceReplacement(staged, cpath));
    placed = files.Rename(staged, cpath, true);
    if (placed) {
      // In place for good before anything reports it; committed work, so it counts.
      sync_.Folder(FolderOf(cpath));
      committed_.Add(rewritten);
    } else {
      Discard(hold, staged);
    }
  });
}

bool StoreWork::CommitThenRemove(const std::string& cpath, StoreFiles::Removal& removal) {
  removal = StoreFiles::Removal::kRefused;
  return CommitInsidePiece([&](const StoreFiles& files) {
    removal = RemoveUnregistered(files, cpath);
    if (removal == StoreFiles::Removal::kRemoved) sync_.Folder(FolderOf(cpath));
  });
}

bool StoreWork::CommitInsidePiece(const std::function<void(const StoreFiles&)>& afterCommit) {
  // The piece goes on in the next transaction: its segment stays enlisted there, so that a
  // failure of that transaction stores the segment again (what was committed of it is found
  // stored then) instead of dropping the rest of its samples unreported.
  std::optional<SegmentToStore> current;
  if (!segments_.empty()) current = segments_.back();
  if (!Commit(afterCommit)) return false;
  if (current) segments_.push_back(std::move(*current));
  return Open();
}

StoreFiles::Removal StoreWork::RemoveUnregistered(const StoreFiles& files, std::string_view cpath) {
  std::optional<ChannelFile> row;
  if (store_.RowOfPath(files, cpath, row) != sr::kOk || row) return StoreFiles::Removal::kRefused;
  return files.Remove(cpath);
}

void StoreWork::Abandon() {
  transaction_.Rollback();
  const bool uncertain = std::exchange(commitUncertain_, false);
  const StoreFiles files = Files();
  SyncGroup changed(sync_.enabled());
  struct LostWork {
    std::string station;
    std::string channel;
    std::vector<tarnvel::Note> notes;
  };
  std::vector<LostWork> lost;
  std::vector<std::string> toSettle;
  bool undone = true;
  for (auto& [key, hold] : holds_) {
    if (hold.undo.empty()) continue;
    if (hold.lock.StillNamed(files) && uncertain) {
      // The notes stay until the rows have been asked.
      hold.undo.Clear();
      hold.unsettled = true;
      toSettle.push_back(key);
    } else if (hold.lock.StillNamed(files)) {
      undone = hold.undo.Undo(files, changed) && undone;
    } else {
      lost.push_back(LostWork{hold.station, hold.channel, hold.undo.AsNotes()});
      hold.undo.Clear();
    }
  }
  undone = changed.Flush(files) && undone;
  sync_.Clear();
  headers_.clear();
  tally_ = {};
  pieces_ = 0;
  segments_.clear();
  for (auto& [key, hold] : holds_) {
    // The rows went back to the last commit: what was known of them since is not so any more.
    hold.rows.clear();
    hold.notesToSync = false;
    if (!undone) hold.unsettled = true;
  }
  ClearSettledNotes();
  for (const std::string& key : toSettle) {
    ChannelHold& hold = holds_.at(key);
    hold.unsettled = false;
    Settle(hold, nullptr);  // left for the next holder when the rows cannot be asked
  }
  if (lost.empty()) return;
  // Another converter may hold a channel whose lock file was removed: this work is settled
  // under the lock taken anew, one channel at a time, holding no other.
  holds_.clear();
  for (const LostWork& work : lost) {
    ChannelHold hold;
    hold.station = work.station;
    hold.channel = work.channel;
    if (!hold.lock.Acquire(files, work.station, work.channel)) continue;
    SyncGroup settling(sync_.enabled());
    if (SettleNotes(hold, work.notes, nullptr, settling) && settling.Flush(files)) {
      store_.Debug().Write("tarnvel store: work under the lost lock of " + work.station +
                           "::" + work.channel + " settled");
    }
    Settle(hold, nullptr);  // and whatever the lock's new notes hold
  }
}

StoreResult StoreWork::Recover(StoreResult failure, const SegmentToStore* current) {
  const bool redo = pieces_ > 0;
  const std::vector<SegmentToStore> held = std::move(segments_);
  Abandon();
  // Nothing but the failing piece was in the transaction: it failed as it would have alone.
  if (!redo) return failure;
  // Every segment is stored again under its lock taken anew (a lost lock is taken again).
  ReleaseAll();
  careful_ = true;
  for (const SegmentToStore& segment : held) {
    if (current != nullptr && segment.serial == current->serial) continue;
    const StoreResult rc = store_.StoreAgain(segment);
    if (rc != sr::kOk && rc != sr::kDoneWithWarning) {
      undone_.push_back(SegmentName{segment, store_.AttemptedFilePath()});
    }
    ReleaseAll();
  }
  StoreResult result = failure;
  if (current != nullptr) result = store_.StoreAgain(*current);
  careful_ = false;
  return result;
}

void StoreWork::RecoverFromRaised(const SegmentToStore& segment) {
  if (!segments_.empty() && segments_.back().serial == segment.serial) segments_.pop_back();
  Recover(sr::kStatementFailed, nullptr);
}

}  // namespace tarnvel
