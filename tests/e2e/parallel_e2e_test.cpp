// Several converters storing the same channel at the same time: four workers, each running the
// converter on every fourth of 32 files, so that neighbouring pieces of the channel are stored
// by different processes at once. Afterwards the store must hold every sample exactly once at
// its time, in files that hold exactly what their rows say, each registered once.
#include <gtest/gtest.h>

#include <filesystem>
#include <latch>
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

TARNVEL_DATABASE_TEST_SUITE(ParallelTest);

}  // namespace
}  // namespace tarnvel::testing
