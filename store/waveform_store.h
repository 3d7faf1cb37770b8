// The converter's store: the ODBC connection to the QOR database, the FILELIST bookkeeping,
// the waveform files under the data directory and the SITECHAN lookup.
//
// What the store promises: every sample a run reports as stored stays stored, exactly once, at
// its own time, in a file its FILELIST row describes exactly; a failure never takes away what
// was stored before. New content is written under a staged name beside its file and put in
// place once its row is registered; a file is removed from disk only after the removal of its
// own row is committed.
//
// Each piece's statements run in one transaction, committed once the piece's file is in place.
// In a batch (BeginBatch to FinishBatch) the pieces of many segments share a transaction, and
// the channel locks stay taken until it is committed, at most about kLongestTransaction apart.
// When anything fails, the transaction is rolled back and the files are put back as they were
// (FileUndo); the segments it held are then stored again one piece per transaction, so that a
// failure costs exactly what it cost when every statement committed on its own.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "seed/debug_sink.h"
#include "seed/sample_buffer.h"
#include "seed/trace_segment.h"
#include "settings/resolved_settings.h"
#include "store/channel_lock.h"
#include "store/channel_rows.h"
#include "store/data_directory.h"
#include "store/database_transaction.h"
#include "store/file_undo.h"
#include "store/odbc_statement.h"
#include "store/piece_plan.h"
#include "store/schema_names.h"
#include "store/segment_to_store.h"
#include "store/store_files.h"
#include "store/store_result.h"
#include "store/store_tally.h"
#include "store/waveform_header.h"

namespace tarnvel {

// Free space of the file system holding a path; std::nullopt when it cannot be asked.
using FreeSpaceProbe = std::function<std::optional<std::uint64_t>(const std::string& path)>;

class WaveformStore {
 public:
  WaveformStore();
  // Connects with the resolved connection values and keeps its files under their data directory.
  explicit WaveformStore(const ResolvedSettings& settings);
  ~WaveformStore();  // disconnects
  WaveformStore(const WaveformStore&) = delete;
  WaveformStore& operator=(const WaveformStore&) = delete;

  // ---- connection ----
  // Keys "odbc", "user", "password", "data", "use_tend" (case ignored); -113 for another key.
  // "data" is normalised once (DataDirectory), and the caller's text becomes the normalised
  // form too, so that the driver composes its paths from the same text.
  StoreResult SetOption(std::string_view key, std::string& value);
  bool Connect();
  void Disconnect();
  bool ProbeFileList();
  bool IsConnected() const { return static_cast<bool>(connection_); }
  bool UseEndTime() const { return useEndTime_; }
  const SchemaNames& Names() const { return names_; }
  const DataDirectory& Directory() const { return dataDir_; }
  SQLHDBC ConnectionHandle() const { return connection_.get(); }
  SQLHENV EnvironmentHandle() const { return environment_.get(); }

  // ---- SITECHAN ----
  StoreResult CheckSiteChan(std::string_view station, std::string_view channel,
                            std::string_view location, double rate, double& siteChanRate);

  // ---- FILELIST bookkeeping ----
  // Drops the registration of an earlier copy of the segment (same channel, start and path)
  // whose file is gone. A copy whose file is there is replaced by StoreSegment, and only once
  // the new content is safe.
  StoreResult DeleteFileEntry(std::string_view station, std::string_view channel,
                              std::string_view location, double start, std::string_view path);
  // A failure is also named in the debug output (the segment and StoreResultText).
  StoreResult StoreSegment(const SampleBuffer& samples, std::int64_t count,
                           std::string_view station, std::string_view channel,
                           std::string_view location, std::string_view path, double start,
                           double end, std::string_view creator, double rate, double calibration,
                           double calibrationPeriod);

  // Batches: between the two calls StoreSegment commits its changes together with those of the
  // segments before and after it. The sample arrays handed to StoreSegment must stay as they
  // are until FinishBatch returns: a failed commit stores them again.
  void BeginBatch();
  void FinishBatch();
  // The segments earlier StoreSegment calls reported as stored whose storing was then undone
  // (a later failure rolled back their transaction) and failed when it was tried again. Each is
  // a failed segment to be reported now; the list empties.
  struct SegmentName {
    std::string station;
    std::string channel;
    std::string path;
  };
  std::vector<SegmentName> TakeUndoneSegments();
  // What the committed transactions of this store stored so far.
  const StoreTally& Committed() const { return tally_; }

  // How long a transaction stays open at most before it is committed at the next piece, and how
  // long channel locks stay taken at most before they are released at the next segment: other
  // converters wait for them (SQLite lets one writer in at a time).
  static constexpr std::chrono::milliseconds kLongestTransaction{500};
  // Channel locks held at most at one time.
  static constexpr std::size_t kMostChannelsHeld = 64;

  // Test and tool hook: where the free space of the data directory's file system comes from.
  void SetFreeSpaceProbe(FreeSpaceProbe probe) { freeSpace_ = std::move(probe); }
  // Where failures of store operations are named (syslog at debug level by default).
  void SetDebugSink(DebugSink& sink) { debug_ = &sink; }

 private:
  // A channel lock taken by this converter, with what it knows of the channel's rows.
  struct ChannelHold {
    ChannelLock lock;
    bool unsettled = false;  // work left in the lock's notes for the next holder to settle
    std::uint64_t takenAfterProbe = 0;        // the probe count when the lock was taken
    std::map<std::string, ChannelRows> rows;  // by location code ("" for a blank one)
  };
  // The open transaction: what it holds and how to undo its files.
  struct OpenWork {
    DatabaseTransaction transaction;
    std::chrono::steady_clock::time_point since;
    int pieces = 0;                        // pieces completed in it
    std::vector<SegmentToStore> segments;  // segments with work in it, in order
    FileUndo undo;
    StoreTally tally;  // what it stored, counted once it is committed
  };
  // What one segment is stored with.
  struct SegmentWork {
    const SegmentToStore& segment;
    StoreFiles files;
    ChannelHold& hold;
    ChannelRows& rows;
    bool quotaWarned = false;
  };

  void RunEndTimeColumnCheck();
  // `result` as the operation's result; a failure is named in the debug output first.
  StoreResult Reported(std::string_view operation, std::string_view station,
                       std::string_view channel, std::string_view location, int result);
  int StoreSegmentPieces(const SegmentToStore& segment);

  // ---- storing a segment (filelist_bookkeeping.cpp) ----
  // How far a step of storing a piece got: the piece's samples dealt with (stored, found
  // stored, or none when the file cannot take them), or the failure that stopped it.
  struct PieceProgress {
    StoreResult result = store_result::kOk;
    std::int64_t samples = 0;
  };
  int StorePieces(SegmentWork& work);
  StoreResult StorePiece(SegmentWork& work, Piece piece);
  // Samples that no file of the channel holds yet: continue the latest file or start a new one
  // (the latest file may take fewer).
  PieceProgress StoreNewSamples(SegmentWork& work, const Piece& piece);
  // Samples a stored file holds the times of, from slot `offset` on: left alone where they are
  // stored unchanged, replaced where they differ.
  PieceProgress StoreOverStoredFile(SegmentWork& work, const Piece& piece,
                                    const ChannelFile& stored, std::int64_t offset);
  // The same for a file cut short of its row (`held` samples left, maybe not even its header),
  // converted again: its samples from slot `offset` on are replaced and the row describes the
  // file again.
  PieceProgress RestoreShortenedFile(SegmentWork& work, const Piece& piece,
                                     const ChannelFile& stored, std::int64_t offset,
                                     std::int64_t held);
  // Finishes or undoes what a killed run left in the channel lock's notes.
  void SettleUnfinishedWork(ChannelHold& hold, const SegmentToStore& segment,
                            const StoreFiles& files);

  // ---- transactions and channel locks (store_batch.cpp) ----
  SegmentWork WorkFor(const SegmentToStore& segment);
  // The channel's lock, taken now (`taken` true) unless held already; never waits while other
  // locks are held, so that converters cannot wait for each other. Nullptr when the lock cannot
  // be taken.
  ChannelHold* HoldChannel(const SegmentToStore& segment, bool& taken);
  void ReleaseChannels();
  // Opens a transaction unless one is open.
  bool EnsureWork();
  // Commits the open transaction; `afterCommit` runs before the locks' notes are cleared.
  // False when the database did not commit (the work is to be recovered).
  bool CommitWork(const std::function<void()>& afterCommit = {});
  // Commits and opens the next transaction, for a piece that goes on.
  bool CommitAndContinue(const std::function<void()>& afterCommit = {});
  // Rolls the open transaction back and puts its files back as they were.
  void AbandonWork();
  // After `failure`: abandons the open work and stores its segments again one piece per
  // transaction, `current` last (its result is returned; `failure` when there is none).
  int Recover(int failure, const SegmentToStore* current);
  bool TimeToCommit() const;

  // ---- FILELIST statements (filelist_rows.cpp); the channel's ChannelRows answer where they
  // can and learn every change ----
  std::string LocationPredicate(std::string_view location, bool bracketExplicit) const;
  int FindLastFile(SegmentWork& work, std::optional<ChannelFile>& latest);
  int FindFilesAround(SegmentWork& work, const Piece& piece, std::vector<ChannelFile>& files);
  int FindFileByPath(const StoreFiles& files, std::string_view cpath,
                     std::optional<ChannelFile>& found);
  int InsertFileRow(SegmentWork& work, const Piece& piece, std::string_view cpath);
  // Registers `samples` samples for a file; the row is picked by its start, TQTY and CPATH.
  int UpdateFileRow(SegmentWork& work, const ChannelFile& file, std::int64_t samples);
  int DeleteRowsOfPath(SegmentWork& work, std::string_view cpath);
  // The registration of one file of the segment's channel, by its start and CPATH.
  int DeleteFileRow(SegmentWork& work, double begin, std::string_view cpath);

  // ---- channel quota (channel_quota.cpp) ----
  // Never deletes a file this run stored into, nor `continued`.
  int EnforceChannelQuota(SegmentWork& work, double lastQty, const std::string& continued);
  std::optional<std::uint64_t> FreeSpace(const StoreFiles& files) const;
  // Removes the file at `cpath` unless a row still registers it (a trigger may keep a row whose
  // delete reported success); kRefused then.
  StoreFiles::Removal RemoveUnregistered(const StoreFiles& files, std::string_view cpath);

  // ---- waveform files (waveform_files.cpp) ----
  int WriteNewFile(SegmentWork& work, const Piece& piece);
  int AppendToFile(SegmentWork& work, const Piece& piece, const ChannelFile& file,
                   const PieceDecision& decision);
  // Puts the piece at `offset` of a copy of the file's first `held` samples, `fileSamples` long,
  // in the file's place, registered with that many samples. Once it is in place, the samples
  // written there are counted and a line names how many stored ones changed their value.
  StoreResult ReplaceSamples(SegmentWork& work, const Piece& piece, const ChannelFile& stored,
                             std::int64_t offset, std::int64_t held, std::int64_t fileSamples);
  // Writes new content for `cpath` under `staged`, with `note` in the lock's notes first.
  int WriteStaged(SegmentWork& work, const std::string& note, const std::string& staged,
                  std::string_view cpath, const std::function<bool(int fd)>& write);
  // Removes a staged file that is not to be put in place; one that cannot be removed is left
  // in the lock's notes for the next holder.
  void Discard(SegmentWork& work, const std::string& staged);
  // The header of a file of the segment's channel starting at `begin` with `samples` samples,
  // as its row holds them.
  std::array<char, kWaveformHeaderSize> HeaderFor(const SegmentToStore& segment, double begin,
                                                  std::int64_t samples) const;
  std::string PathOnDisk(std::string_view cpath) const { return dataDir_.ToAbsolutePath(cpath); }

  // connection
  std::string source_ = "qor";
  std::string user_ = "qor";
  std::string password_ = "zun";
  DataDirectory dataDir_{"D:/Data"};
  bool useEndTime_ = true;
  tarnvel::EnvironmentHandle environment_;
  tarnvel::ConnectionHandle connection_;
  SchemaNames names_;

  // Transactions and channel locks.
  OpenWork work_;
  std::map<std::string, ChannelHold> holds_;  // by station and channel
  std::chrono::steady_clock::time_point heldSince_;
  bool batch_ = false;
  bool careful_ = false;  // storing again after a failure: one piece per transaction
  std::uint64_t segmentCount_ = 0;
  std::vector<SegmentName> undone_;
  // The last answer of the probe: the latest TBEGIN of FILELIST (std::nullopt for no row), and
  // how many probes were answered.
  std::optional<double> probeLatest_;
  std::uint64_t probes_ = 0;

  // Files this run wrote, extended, replaced or found holding its samples (CPATH): the quota
  // never deletes them.
  std::set<std::string> storedThisRun_;
  // What committed transactions stored.
  StoreTally tally_;

  FreeSpaceProbe freeSpace_;
  DebugSink* debug_ = &DefaultDebugSink();
};

}  // namespace tarnvel
