#include "css/data_file_staging.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <span>

#include "store/piece_plan.h"

namespace tarnvel {

namespace {

// The writing thread only waits and calls write(2): a small stack does, and keeps the run's
// address space (and so where memory runs out) nearly what it is without the thread.
constexpr std::size_t kThreadStack = std::size_t{256} << 10;

// Staged files hold descriptors until the run ends; a quarter of what the process may open
// leaves the rest to the database and the files the output phase opens.
std::size_t MostStaged(std::size_t wanted) {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  if (limit.rlim_cur == RLIM_INFINITY) return wanted;
  return std::min<std::size_t>(wanted, limit.rlim_cur / 4);
}

// Hour pieces hold a descriptor each until the run ends: thousands for an input of a few GiB.
// The soft limit goes up to the hard one, and pieces take their budget of it.
std::size_t MostPieceFiles() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  if (limit.rlim_cur != limit.rlim_max) {
    rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max;
    if (setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  if (limit.rlim_cur == RLIM_INFINITY) return PieceFileBudget(std::uint64_t{1} << 21);
  return PieceFileBudget(limit.rlim_cur);
}

// The bytes the file system of `folder` has free for this process, or none when unknown.
std::optional<std::uint64_t> FreeBytes(const std::string& folder) {
  struct statvfs info {};
  if (::statvfs(folder.c_str(), &info) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
}

// An unnamed file in `folder` (O_TMPFILE) that may get a name later; -1 when the system makes
// none there.
int UnnamedFile(const std::string& folder) {
#ifdef O_TMPFILE
  int fd = -1;
  do {
    fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd;
#else
  static_cast<void>(folder);
  errno = EOPNOTSUPP;
  return -1;
#endif
}

// A file in `folder` no name leads to, open for reading and writing: an unnamed one when
// `unnamed` and the system makes them there, else a temporary one whose name is removed at once.
FileDescriptor AnonymousFile(const std::string& folder, bool unnamed) {
#ifdef O_TMPFILE
  if (unnamed) {
    FileDescriptor file = OpenFile(folder, O_TMPFILE | O_RDWR, 0666);
    if (file || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) return file;
  }
#else
  static_cast<void>(unnamed);
#endif
  std::string name = folder;
  if (name.empty() || name.back() != '/') name += '/';
  name += ".tarnvel-samples-XXXXXX";
  const int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) return {};
  ::unlink(name.c_str());
  return FileDescriptor(fd);
}

}  // namespace

std::size_t PieceFileBudget(std::uint64_t limit) {
  return limit > kDescriptorsKept ? static_cast<std::size_t>((limit - kDescriptorsKept) / 2) : 0;
}

bool RoomToStageInPlace(std::uint64_t freeBytes, std::uint64_t stagedBytes,
                        std::uint64_t pieceBytes) {
  const std::uint64_t copies = stagedBytes + pieceBytes;
  if (copies > (UINT64_MAX - kStagingSpareRoom) / 2) return false;
  return freeBytes >= 2 * copies + kStagingSpareRoom;
}

std::string TemporaryFolder() {
  const char* folder = std::getenv("TMPDIR");
  // /var/tmp lies on a disk where /tmp may be memory.
  return folder != nullptr && folder[0] == '/' ? folder : "/var/tmp";
}

StagingLimits RunStagingLimits() {
  StagingLimits limits;
  if (const char* from = std::getenv("TARNVEL_TEST_STAGE_FROM")) {
    const long long samples = std::atoll(from);
    if (samples > 0) {
      limits.stageFrom = static_cast<std::size_t>(samples);
      limits.handOver = std::max<std::size_t>(limits.stageFrom / 3, 1);
      limits.mostUnwritten = std::max<std::size_t>(limits.stageFrom, 1);
    }
  }
  if (const char* none = std::getenv("TARNVEL_TEST_NO_UNNAMED_FILES")) {
    if (std::strcmp(none, "1") == 0) limits.unnamedFiles = false;
  }
  return limits;
}

DataFileStaging::DataFileStaging(std::string folder, StagingLimits limits, bool startWriteBack,
                                 StagingLayout layout)
    : folder_(std::move(folder)),
      limits_(limits),
      startWriteBack_(startWriteBack),
      layout_(layout) {
  // Samples are written as they lie in memory.
  if constexpr (std::endian::native != std::endian::little) off_ = true;
  if (folder_.empty()) folder_ = ".";
  if (layout_ == StagingLayout::kHourPieces && limits_.unnamedFiles) {
    mostPieceFiles_ = MostPieceFiles();
  }
  staged_.reserve(MostStaged(limits_.mostStaged));
  if (staged_.capacity() == 0) off_ = true;
}

DataFileStaging::~DataFileStaging() {
  Stop();
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

std::shared_ptr<SampleFile> DataFileStaging::MakeFile(bool& inFolder) const {
  inFolder = true;
  FileDescriptor file = AnonymousFile(folder_, limits_.unnamedFiles);
  if (!file || !limits_.unnamedFiles) {
    // A data file is only ever linked from an unnamed file of its folder.
    inFolder = false;
    if (!file) file = AnonymousFile(TemporaryFolder(), limits_.unnamedFiles);
    if (!file) file = AnonymousFile("/tmp", limits_.unnamedFiles);
  }
  if (!file) return {};
  const int fd = ::dup(file.get());
  if (fd < 0) return {};
  return std::make_shared<SampleFile>(fd);
}

DataFileStaging::Staged* DataFileStaging::Start(TraceSegment& segment) {
  // Entries never move: the writing thread holds pointers to them.
  if (staged_.size() == staged_.capacity()) return nullptr;
  if (!threadRunning_ && !StartThread()) {
    off_ = true;
    return nullptr;
  }
  Target target;
  if (layout_ == StagingLayout::kDataFiles) {
    target.file = MakeFile(target.inFolder);
    if (!target.file) {
      off_ = true;  // no file can be made for samples: they stay in memory
      return nullptr;
    }
  }
  Staged& staged = staged_.emplace_back();
  staged.segment = &segment;
  // Hour pieces get their files as the samples reach them.
  if (target.file) staged.targets.push_back(std::move(target));
  lastFound_ = staged_.size() - 1;
  return &staged;
}

bool DataFileStaging::AddTarget(Staged& staged) {
  const std::size_t first = staged.queued;
  const double rate = staged.segment->nominalRate;
  // Pieces start at whole multiples of a file's samples, as the store cuts the segment.
  const auto perPiece = rate > 0.0 && std::isfinite(rate)
                            ? static_cast<std::size_t>(SamplesPerFile(rate))
                            : std::size_t{0};
  const std::uint64_t pieceBytes =
      static_cast<std::uint64_t>(kDataOffset) + std::uint64_t{perPiece} * sizeof(float);
  // The free space is asked only where a piece file could be made at all.
  const auto room = [&] {
    const auto freeBytes = FreeBytes(folder_);
    return freeBytes && RoomToStageInPlace(*freeBytes, pieceBytes_, pieceBytes);
  };
  if (pieceFiles_ < mostPieceFiles_ && perPiece > 0 && first % perPiece == 0 && room()) {
    const int fd = UnnamedFile(folder_);
    if (fd >= 0) {
      ++pieceFiles_;
      pieceBytes_ += pieceBytes;
      staged.targets.push_back(Target{
          std::make_shared<SampleFile>(fd), first, first + perPiece,
          static_cast<off_t>(kDataOffset) - static_cast<off_t>(first * sizeof(float)), true});
      return true;
    }
  }
  // The rest of the segment goes to one file that is never named.
  FileDescriptor file = AnonymousFile(TemporaryFolder(), limits_.unnamedFiles);
  if (!file) file = AnonymousFile("/tmp", limits_.unnamedFiles);
  if (!file) return false;
  const int fd = ::dup(file.get());
  if (fd < 0) return false;
  staged.targets.push_back(Target{std::make_shared<SampleFile>(fd), first, SIZE_MAX,
                                  -static_cast<off_t>(first * sizeof(float)), false});
  return true;
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
    const bool ok = skip || WriteAllAt(job.fd, job.data, job.count * sizeof(float), job.at);
    if (ok && !skip && job.writeBack) {
      StartWriteBack(job.fd, job.at, static_cast<off_t>(job.count * sizeof(float)));
    }
    lock.lock();
    if (!ok) failed_ = true;
    job.staged->written += job.count;
    if (!failed_) job.staged->intact += job.count;
    done_.notify_all();
  }
}

void DataFileStaging::Grew(TraceSegment& segment) {
  if (off_) return;
  if (++sinceRelease_ >= kReleaseRound) {
    sinceRelease_ = 0;
    for (Staged& staged : staged_) Release(staged);
  }
  if (segment.samples.size() < limits_.stageFrom) return;
  Staged* staged = Find(segment);
  if (staged == nullptr) staged = Start(segment);
  if (staged == nullptr) return;
  Release(*staged);
  if (segment.samples.size() - staged->queued < limits_.handOver) return;
  HandOver(*staged, segment);
}

void DataFileStaging::Release(Staged& staged) {
  if (staged.targets.empty()) return;
  std::size_t intact = 0;
  {
    const std::lock_guard lock(mutex_);
    intact = staged.intact;
  }
  SampleBuffer& samples = staged.segment->samples;
  // From the first target not wholly filed on: a long segment has thousands of them.
  for (std::size_t& i = staged.unfiled; i < staged.targets.size(); ++i) {
    const Target& target = staged.targets[i];
    if (target.first >= intact) break;
    samples.Release(std::min(intact, target.end), target.file, target.at);
    if (samples.Filed() < target.end) break;
  }
}

void DataFileStaging::HandOver(Staged& staged, const TraceSegment& segment) {
  bool failed = false;
  {
    std::unique_lock lock(mutex_);
    for (;;) {
      failed = failed_;
      if (failed) break;
      // Whole pieces of the buffer's chunks, as many as the ring takes; the rest goes with the
      // next hand-over or is written when the file is taken.
      segment.samples.ForEachSpan(
          staged.queued, segment.samples.size() - staged.queued, [&](std::span<const float> span) {
            // A job never reaches beyond its file.
            while (!span.empty() && pending_ < kJobs && !staged.full) {
              if (staged.targets.empty() || staged.queued >= staged.targets.back().end) {
                if (!AddTarget(staged)) {
                  staged.full = true;
                  break;
                }
              }
              const Target& target = staged.targets.back();
              const std::size_t count = std::min(span.size(), target.end - staged.queued);
              jobs_[(first_ + pending_) % kJobs] =
                  Job{&staged,
                      target.file->fd(),
                      span.data(),
                      count,
                      target.at + static_cast<off_t>(staged.queued * sizeof(float)),
                      startWriteBack_ && target.inFolder};
              ++pending_;
              staged.queued += count;
              span = span.subspan(count);
            }
          });
      wake_.notify_one();
      // Memory stays bounded: reading waits while too much of the segment is still unwritten
      // (unless no file takes it any more).
      if (staged.full || segment.samples.size() - staged.written <= limits_.mostUnwritten) break;
      done_.wait(lock);
    }
  }
  if (failed) Abandon();
}

void DataFileStaging::Settle() {
  if (!threadRunning_) return;
  if (layout_ == StagingLayout::kHourPieces) {
    // Every staged piece complete, the segment's last one included.
    for (Staged& staged : staged_) {
      while (!off_ && !staged.full && staged.queued < staged.segment->samples.size()) {
        HandOver(staged, *staged.segment);
        std::unique_lock lock(mutex_);
        done_.wait(lock, [this] { return pending_ < kJobs || failed_; });
      }
    }
    if (off_) return;  // abandoned: every sample is back in memory
    std::unique_lock lock(mutex_);
    done_.wait(lock, [this] {
      return failed_ || std::all_of(staged_.begin(), staged_.end(),
                                    [](const Staged& s) { return s.written == s.queued; });
    });
    if (failed_) {
      lock.unlock();
      Abandon();
      return;
    }
  }
  {
    std::unique_lock lock(mutex_);
    done_.wait(lock, [this] { return pending_ == 0 || failed_; });
  }
  // The job in progress may still be written: what it holds stays in memory until then.
  for (Staged& staged : staged_) Release(staged);
}

FileDescriptor DataFileStaging::Take(const TraceSegment& segment) {
  Staged* staged = Find(segment);
  if (staged == nullptr || staged->targets.size() != 1 || !staged->targets.front().inFolder ||
      staged->targets.front().first != 0) {
    return {};
  }
  bool failed = false;
  {
    std::unique_lock lock(mutex_);
    done_.wait(lock, [&] { return staged->written == staged->queued; });
    failed = failed_;
  }
  const auto count = static_cast<std::size_t>(std::max<std::int64_t>(segment.count, 0));
  const int fd = staged->targets.front().file->fd();
  if (failed || count < staged->queued ||
      ::lseek(fd, static_cast<off_t>(staged->queued * sizeof(float)), SEEK_SET) < 0 ||
      !WriteFloatsLittleEndian(fd, segment.samples, staged->queued, count - staged->queued)) {
    Abandon();
    return {};
  }
  FileDescriptor taken(::dup(fd));
  if (!taken) {
    Abandon();
    return {};
  }
  staged->targets.clear();  // the segment's buffer keeps it open while it reads from it
  staged->unfiled = 0;
  return taken;
}

void DataFileStaging::Stop() {
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
}

void DataFileStaging::Abandon() {
  Stop();
  for (Staged& staged : staged_) {
    if (staged.targets.empty()) continue;
    staged.targets.clear();
    staged.unfiled = 0;
    staged.segment->samples.Reclaim();
  }
}

bool DataFileStaging::Link(const FileDescriptor& file, const std::string& path) {
  char self[64];
  std::snprintf(self, sizeof self, "/proc/self/fd/%d", file.get());
  return ::linkat(AT_FDCWD, self, AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

}  // namespace tarnvel
