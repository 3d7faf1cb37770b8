// Samples of long segments, written while the SEED file is still being read: a second thread
// writes each long segment's samples, as they are decoded, into an unnamed file, and the
// segment's sample buffer lets go of every whole chunk written there (it reads them back from
// that file when they are needed), so a run holds only a bounded amount of samples in memory
// whatever the size of its input.
//
// For CSS output the file lies in the folder the segment's data file will go to, and the CSS
// writer later gives it its name with one link instead of writing the samples then. For the
// store the samples are staged as the store will file them: each hour piece of the segment
// (SamplesPerFile samples from its first on) in an unnamed file of its own on the data
// directory's file system, behind room for the header, so that a piece that becomes a new
// waveform file is named with one link instead of being written then. Until a link nothing of
// it can be seen: a run that ends early leaves no trace. Where no unnamed file can be made in
// the folder (or more would take too many descriptors), a file in the temporary folder holds
// the samples instead (never linked: the data file is written from the samples as before);
// where none can be made at all, the samples stay in memory.
#pragma once

#include <pthread.h>

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "seed/run_context.h"
#include "seed/trace_segment.h"
#include "store/posix_file.h"

namespace tarnvel {

struct StagingLimits {
  // A segment is staged once it holds this many samples (1 MiB of floats); shorter segments
  // cost little to write at the end.
  std::size_t stageFrom = std::size_t{1} << 18;
  // Samples that wait before they are handed to the writing thread, together (1 MiB of floats).
  std::size_t handOver = std::size_t{1} << 18;
  // Most segments staged in one run: each holds a file descriptor until the end of the run.
  // Never more than a quarter of the descriptors the process may open.
  std::size_t mostStaged = 256;
  // Samples of one segment that are decoded but not yet written at most (32 MiB of floats):
  // beyond it reading waits for the writing thread, so that a slow disk does not let memory
  // grow.
  std::size_t mostUnwritten = std::size_t{1} << 23;
  // Whether unnamed files (O_TMPFILE) are tried; without them a temporary file is made and its
  // name removed at once (never linked).
  bool unnamedFiles = true;
};

// The limits of a run: the defaults, or what the test-only environment variables
// TARNVEL_TEST_STAGE_FROM (samples: stageFrom, and handOver a third of it) and
// TARNVEL_TEST_NO_UNNAMED_FILES=1 ask for, so that ordinary tests take the disk-backed paths.
StagingLimits RunStagingLimits();

// How staged samples are laid out: one file per segment (CSS data files), or one per hour piece
// of the store, each piece's first sample at the byte after the header.
enum class StagingLayout { kDataFiles, kHourPieces };

// Where samples are staged that no data file will be made of: $TMPDIR, or /var/tmp (then /tmp
// where that takes no file).
std::string TemporaryFolder();

// Descriptors kept for everything but staged hour pieces: the database connection, the files the
// output phase opens and syncs together, whole staged segments.
inline constexpr std::uint64_t kDescriptorsKept = 256;

// How many hour piece files a run may hold open under a descriptor limit of `limit`: half of what
// is left once kDescriptorsKept are set aside (none under a low limit: the pieces then go where
// whole segments go).
std::size_t PieceFileBudget(std::uint64_t limit);

// Room the data disk keeps beyond two copies of the staged pieces (more than the store's own
// free-space floor).
inline constexpr std::uint64_t kStagingSpareRoom = std::uint64_t{64} << 20;

// Whether another hour piece of `pieceBytes` may be staged on the data disk, which has
// `freeBytes` free and holds `stagedBytes` of pieces already: only while a second copy of every
// staged piece still fits besides the spare room, since a piece that continues or replaces a
// stored file is copied there, and the store's free-space floor must not be reached by staging
// alone. Otherwise the pieces go to the temporary folder, as they would without staging in place.
bool RoomToStageInPlace(std::uint64_t freeBytes, std::uint64_t stagedBytes,
                        std::uint64_t pieceBytes);

class DataFileStaging final : public SegmentGrowth {
 public:
  // `folder`: where the data files will be written ('/' separators, with or without a trailing
  // one; for hour pieces the data directory); files staged elsewhere are never taken.
  // `startWriteBack`: each piece written is started on its way to the disk at once, so that
  // syncing the data file later finds little left to do (only for files that become data
  // files). Hour pieces raise the process's descriptor limit to its hard limit, half of which
  // they may hold.
  explicit DataFileStaging(std::string folder, StagingLimits limits = {},
                           bool startWriteBack = false,
                           StagingLayout layout = StagingLayout::kDataFiles);
  ~DataFileStaging();  // Stop
  DataFileStaging(const DataFileStaging&) = delete;
  DataFileStaging& operator=(const DataFileStaging&) = delete;

  // Reading thread: `segment` grew; a long one has its new samples handed to the writing
  // thread, and the chunks written by then leave memory.
  void Grew(TraceSegment& segment) override;

  // After the reading: waits until every sample handed over is written and lets the written
  // chunks of every staged segment leave memory. Hour pieces get the segments' last samples too,
  // so that every staged piece is complete.
  void Settle();

  // The unnamed file, in the data files' folder, holding exactly the first `segment.count`
  // samples of `segment` as little-endian floats, or an empty descriptor when the segment was
  // not staged there or its file could not be completed (then nothing more is staged: see
  // Abandon). The caller owns the descriptor (the segment's buffer may keep the file open too).
  FileDescriptor Take(const TraceSegment& segment);

  // Stages nothing more: waits for the write in progress and ends the thread. Staged files stay
  // open (unnamed) while the segments' buffers read released samples from them.
  void Stop();

  // Stop, and every file not yet taken goes: the samples released into it are read back into
  // memory first. From here on every data file is written as without staging, disk space
  // included.
  void Abandon();

  // Gives an unnamed file taken from here the name `path`, never through a link standing there;
  // false when it cannot, leaving the file unnamed: errno EEXIST when anything (a file, a
  // folder, a link, dangling or not) has that name, another value when the system links no
  // unnamed files.
  static bool Link(const FileDescriptor& file, const std::string& path);

 private:
  // A file taking a segment's samples [first, end), sample i at byte at + 4 i.
  struct Target {
    std::shared_ptr<SampleFile> file;
    std::size_t first = 0;
    std::size_t end = SIZE_MAX;
    off_t at = 0;
    bool inFolder = false;  // in the data files' folder: it may become a data file
  };
  struct Staged {
    TraceSegment* segment = nullptr;
    std::vector<Target> targets;  // in order (reading thread only)
    std::size_t unfiled = 0;      // the first target whose samples are not all filed yet
    bool full = false;            // no file takes its further samples: they stay in memory
    std::size_t queued = 0;       // samples handed to the writing thread (reading thread only)
    std::size_t written = 0;      // samples the writing thread has dealt with (under mutex_)
    std::size_t intact = 0;       // of those, the ones written before any write failed (mutex_)
  };
  struct Job {
    Staged* staged = nullptr;
    int fd = -1;
    const float* data = nullptr;
    std::size_t count = 0;
    off_t at = 0;  // the byte of the file the job's samples start at
    bool writeBack = false;
  };
  static constexpr std::size_t kJobs = 64;
  // Grew calls between two rounds of releasing the written chunks of every staged segment (not
  // only of the one growing: segments that ended still hold theirs).
  static constexpr std::size_t kReleaseRound = 1024;

  Staged* Find(const TraceSegment& segment);
  Staged* Start(TraceSegment& segment);
  std::shared_ptr<SampleFile> MakeFile(bool& inFolder) const;
  // Hour pieces: the file for the segment's samples from staged.queued on (under mutex_); false
  // when none can be made.
  bool AddTarget(Staged& staged);
  bool StartThread();
  void HandOver(Staged& staged, const TraceSegment& segment);
  // Lets the chunks written to their file leave the segment's memory (reading thread).
  void Release(Staged& staged);
  static void* ThreadMain(void* self);
  void WriteJobs();

  std::string folder_;
  StagingLimits limits_;
  bool startWriteBack_ = false;
  StagingLayout layout_ = StagingLayout::kDataFiles;
  std::size_t mostPieceFiles_ = 0;  // hour piece files a run may hold open
  std::size_t pieceFiles_ = 0;      // made so far
  std::uint64_t pieceBytes_ = 0;    // their bytes once complete
  bool off_ = false;                // nothing is staged (any more)
  std::vector<Staged> staged_;      // reserved up front: entries never move
  std::size_t lastFound_ = 0;
  std::size_t sinceRelease_ = 0;

  std::mutex mutex_;
  std::condition_variable wake_;  // a job arrived, or the thread is to end
  std::condition_variable done_;  // a job was finished
  std::array<Job, kJobs> jobs_{};
  std::size_t first_ = 0;  // ring of jobs: [first_, first_ + pending_) modulo kJobs
  std::size_t pending_ = 0;
  bool failed_ = false;  // a staged write failed
  bool ending_ = false;
  pthread_t thread_{};
  bool threadRunning_ = false;
};

}  // namespace tarnvel
