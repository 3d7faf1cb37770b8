#include "css/data_file_staging.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstdio>
#include <span>

namespace tarnvel {

namespace {

// The writing thread only waits and calls write(2): a small stack does, and keeps the run's
// address space (and so where memory runs out) nearly what it is without the thread.
constexpr std::size_t kThreadStack = std::size_t{256} << 10;

// Staged files hold descriptors until they are taken; a quarter of what the process may open
// leaves the rest to the database and the files the output phase opens.
std::size_t MostStaged(std::size_t wanted) {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  if (limit.rlim_cur == RLIM_INFINITY) return wanted;
  return std::min<std::size_t>(wanted, limit.rlim_cur / 4);
}

}  // namespace

DataFileStaging::DataFileStaging(std::string folder, StagingLimits limits, bool startWriteBack)
    : folder_(std::move(folder)), limits_(limits), startWriteBack_(startWriteBack) {
#ifndef O_TMPFILE
  off_ = true;
#endif
  // Samples are written as they lie in memory.
  if constexpr (std::endian::native != std::endian::little) off_ = true;
  if (folder_.empty()) folder_ = ".";
  staged_.reserve(MostStaged(limits_.mostStaged));
  if (staged_.capacity() == 0) off_ = true;
}

DataFileStaging::~DataFileStaging() {
  Abandon();
}

DataFileStaging::Staged* DataFileStaging::Find(const TraceSegment& segment) {
  if (lastFound_ < staged_.size() && staged_[lastFound_].segment == &segment) {
    return &staged_[lastFound_];
  }
  for (std::size_t i = 0; i < staged_.size(); ++i) {
    if (staged_[i].segment == &segment) {
      lastFound_ = i;
      return &staged_[i];
    }
  }
  return nullptr;
}

DataFileStaging::Staged* DataFileStaging::Start(const TraceSegment& segment) {
  // Entries never move: the writing thread holds pointers to them.
  if (staged_.size() == staged_.capacity()) return nullptr;
  if (!threadRunning_ && !StartThread()) {
    off_ = true;
    return nullptr;
  }
#ifdef O_TMPFILE
  FileDescriptor file = OpenFile(folder_, O_TMPFILE | O_WRONLY, 0666);
#else
  FileDescriptor file;
#endif
  if (!file) {
    off_ = true;  // the folder does not exist (yet), or takes no unnamed files
    return nullptr;
  }
  Staged& staged = staged_.emplace_back();
  staged.segment = &segment;
  staged.file = std::move(file);
  lastFound_ = staged_.size() - 1;
  return &staged;
}

bool DataFileStaging::StartThread() {
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) != 0) return false;
  pthread_attr_setstacksize(&attributes, kThreadStack);
  // Every signal stays with the reading thread. A write past a file-size limit then fails
  // (EFBIG) and staging stops, instead of its SIGXFSZ ending the run in the middle of reading;
  // the write of that data file at its own time meets the limit as it always would.
  sigset_t all;
  sigset_t previous;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &previous);
  const int created = pthread_create(&thread_, &attributes, &DataFileStaging::ThreadMain, this);
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  pthread_attr_destroy(&attributes);
  threadRunning_ = created == 0;
  return threadRunning_;
}

void* DataFileStaging::ThreadMain(void* self) {
  static_cast<DataFileStaging*>(self)->WriteJobs();
  return nullptr;
}

// The writing thread. It allocates nothing: no second malloc arena is made for it.
void DataFileStaging::WriteJobs() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return ending_ || pending_ > 0; });
    if (ending_) return;
    const Job job = jobs_[first_];
    first_ = (first_ + 1) % kJobs;
    --pending_;
    const bool skip = failed_;
    lock.unlock();
    const bool ok = skip || WriteAll(job.fd, job.data, job.count * sizeof(float));
    if (ok && !skip && startWriteBack_) {
      StartWriteBack(job.fd, static_cast<off_t>(job.first * sizeof(float)),
                     static_cast<off_t>(job.count * sizeof(float)));
    }
    lock.lock();
    if (!ok) failed_ = true;
    job.staged->written += job.count;
    done_.notify_all();
  }
}

void DataFileStaging::Grew(const TraceSegment& segment) {
  if (off_ || segment.samples.size() < limits_.stageFrom) return;
  Staged* staged = Find(segment);
  if (staged == nullptr) staged = Start(segment);
  if (staged == nullptr || segment.samples.size() - staged->queued < limits_.handOver) return;
  HandOver(*staged, segment);
}

void DataFileStaging::HandOver(Staged& staged, const TraceSegment& segment) {
  bool failed = false;
  {
    const std::lock_guard lock(mutex_);
    failed = failed_;
    if (!failed) {
      // Whole pieces of the buffer's chunks, as many as the ring takes; the rest goes with the
      // next hand-over or is written when the file is taken.
      segment.samples.ForEachSpan(
          staged.queued, segment.samples.size() - staged.queued, [&](std::span<const float> piece) {
            if (pending_ == kJobs) return;
            jobs_[(first_ + pending_) % kJobs] =
                Job{&staged, staged.file.get(), piece.data(), piece.size(), staged.queued};
            ++pending_;
            staged.queued += piece.size();
          });
    }
  }
  if (failed) {
    Abandon();
    return;
  }
  wake_.notify_one();
}

FileDescriptor DataFileStaging::Take(const TraceSegment& segment) {
  Staged* staged = Find(segment);
  if (staged == nullptr || !staged->file) return {};
  bool failed = false;
  {
    std::unique_lock lock(mutex_);
    done_.wait(lock, [&] { return staged->written == staged->queued; });
    failed = failed_;
  }
  const auto count = static_cast<std::size_t>(std::max<std::int64_t>(segment.count, 0));
  if (failed || count < staged->queued ||
      !WriteFloatsLittleEndian(staged->file.get(), segment.samples, staged->queued,
                               count - staged->queued)) {
    Abandon();
    return {};
  }
  return std::move(staged->file);
}

void DataFileStaging::Abandon() {
  off_ = true;
  // The thread ends first: the samples may be released once this returns, and a process of
  // one thread unmaps them without interrupting another processor.
  if (threadRunning_) {
    {
      const std::lock_guard lock(mutex_);
      pending_ = 0;
      ending_ = true;
    }
    wake_.notify_all();
    pthread_join(thread_, nullptr);
    threadRunning_ = false;
  }
  for (Staged& staged : staged_) staged.file.Close();
}

bool DataFileStaging::Link(const FileDescriptor& file, const std::string& path) {
  char self[64];
  std::snprintf(self, sizeof self, "/proc/self/fd/%d", file.get());
  return ::linkat(AT_FDCWD, self, AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

}  // namespace tarnvel
