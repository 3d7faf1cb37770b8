// The store's work in progress, and its one owner: the database transaction, the channel locks
// and their notes, the undo list of the files changed, the syncing, and the recovery (commit,
// roll back, undo, settle). The storing methods of WaveformStore say what they need (a lock, a
// change noted, a piece done, a replacement put in place once its row is committed); when to
// sync, commit, roll back, release and settle is decided here alone. The order of writes,
// syncs, renames and commits, and what a kill or a power cut leaves at each step, is written
// down in PROTOCOL.md beside this file.
//
// A transaction opens once a channel lock is taken and is committed at the end of a segment
// (outside a batch), at the first piece boundary after kLongestTransaction, before a staged
// replacement is put in place or a file of the quota is removed (their rows must be committed
// first), before waiting for a lock another converter holds, and at the end of a batch. Right
// before each commit the notes, files and folders it changed are synced, and every lock is
// checked to still be named by its path. Locks are released only after a commit. Whatever
// fails rolls the transaction back and puts its files back as they were; the segments it held
// are stored again, one piece per transaction, so that a failure costs exactly what it cost
// when every statement committed on its own.
#pragma once

#include <sql.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "seed/debug_sink.h"
#include "settings/data_directory.h"
#include "store/channel_lock.h"
#include "store/channel_rows.h"
#include "store/database_transaction.h"
#include "store/file_sync.h"
#include "store/file_undo.h"
#include "store/lock_note.h"
#include "store/piece_plan.h"
#include "store/segment_to_store.h"
#include "store/store_files.h"
#include "store/store_result.h"
#include "store/store_tally.h"
#include "store/waveform_header.h"

namespace tarnvel {

class StoreWork {
 public:
  // What the work asks of the store it works for.
  class Store {
   public:
    virtual ~Store() = default;
    // The FILELIST row registering `cpath` (none: `row` empty); a failure when it cannot be
    // asked.
    virtual StoreResult RowOfPath(const StoreFiles& files, std::string_view cpath,
                                  std::optional<ChannelFile>& row) = 0;
    // The header of a file of the segment's channel starting at `begin` with `samples` samples.
    virtual std::array<char, kWaveformHeaderSize> HeaderFor(const SegmentToStore& segment,
                                                            double begin,
                                                            std::int64_t samples) const = 0;
    // Stores a segment again after a failure undid it, its lock taken anew.
    virtual StoreResult StoreAgain(const SegmentToStore& segment) = 0;
    // The file the last storing wrote or tried to write last, as a path on disk.
    virtual const std::string& AttemptedFilePath() const = 0;
    virtual DebugSink& Debug() = 0;
  };

  // A channel lock taken by this converter, with what it knows of the channel's rows.
  struct ChannelHold {
    std::string station;
    std::string channel;
    ChannelLock lock;
    bool unsettled = false;    // work left in the lock's notes for the next holder to settle
    bool notesToSync = false;  // notes added since the last sync
    bool newLockFile = false;  // created by this process; its folder entry not synced yet
    FileUndo undo;             // the files changed under it in the open transaction
    std::uint64_t takenAfterProbe = 0;        // the probe count when the lock was taken
    std::map<std::string, ChannelRows> rows;  // by location code ("" for a blank one)
  };

  // A segment an earlier StoreSegment reported as stored, whose storing a later failure undid
  // and that failed when it was stored again.
  struct SegmentName : ChannelKey {
    std::string path;
  };

  // How long a transaction stays open at most before it is committed at the next piece, and how
  // long channel locks stay taken at most before they are released at the next segment: other
  // converters wait for them (SQLite lets one writer in at a time).
  static constexpr std::chrono::milliseconds kLongestTransaction{500};
  // Channel locks held at most at one time.
  static constexpr std::size_t kMostChannelsHeld = 64;

  // `directory` and `probes` (how many probes the store has had answered) belong to the store.
  StoreWork(Store& store, const DataDirectory& directory, const std::uint64_t& probes);

  // ---- connection ----
  void Connected(SQLHDBC connection) { transaction_.Configure(connection); }
  // Before the connection goes: open work is committed (or recovered), every lock released.
  void Disconnecting(bool connected);
  // Whether files are synced before their rows are committed (the default).
  void SetSyncing(bool enabled) { sync_.Enable(enabled); }
  bool syncing() const { return sync_.enabled(); }

  // The store's files, with the folders created on the way noted for the next sync.
  StoreFiles Files() { return StoreFiles(directory_, sync_.NewFolders()); }

  // ---- batches and runs ----
  void BeginBatch() { batch_ = true; }
  void FinishBatch();
  std::vector<SegmentName> TakeUndoneSegments() { return std::exchange(undone_, {}); }
  // What the committed transactions stored so far.
  const StoreTally& Committed() const { return committed_; }
  // Settles the notes of every channel whose lock can be taken without waiting; locks held by
  // others are left to their holders.
  void SettleEveryChannel();
  // Settles the notes under one channel's lock, taken without waiting (as SettleEveryChannel
  // does for each): kBusy when another process holds it, kLeft when notes stay.
  enum class Settling { kNothing, kSettled, kBusy, kLeft };
  Settling SettleChannel(const std::string& station, const std::string& channel);

  // ---- a segment ----
  // Before a segment: locks taken more than kLongestTransaction ago go, their work committed.
  void ReleaseLongHeldLocks();
  // The segment's channel lock, taken now (and what a killed run left under it settled) unless
  // held already; never waits while other locks are held, so that converters cannot wait for
  // each other. Nullptr when the lock cannot be taken.
  ChannelHold* Hold(const SegmentToStore& segment);
  // The hold of a segment whose lock is held.
  ChannelHold& HoldOf(const SegmentToStore& segment);
  // Opens a transaction unless one is open; false when the database refused.
  bool Open();
  bool open() const { return transaction_.open(); }
  // The segment has work in the open transaction (stored again should it be rolled back).
  void Enlist(const SegmentToStore& segment);
  // A piece is stored: its work may be committed now. False when that commit failed.
  bool PieceStored();
  // A piece failed: storing carefully, its transaction goes at once.
  void PieceFailed();
  // A segment is stored: committed now outside a batch. False when that commit failed.
  bool SegmentStored();
  // After a segment: its lock goes outside a batch.
  void SegmentEnded();
  // After `failure`: abandons the open work and stores its segments again one piece per
  // transaction, `current` last (its result is returned; `failure` when there is none).
  StoreResult Recover(StoreResult failure, const SegmentToStore* current);
  // A failure raised halfway through `segment`: its work goes, the segments before it are
  // stored again, and nothing half done stays open when the failure goes on.
  void RecoverFromRaised(const SegmentToStore& segment);

  // ---- the changes of the open transaction ----
  // Adds a note to the lock before the change it describes; false when it could not be written
  // (the change is not to be made then).
  bool AddNote(ChannelHold& hold, const Note& note);
  // A new file written under `staged` and put in place at `cpath`.
  void NewFile(ChannelHold& hold, const std::string& cpath, const std::string& staged);
  // A staged file (new content for `cpath`): removed should the work be undone, synced before
  // the commit.
  void Staged(ChannelHold& hold, const std::string& staged, const std::string& cpath);
  // A file about to be extended beyond its registered `bytes`.
  void Extending(ChannelHold& hold, const std::string& cpath, std::int64_t bytes);
  // The header a file gets once the open transaction is committed.
  void HeaderAfterCommit(const std::string& cpath,
                         const std::array<char, kWaveformHeaderSize>& header);
  // Removes a staged file that is not to be put in place; one that cannot be removed is left in
  // the lock's notes for the next holder.
  void Discard(ChannelHold& hold, const std::string& staged);
  // Something the work did could not be undone: the lock's notes stay for the next holder.
  void LeaveUnsettled(ChannelHold& hold) { hold.unsettled = true; }
  // What the open transaction stores, counted once it is committed (dropped should it roll
  // back).
  StoreTally& tally() { return tally_; }
  // Starts writing a file's data back (the sync before the commit then mostly finds it done).
  void StartWriteback(int fd) const { sync_.StartWriteback(fd); }

  // Commits the open work, then puts the staged replacement in place (`placed` tells whether
  // it went; what it stored, `rewritten`, is counted then) and opens the next transaction.
  // False when the commit failed.
  bool CommitThenPlace(ChannelHold& hold, const std::string& staged, const std::string& cpath,
                       const StoreTally& rewritten, bool& placed);
  // Commits the open work, then removes the file at `cpath` unless a row still registers it,
  // and opens the next transaction. False when the commit failed.
  bool CommitThenRemove(const std::string& cpath, StoreFiles::Removal& removal);

 private:
  // Commits the open transaction after syncing what it changed; `afterCommit` runs before the
  // notes are cleared. False when the work was not committed (it is to be recovered).
  bool Commit(const std::function<void(const StoreFiles&)>& afterCommit = {});
  // Commits in the middle of a piece and opens the next transaction for the piece's rest.
  bool CommitInsidePiece(const std::function<void(const StoreFiles&)>& afterCommit);
  bool SyncBeforeCommit(const StoreFiles& files);
  bool LocksStillNamed(const StoreFiles& files) const;
  // Rolls the open transaction back and puts its files back as they were. The work under a
  // lock that was lost (its file removed: another converter may be at work on the channel) is
  // not undone by name but settled by the committed rows, once the lock is taken again; every
  // lock is released then.
  void Abandon();
  void ReleaseAll();
  bool TimeToCommit() const;
  // Clears the notes of every lock whose work is all done and on stable storage.
  void ClearSettledNotes();

  // Settles the notes a killed run left under `hold` (unfinished_work.cpp). Notes of A without
  // their header field are settled only with the `creator` of the run known.
  void Settle(ChannelHold& hold, const std::string* creator);
  // Settles `notes` of the channel held by `hold` by what the rows say now, noting in `changed`
  // what is to be synced; false when something is left unsettled.
  bool SettleNotes(const ChannelHold& hold, const std::vector<tarnvel::Note>& notes,
                   const std::string* creator, SyncGroup& changed);
  StoreFiles::Removal RemoveUnregistered(const StoreFiles& files, std::string_view cpath);

  Store& store_;
  const DataDirectory& directory_;
  const std::uint64_t& probes_;

  DatabaseTransaction transaction_;
  std::chrono::steady_clock::time_point since_;
  int pieces_ = 0;                        // pieces completed in the open transaction
  std::vector<SegmentToStore> segments_;  // segments with work in it, in order
  SyncGroup sync_;
  std::map<std::string, std::array<char, kWaveformHeaderSize>> headers_;  // by CPATH
  StoreTally tally_;      // what the open transaction stored
  StoreTally committed_;  // what the committed transactions stored

  std::map<std::string, ChannelHold> holds_;  // by station and channel
  std::chrono::steady_clock::time_point heldSince_;
  bool batch_ = false;
  bool careful_ = false;          // storing again after a failure: one piece per transaction
  bool commitUncertain_ = false;  // the last commit failed: the database may have done it
  std::vector<SegmentName> undone_;
};

}  // namespace tarnvel
