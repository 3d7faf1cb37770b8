// Several converters storing the same channel at the same time: four workers, each running the
// converter on every fourth of 32 files, so that neighbouring pieces of the channel are stored
// by different processes at once; and converters whose channel lock file a cleaning job
// removes while they hold it or wait for it. Afterwards the store must hold every sample
// exactly once at its time, in files that hold exactly what their rows say, each registered
// once.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <latch>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/hardening_fixture.h"
#include "tests/e2e/seed_builders.h"
#include "tests/e2e/store_checks.h"

namespace tarnvel::testing {
namespace {

namespace fs = std::filesystem;

constexpr double kStart = 1237640400.0;  // 2009-03-21 13:00:00 UTC
constexpr double kRate = 20.0;
constexpr int kFiles = 32;
constexpr int kWorkers = 4;

class ParallelTest : public HardeningTest {
 protected:
  // Converts 32 files of `seconds` each of one channel with four workers at once and checks
  // the store.
  void ConvertInParallel(int seconds) {
    const auto perFile = static_cast<std::size_t>(seconds * kRate);
    const auto signal = RandomWalk(perFile * kFiles, 77, 300);
    std::vector<fs::path> seeds;
    for (int k = 0; k < kFiles; ++k) {
      const std::vector<std::int32_t> part(
          signal.begin() + static_cast<std::ptrdiff_t>(k * perFile),
          signal.begin() + static_cast<std::ptrdiff_t>((k + 1) * perFile));
      seeds.push_back(workDir() / ("part" + std::to_string(k) + ".seed"));
      WriteFile(seeds.back(),
                PackChannel("PAR", "BHZ", "00", kStart + k * seconds, kRate, part, 4096));
    }
    const fs::path data = root() / "data";
    fs::create_directories(data);

    std::vector<ProcessResult> results(kFiles);
    std::latch ready(kWorkers);
    std::vector<std::thread> workers;
    for (int p = 0; p < kWorkers; ++p) {
      workers.emplace_back([&, p] {
        ready.arrive_and_wait();  // all workers start together
        for (int k = p; k < kFiles; k += kWorkers) results[k] = Convert(seeds[k], data);
      });
    }
    for (auto& worker : workers) worker.join();
    for (int k = 0; k < kFiles; ++k) {
      EXPECT_EQ(results[k].exitCode, 0) << "file " << k << ": " << results[k].output;
    }

    // Every sample once at its time, in files that hold exactly what their rows say.
    ExpectSamples(ExpectedChannel{"PAR", "BHZ", "00", kStart, kRate, signal});
    CheckStore(db(), data);
    for (const StoredFile& file : StoredFiles(db())) EXPECT_EQ(file.location, "00");
  }
};

TEST_P(ParallelTest, WholeHoursStoredByFourConvertersAtOnce) {
  ConvertInParallel(3600);
}

// Half hours: a piece continues the file of the half hour before it when that is the
// channel's latest file, so converters extend each other's files.
TEST_P(ParallelTest, HalfHoursStoredByFourConvertersAtOnce) {
  ConvertInParallel(1800);
}

// Runs until `done` holds, for at most a minute; false when it never did.
template <typename Condition>
bool Eventually(Condition done) {
  for (int i = 0; i < 60000; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

class LockCleanerTest : public ParallelTest {
 protected:
  // One channel's half hour, and its file of SEED records.
  void SetUp() override {
    ParallelTest::SetUp();
    if (IsSkipped()) return;
    samples_ = RandomWalk(36000, 79, 300);
    seed_ = workDir() / "half.seed";
    WriteFile(seed_, PackChannel("PAR", "BHZ", "00", kStart, kRate, samples_));
    data_ = root() / "data";
    fs::create_directories(data_ / ".lock");
    ConnectionArgs(data_);  // the store checked at the end
  }

  // The converter in the background under the preload library (kill_at_preload.cpp): stopped
  // before the first call of `stopBefore` ("" for none), its calls traced into Trace(name).
  std::unique_ptr<BackgroundProcess> Start(const std::string& name,
                                           const std::string& stopBefore = "",
                                           const fs::path& seed = {}) {
    std::vector<std::string> args{seed.empty() ? seed_.string() : seed.string()};
    for (auto& arg : ConnectionArgs(data_)) args.push_back(arg);
    auto env = Environment();
    const char* asan = std::getenv("ASAN_OPTIONS");
    env["LD_PRELOAD"] = TARNVEL_KILL_AT_LIBRARY;
    env["ASAN_OPTIONS"] = std::string(asan != nullptr ? asan : "") + ":verify_asan_link_order=0";
    env["KILL_AT_TRACE"] = Trace(name).string();
    if (!stopBefore.empty()) env["STOP_BEFORE"] = stopBefore;
    return std::make_unique<BackgroundProcess>(Program().string(), args, env,
                                               workDir() / (name + ".txt"));
  }

  fs::path LockFile() const { return data_ / ".lock" / "PAR.BHZ.lock"; }
  fs::path Trace(const std::string& name) const { return workDir() / (name + ".trace"); }

  void ExpectStoredOnce() {
    ExpectSamples(ExpectedChannel{"PAR", "BHZ", "00", kStart, kRate, samples_});
  }

  // A first converter of `firstSeed` (default seed_) stopped ahead of its commit, its lock file
  // removed, a second converter of seed_ storing meanwhile: both end well.
  void ExpectTheSecondStoresAlone(const fs::path& firstSeed = {});

  std::vector<std::int32_t> samples_;
  fs::path seed_;
  fs::path data_;
};

// A converter waits for the channel's lock; a cleaning job removes the lock file, and a second
// converter locks a new file at its path. When the first holder lets go, the waiting converter
// holds a removed file: it must wait for the new one instead of storing beside the second.
TEST_P(LockCleanerTest, AConverterThatWaitedForARemovedLockFileWaitsForTheNewOne) {
  // Not inherited by the converters: a copy of the descriptor would keep the lock.
  const int held = ::open(LockFile().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  auto waiting = Start("waiting");
  ASSERT_TRUE(WaitUntilWaitingForAFileLock(waiting->pid())) << waiting->Output();

  fs::remove(LockFile());                  // the cleaning job
  auto second = Start("second", "flock");  // stops right after taking its lock
  ASSERT_TRUE(Eventually([&] { return IsStopped(second->pid()); })) << second->Output();
  ::close(held);
  // The waiting converter finds its lock file gone and waits for the one at the path, having
  // changed nothing.
  EXPECT_TRUE(WaitUntilWaitingForAFileLock(waiting->pid())) << waiting->Output();
  EXPECT_FALSE(waiting->Finished());
  const std::string trace = ReadFile(Trace("waiting"));
  EXPECT_EQ(trace.find("sql insert"), std::string::npos) << trace;
  EXPECT_EQ(trace.find("rename "), std::string::npos) << trace;

  ::kill(second->pid(), SIGCONT);
  EXPECT_EQ(second->Wait(), 0) << second->Output();
  EXPECT_EQ(waiting->Wait(), 0) << waiting->Output();
  ExpectStoredOnce();
}

// A converter has stored its segment, uncommitted, and is about to sync and commit it when a
// cleaning job removes its lock file; a second converter takes a new lock at the path and
// stores the same samples. The first must not commit beside it, nor undo by name what the
// second may have done meanwhile: it finds its lock gone before the commit, settles its own
// work by the committed rows under the lock taken anew, and stores again.
void LockCleanerTest::ExpectTheSecondStoresAlone(const fs::path& firstSeed) {
  // Stops before its first sync, ahead of the commit.
  auto first = Start("first", "fdatasync", firstSeed);
  ASSERT_TRUE(Eventually([&] { return IsStopped(first->pid()); })) << first->Output();
  fs::remove(LockFile());
  auto second = Start("second");
  if (GetParam() == DatabaseKind::kPostgres) {
    // The second stores while the first is stopped: to its commit, or, continuing the file the
    // first extended, to the update of the row the first's transaction holds.
    ASSERT_TRUE(Eventually([&] {
      return second->Finished() ||
             ReadFile(Trace("second")).find("sql update ") != std::string::npos;
    })) << second->Output()
        << ReadFile(Trace("second"));
  } else {
    // SQLite lets one writer in at a time: the second waits for the first's transaction once it
    // holds its lock.
    ASSERT_TRUE(Eventually([&] { return HoldsAFileLock(second->pid()); })) << second->Output();
  }
  ::kill(first->pid(), SIGCONT);
  EXPECT_EQ(first->Wait(), 0) << first->Output() << ReadFile(Trace("first"));
  EXPECT_EQ(second->Wait(), 0) << second->Output() << ReadFile(Trace("second"));
}

// Both store a new file.
TEST_P(LockCleanerTest, AConverterWhoseLockFileWasRemovedDoesItsWorkAgainUnderTheNewLock) {
  ExpectTheSecondStoresAlone();
  ExpectStoredOnce();
}

// Both continue a stored file, the first with its next ten minutes, the second with half an
// hour: the first's append, never committed, is cut back only to what the rows the second
// committed register, never below them.
TEST_P(LockCleanerTest, AnAppendUnderALostLockNeverCutsWhatTheOtherConverterCommitted) {
  const auto earlier = RandomWalk(36000, 78, 300);
  const fs::path before = workDir() / "before.seed";
  WriteFile(before, PackChannel("PAR", "BHZ", "00", kStart - 1800.0, kRate, earlier));
  ASSERT_EQ(Convert(before, data_).exitCode, 0);
  const fs::path tenMinutes = workDir() / "ten.seed";
  WriteFile(tenMinutes, PackChannel("PAR", "BHZ", "00", kStart, kRate,
                                    {samples_.begin(), samples_.begin() + 12000}));
  ExpectTheSecondStoresAlone(tenMinutes);
  EXPECT_EQ(db().Count("FILELIST"), 1);
  std::vector<std::int32_t> all = earlier;
  all.insert(all.end(), samples_.begin(), samples_.end());
  ExpectSamples(ExpectedChannel{"PAR", "BHZ", "00", kStart - 1800.0, kRate, all});
}

TARNVEL_DATABASE_TEST_SUITE(ParallelTest);
TARNVEL_DATABASE_TEST_SUITE(LockCleanerTest);

}  // namespace
}  // namespace tarnvel::testing
