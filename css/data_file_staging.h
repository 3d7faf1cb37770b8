// Data files of long segments, written while the SEED file is still being read: a second thread
// writes each long segment's samples, as they are decoded, into an unnamed file in the folder
// its data file will go to, and the CSS writer later gives that file its name with one link
// instead of writing the samples then. Until that link nothing of it can be seen: a run that
// ends early leaves no trace, and whatever cannot be staged exactly is written as before.
#pragma once

#include <pthread.h>

#include <array>
#include <condition_variable>
#include <cstddef>
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
  // Most segments staged in one run: each holds a file descriptor until the CSS writer takes
  // it. Never more than a quarter of the descriptors the process may open.
  std::size_t mostStaged = 256;
};

class DataFileStaging final : public SegmentGrowth {
 public:
  // `folder`: where the data files will be written ('/' separators, with or without a trailing
  // one). Nothing is staged when unnamed files cannot be made there. `startWriteBack`: each
  // piece written is started on its way to the disk at once, so that syncing the data file
  // later finds little left to do.
  explicit DataFileStaging(std::string folder, StagingLimits limits = {},
                           bool startWriteBack = false);
  ~DataFileStaging();  // Abandon
  DataFileStaging(const DataFileStaging&) = delete;
  DataFileStaging& operator=(const DataFileStaging&) = delete;

  // Reading thread: `segment` grew; a long one has its new samples handed to the writing thread.
  void Grew(const TraceSegment& segment) override;

  // The unnamed file holding exactly the first `segment.count` samples of `segment` as
  // little-endian floats, or an empty descriptor when the segment was not staged or its file
  // could not be completed (then nothing more is staged: see Abandon). The caller owns it.
  FileDescriptor Take(const TraceSegment& segment);

  // Drops every file not yet taken and stages nothing more, so that from here on every data
  // file is written exactly as without staging, disk space included. Waits for the write in
  // progress and ends the thread; the segments' samples are not used after it returns.
  void Abandon();

  // Gives an unnamed file taken from here the name `path`, never through a link standing there;
  // false when it cannot, leaving the file unnamed: errno EEXIST when anything (a file, a
  // folder, a link, dangling or not) has that name, another value when the system links no
  // unnamed files.
  static bool Link(const FileDescriptor& file, const std::string& path);

 private:
  struct Staged {
    const TraceSegment* segment = nullptr;
    FileDescriptor file;
    std::size_t queued = 0;   // samples handed to the writing thread (reading thread only)
    std::size_t written = 0;  // samples the writing thread has written (under mutex_)
  };
  struct Job {
    Staged* staged = nullptr;
    int fd = -1;
    const float* data = nullptr;
    std::size_t count = 0;
    std::size_t first = 0;  // the sample of the file the job's samples start at
  };
  static constexpr std::size_t kJobs = 64;

  Staged* Find(const TraceSegment& segment);
  Staged* Start(const TraceSegment& segment);
  bool StartThread();
  void HandOver(Staged& staged, const TraceSegment& segment);
  static void* ThreadMain(void* self);
  void WriteJobs();

  std::string folder_;
  StagingLimits limits_;
  bool startWriteBack_ = false;
  bool off_ = false;            // nothing is staged (any more)
  std::vector<Staged> staged_;  // reserved up front: entries never move
  std::size_t lastFound_ = 0;

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
