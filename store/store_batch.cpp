// Transactions and channel locks of the store: which statements are committed together, when,
// and what happens when a commit or any step of storing fails.
//
// A transaction opens once a channel lock is taken and is committed at the end of a segment
// (outside a batch), at the first piece boundary after kLongestTransaction, before a staged
// replacement is put in place or a file of the quota is removed (their rows must be committed
// first), before waiting for a lock another converter holds, and at the end of a batch. Locks
// are released only after a commit. Whatever fails rolls the transaction back and puts its
// files back as they were; the segments it held are stored again, one piece per transaction.
#include <utility>

#include "store/waveform_store.h"

namespace tarnvel {

namespace sr = store_result;

namespace {

std::string HoldKey(const SegmentToStore& segment) {
  return segment.station + '\n' + segment.channel;
}

std::string LocationKey(const std::string& location) {
  return location == "??" ? std::string() : location;
}

}  // namespace

void WaveformStore::BeginBatch() {
  batch_ = true;
}

void WaveformStore::FinishBatch() {
  if (!CommitWork()) Recover(sr::kStatementFailed, nullptr);
  ReleaseChannels();
  batch_ = false;
}

std::vector<WaveformStore::SegmentName> WaveformStore::TakeUndoneSegments() {
  return std::exchange(undone_, {});
}

WaveformStore::SegmentWork WaveformStore::WorkFor(const SegmentToStore& segment) {
  ChannelHold& hold = holds_.at(HoldKey(segment));
  return SegmentWork{segment, StoreFiles(dataDir_), hold, hold.rows[LocationKey(segment.location)]};
}

WaveformStore::ChannelHold* WaveformStore::HoldChannel(const SegmentToStore& segment, bool& taken) {
  taken = false;
  const std::string key = HoldKey(segment);
  if (const auto held = holds_.find(key); held != holds_.end()) return &held->second;
  const StoreFiles files(dataDir_);
  if (holds_.size() >= kMostChannelsHeld) {
    if (!CommitWork()) Recover(sr::kStatementFailed, nullptr);
    ReleaseChannels();
  }
  ChannelHold* hold = &holds_.try_emplace(key).first->second;
  ChannelLock::Attempt attempt = ChannelLock::Attempt::kFailed;
  if (holds_.size() == 1) {
    attempt = hold->lock.Acquire(files, segment.station, segment.channel)
                  ? ChannelLock::Attempt::kTaken
                  : ChannelLock::Attempt::kFailed;
  } else {
    attempt = hold->lock.TryAcquire(files, segment.station, segment.channel);
    if (attempt == ChannelLock::Attempt::kBusy) {
      // Another converter has it, and may be waiting for one of ours: all of ours go first.
      holds_.erase(key);
      if (!CommitWork()) Recover(sr::kStatementFailed, nullptr);
      ReleaseChannels();
      hold = &holds_.try_emplace(key).first->second;
      attempt = hold->lock.Acquire(files, segment.station, segment.channel)
                    ? ChannelLock::Attempt::kTaken
                    : ChannelLock::Attempt::kFailed;
    }
  }
  if (attempt != ChannelLock::Attempt::kTaken) {
    holds_.erase(key);
    return nullptr;
  }
  if (holds_.size() == 1) heldSince_ = std::chrono::steady_clock::now();
  hold->takenAfterProbe = probes_;
  taken = true;
  return hold;
}

void WaveformStore::ReleaseChannels() {
  // Closing a lock file releases its lock; nothing may be uncommitted then.
  if (work_.transaction.open()) AbandonWork();
  holds_.clear();
}

bool WaveformStore::EnsureWork() {
  if (work_.transaction.open()) return true;
  if (!work_.transaction.Begin()) return false;
  work_.since = std::chrono::steady_clock::now();
  return true;
}

bool WaveformStore::TimeToCommit() const {
  return std::chrono::steady_clock::now() - work_.since >= kLongestTransaction;
}

bool WaveformStore::CommitWork(const std::function<void()>& afterCommit) {
  if (!work_.transaction.open()) return true;
  if (!work_.transaction.Commit()) return false;
  if (afterCommit) afterCommit();
  tally_.Add(std::exchange(work_.tally, {}));
  work_.undo.Clear();
  work_.pieces = 0;
  work_.segments.clear();
  for (auto& [key, hold] : holds_) {
    if (!hold.unsettled) hold.lock.ClearNotes();
  }
  return true;
}

bool WaveformStore::CommitAndContinue(const std::function<void()>& afterCommit) {
  return CommitWork(afterCommit) && EnsureWork();
}

void WaveformStore::AbandonWork() {
  work_.transaction.Rollback();
  const bool undone = work_.undo.Undo(StoreFiles(dataDir_));
  work_.tally = {};
  work_.pieces = 0;
  work_.segments.clear();
  for (auto& [key, hold] : holds_) {
    // The rows went back to the last commit: what was known of them since is not so any more.
    hold.rows.clear();
    if (!undone) hold.unsettled = true;
    if (!hold.unsettled) hold.lock.ClearNotes();
  }
}

int WaveformStore::Recover(int failure, const SegmentToStore* current) {
  const bool redo = work_.pieces > 0;
  const std::vector<SegmentToStore> held = std::move(work_.segments);
  AbandonWork();
  // Nothing but the failing piece was in the transaction: it failed as it would have alone.
  if (!redo) return failure;
  careful_ = true;
  for (const SegmentToStore& segment : held) {
    if (current != nullptr && segment.serial == current->serial) continue;
    SegmentWork work = WorkFor(segment);
    const int rc = StorePieces(work);
    if (rc != sr::kOk && rc != sr::kDoneWithWarning) {
      undone_.push_back(SegmentName{segment.station, segment.channel, segment.path});
    }
  }
  int result = failure;
  if (current != nullptr) {
    SegmentWork work = WorkFor(*current);
    result = StorePieces(work);
  }
  careful_ = false;
  return result;
}

}  // namespace tarnvel
