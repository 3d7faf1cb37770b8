// The converter's store: the ODBC connection to the QOR database, the FILELIST bookkeeping,
// the waveform files under the data directory and the SITECHAN lookup.
//
// What the store promises: every sample a run reports as stored stays stored, exactly once, at
// its own time, in a file its FILELIST row describes exactly; a failure never takes away what
// was stored before. New content is written under a staged name beside its file and put in
// place once its row is registered; a file is removed from disk only after the removal of its
// own row is committed.
//
// The transaction, the channel locks, the syncing and the recovery belong to StoreWork: the
// storing methods below say what they need of it, never when to commit.
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

#include "seed/channel_key.h"
#include "seed/debug_sink.h"
#include "seed/sample_buffer.h"
#include "seed/trace_segment.h"
#include "settings/data_directory.h"
#include "settings/resolved_settings.h"
#include "store/channel_rows.h"
#include "store/odbc_statement.h"
#include "store/piece_plan.h"
#include "store/schema_names.h"
#include "store/segment_to_store.h"
#include "store/store_files.h"
#include "store/store_result.h"
#include "store/store_work.h"
#include "store/waveform_header.h"

namespace tarnvel {

// Free space of the file system holding a path; std::nullopt when it cannot be asked.
using FreeSpaceProbe = std::function<std::optional<std::uint64_t>(const std::string& path)>;

class WaveformStore : private StoreWork::Store {
 public:
  WaveformStore();
  // Connects with the resolved connection values and keeps its files under their data directory.
  explicit WaveformStore(const ResolvedSettings& settings);
  ~WaveformStore() override;  // disconnects
  WaveformStore(const WaveformStore&) = delete;
  WaveformStore& operator=(const WaveformStore&) = delete;

  // ---- connection ----
  // Takes the connection values, the data directory, the end-time switch and the syncing. They
  // are used from the next Connect on; the end-time switch turned on while connected is
  // checked against FILELIST at once.
  void Configure(const ResolvedSettings& settings);
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
  StoreResult CheckSiteChan(const ChannelKey& channel, double rate, double& siteChanRate);

  // ---- FILELIST bookkeeping ----
  // Drops the registration of an earlier copy of the segment (same channel, start and path)
  // whose file is gone. A copy whose file is there is replaced by StoreSegment, and only once
  // the new content is safe.
  StoreResult DeleteFileEntry(const ChannelKey& channel, double start, std::string_view path);
  // A failure is also named in the debug output (the segment and StoreResultText).
  StoreResult StoreSegment(const SampleBuffer& samples, std::int64_t count,
                           const ChannelKey& channel, std::string_view path, double start,
                           double end, std::string_view creator, double rate, double calibration,
                           double calibrationPeriod);

  // Batches: between the two calls StoreSegment commits its changes together with those of the
  // segments before and after it. The sample arrays handed to StoreSegment must stay as they
  // are until FinishBatch returns: a failed commit stores them again. BeginBatch first settles
  // what killed runs left under every channel lock it can take without waiting.
  void BeginBatch();
  void FinishBatch();
  // The segments earlier StoreSegment calls reported as stored whose storing was then undone
  // (a later failure rolled back their transaction) and failed when it was tried again. Each is
  // a failed segment to be reported now; the list empties.
  using SegmentName = StoreWork::SegmentName;
  std::vector<SegmentName> TakeUndoneSegments();
  // The file the last StoreSegment call wrote or tried to write last, as a path on disk: the
  // file its failure is about (before any piece found its file, the path it was given).
  const std::string& AttemptedFilePath() const override { return attempted_; }
  // What the committed transactions of this store stored so far.
  const StoreTally& Committed() const { return work_.Committed(); }

  // Whether waveform files are synced before the rows registering them are committed: on by
  // default; off (TARNVEL_NO_SYNC=1, for tests only) the store is only as safe as the page
  // cache.
  void SetSyncing(bool enabled) { work_.SetSyncing(enabled); }

  // Test and tool hook: where the free space of the data directory's file system comes from.
  void SetFreeSpaceProbe(FreeSpaceProbe probe) { freeSpace_ = std::move(probe); }
  // Where failures of store operations are named (syslog at debug level by default).
  void SetDebugSink(DebugSink& sink) { debug_ = &sink; }

  // ---- repairs, for the store checker (file_repair.cpp) ----
  // Each works under the channel's lock as a conversion does (what a killed run left there is
  // settled first), never guesses and never deletes a sample the row registers.
  // The notes under one channel's lock, settled as a conversion settles them; the lock is taken
  // without waiting (kBusy: another converter holds it).
  StoreWork::Settling SettleChannel(const std::string& station, const std::string& channel) {
    return work_.SettleChannel(station, channel);
  }
  struct FileRepair {
    enum class Action {
      kNone,           // nothing to do without a guess (or the file agrees with its row)
      kCutBack,        // a file longer than its row cut back to it (`bytes`)
      kRowShortened,   // the row of a file cut short set to the `samples` it holds, its
                       // header (the store's own) written from it
      kHeaderWritten,  // a header of the store's own written from its row
      kFailed,         // the database or the file refused; nothing changed
    };
    Action action = Action::kNone;
    std::int64_t samples = 0;
    std::int64_t bytes = 0;
  };
  // Brings the file registered at `cpath` for the channel to agree with its row where it can:
  // cuts a file longer than its row back to it, or sets the row of a file cut short (with at
  // least one whole sample) to the samples it holds. With `headerFromRow`, a header of a file
  // that holds what its row says is written from the row when the file is `creator`'s.
  FileRepair RepairFile(const ChannelKey& channel, const std::string& cpath,
                        const std::string& creator, bool headerFromRow);
  // Registers the file at `cpath` for the channel: `samples` samples at `rate` from `begin`, as
  // `creator`'s. False when a row registers it already, the file does not hold exactly that
  // many samples behind its header, or the database refuses.
  bool RegisterFile(const ChannelKey& channel, const std::string& cpath, double begin, double rate,
                    std::int64_t samples, const std::string& creator);
  // Removes the staged file `staged` (".<name>.new" beside a file of the channel) left by a run
  // that did not finish: under the channel's lock, once its notes are settled, it is nobody's
  // work. False when it is not the channel's staged name or cannot be removed.
  bool RemoveStagedFile(const std::string& station, const std::string& channel,
                        const std::string& staged);

 private:
  using ChannelHold = StoreWork::ChannelHold;
  // What one segment is stored with.
  struct SegmentWork {
    const SegmentToStore& segment;
    StoreFiles files;
    ChannelHold& hold;
    ChannelRows& rows;
    bool quotaWarned = false;
    // The files around the piece being stored, as found on disk a moment ago; nothing was
    // written since (FindLastFile takes the latest file's entry from here).
    const std::vector<ChannelFile>* lookedAt = nullptr;
  };

  void RunEndTimeColumnCheck();
  // `result` as the operation's result; a failure is named in the debug output first.
  StoreResult Reported(std::string_view operation, const ChannelKey& channel, int result);
  // `probed`: the database answered the probe for this segment already.
  StoreResult StoreSegmentPieces(const SegmentToStore& segment, bool probed);

  // ---- what StoreWork asks of the store ----
  StoreResult RowOfPath(const StoreFiles& files, std::string_view cpath,
                        std::optional<ChannelFile>& row) override;
  // The header of a file of the segment's channel starting at `begin` with `samples` samples,
  // as its row holds them.
  std::array<char, kWaveformHeaderSize> HeaderFor(const SegmentToStore& segment, double begin,
                                                  std::int64_t samples) const override;
  StoreResult StoreAgain(const SegmentToStore& segment) override;
  // The repair of one file under its lock, its transaction open.
  FileRepair RepairHeldFile(SegmentWork& work, const std::string& cpath, bool headerFromRow);
  DebugSink& Debug() override { return *debug_; }

  // ---- storing a segment (filelist_bookkeeping.cpp) ----
  SegmentWork WorkFor(const SegmentToStore& segment);
  // How far a step of storing a piece got: the piece's samples dealt with (stored, found
  // stored, or none when the file cannot take them), or the failure that stopped it.
  struct PieceProgress {
    StoreResult result = store_result::kOk;
    std::int64_t samples = 0;
  };
  StoreResult StorePieces(SegmentWork& work);
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

  // ---- FILELIST statements (filelist_rows.cpp); the channel's ChannelRows answer where they
  // can and learn every change ----
  std::string LocationPredicate(std::string_view location, bool bracketExplicit) const;
  // The test for the rows of the file at `cpath` (relative to the data directory): "CPATH='...'"
  // and, under a network share, its full path as well.
  std::string CpathPredicate(std::string_view cpath) const;
  StoreResult FindLastFile(SegmentWork& work, std::optional<ChannelFile>& latest);
  StoreResult FindFilesAround(SegmentWork& work, const Piece& piece,
                              std::vector<ChannelFile>& files);
  StoreResult FindFileByPath(const StoreFiles& files, std::string_view cpath,
                             std::optional<ChannelFile>& found);
  StoreResult InsertFileRow(SegmentWork& work, const Piece& piece, std::string_view cpath);
  // Registers `samples` samples for a file; the row is picked by its start, TQTY and CPATH.
  StoreResult UpdateFileRow(SegmentWork& work, const ChannelFile& file, std::int64_t samples);
  StoreResult DeleteRowsOfPath(SegmentWork& work, std::string_view cpath);
  // The registration of one file of the segment's channel, by its start and CPATH.
  StoreResult DeleteFileRow(SegmentWork& work, double begin, std::string_view cpath);

  // ---- channel quota (channel_quota.cpp) ----
  // Never deletes a file this run stored into, nor `continued`.
  StoreResult EnforceChannelQuota(SegmentWork& work, double lastQty, const std::string& continued);
  std::optional<std::uint64_t> FreeSpace(const StoreFiles& files) const;

  // ---- waveform files (waveform_files.cpp) ----
  StoreResult WriteNewFile(SegmentWork& work, const Piece& piece);
  StoreResult AppendToFile(SegmentWork& work, const Piece& piece, const ChannelFile& file,
                           const PieceDecision& decision);
  // Puts the piece at `offset` of a copy of the file's first `held` samples, `fileSamples` long,
  // in the file's place, registered with that many samples. Once it is in place, the samples
  // written there are counted and a line names how many stored ones changed their value.
  StoreResult ReplaceSamples(SegmentWork& work, const Piece& piece, const ChannelFile& stored,
                             std::int64_t offset, std::int64_t held, std::int64_t fileSamples);
  // Writes new content for `cpath` under `staged`, with `note` in the lock's notes first; or,
  // given an unnamed file (`unnamed`) that already holds the whole content, links it there.
  StoreResult WriteStaged(SegmentWork& work, const Note& note, const std::string& staged,
                          std::string_view cpath, const std::function<bool(int fd)>& write,
                          int unnamed = -1);
  // Removes a staged file that is not to be put in place.
  void Discard(SegmentWork& work, const std::string& staged) { work_.Discard(work.hold, staged); }
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

  std::uint64_t segmentCount_ = 0;
  std::string attempted_;  // AttemptedFilePath
  // The last answer of the probe: the latest TBEGIN of FILELIST (std::nullopt for no row), and
  // how many probes were answered.
  std::optional<double> probeLatest_;
  std::uint64_t probes_ = 0;
  // The segment whose DeleteFileEntry the database has just answered: its StoreSegment, called
  // right after with the same segment, starts from that answer instead of asking again.
  struct ProbedSegment {
    ChannelKey channel;
    double start = 0.0;
    std::string path;
    bool operator==(const ProbedSegment&) const = default;
  };
  std::optional<ProbedSegment> probedFor_;
  // The transaction, the channel locks, the syncing and the recovery.
  StoreWork work_{*this, dataDir_, probes_};

  // Files this run wrote, extended, replaced or found holding its samples (CPATH): the quota
  // never deletes them.
  std::set<std::string> storedThisRun_;
  FreeSpaceProbe freeSpace_;
  DebugSink* debug_ = &DefaultDebugSink();
};

}  // namespace tarnvel
