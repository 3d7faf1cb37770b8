#include "converter/output_phase.h"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <optional>

#include "converter/console_wording.h"
#include "text/text_case.h"

namespace tarnvel {
namespace {

// The store takes the staged data files for as long as the segments are written.
class StagedDataFilesInUse {
 public:
  StagedDataFilesInUse(WaveformStore& store, DataFileStaging* staging)
      : store_(store), staging_(staging) {
    store_.UseStagedDataFiles(staging_);
  }
  ~StagedDataFilesInUse() {
    store_.UseStagedDataFiles(nullptr);
    if (staging_ != nullptr) staging_->Abandon();
  }
  StagedDataFilesInUse(const StagedDataFilesInUse&) = delete;
  StagedDataFilesInUse& operator=(const StagedDataFilesInUse&) = delete;

 private:
  WaveformStore& store_;
  DataFileStaging* staging_;
};

// Segments reported stored whose storing a later failure undid and that could not be stored
// again: each is a failed segment after all.
int ReportUndoneSegments(WaveformStore& store) {
  const auto undone = store.TakeUndoneSegments();
  for (const auto& segment : undone) {
    std::printf("\r%s (%s::%s::%s)\n", wording::kDbWriteError, segment.station.c_str(),
                segment.channel.c_str(), segment.path.c_str());
  }
  if (!undone.empty()) std::fflush(stdout);
  return static_cast<int>(undone.size());
}

}  // namespace

std::string DataFilePath(const DataDirectory& dataDir, const TraceSegment& segment) {
  // The whole second at or before the start, also for starts before 1970.
  const auto seconds = static_cast<std::time_t>(std::floor(segment.start));
  std::tm local{};
  localtime_r(&seconds, &local);
  char name[64];
  std::snprintf(name, sizeof name, "%02d/%02d%02d%04d-%02d%02d%02d-", local.tm_hour, local.tm_mday,
                local.tm_mon + 1, local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec);
  return dataDir.ToAbsolutePath(segment.station + "/" + name + segment.channel + "." +
                                segment.station);
}

int WriteSegments(RunContext& context, WaveformStore& store, const OutputTarget& target) {
  int failed = 0;
  const std::size_t n = context.segments.size();
  std::optional<StagedDataFilesInUse> staged;
  if (target.cssMode) staged.emplace(store, target.staging);
  // The segments' FILELIST changes are committed together; their samples stay until then.
  if (!target.cssMode) store.BeginBatch();
  for (std::size_t i = 0; i < n; ++i) {
    TraceSegment& segment = context.segments[i];
    segment.ToUpperCase();
    const std::string path = DataFilePath(store.Directory(), segment);

    const int percent =
        static_cast<int>(static_cast<double>(i + 1) * 100.0 / static_cast<double>(n));
    if (percent != 0) {
      std::printf("\r%s%02d%%",
                  target.cssMode ? wording::kWritingToCss : wording::kWritingToDatabase, percent);
      std::fflush(stdout);
    }

    if (target.cssMode) {
      const TraceSegment* one[] = {&segment};
      if (store.WriteCssOutput(one, target.wfdiscPath, "tarnvel", 0, 0, 0, 0) != 0) {
        std::printf("\r%s (%s)\n", wording::kCssFileWriteError, path.c_str());
        std::fflush(stdout);
        ++failed;
      }
      continue;
    }

    if (store.DeleteFileEntry(segment.station, segment.channel, segment.location, segment.start,
                              path) != store_result::kOk) {
      std::printf("\r%s (%s::%s::%s)\n", wording::kDeleteError, segment.station.c_str(),
                  segment.channel.c_str(), path.c_str());
      ++failed;
    }
    const int stored = store.StoreSegment(segment.samples, segment.count, segment.station,
                                          segment.channel, segment.location, path, segment.start,
                                          segment.end, "tarnvel", segment.nominalRate, 0.0, 0.0);
    if (stored != store_result::kOk && stored != store_result::kDoneWithWarning) {
      std::printf("\r%s (%s::%s::%s)\n", wording::kDbWriteError, segment.station.c_str(),
                  segment.channel.c_str(), path.c_str());
      std::fflush(stdout);
      ++failed;
    }
    failed += ReportUndoneSegments(store);
  }
  if (!target.cssMode) {
    store.FinishBatch();
    failed += ReportUndoneSegments(store);
  }
  std::printf("\r%s100%%\n", target.cssMode ? wording::kWritingToCss : wording::kWritingToDatabase);
  staged.reset();
  context.segments.Clear();
  return failed;
}

}  // namespace tarnvel
