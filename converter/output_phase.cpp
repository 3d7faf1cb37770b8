#include "converter/output_phase.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

#include "converter/console_wording.h"
#include "css/css_writer.h"
#include "store/waveform_header.h"

namespace tarnvel {

std::string DataFilePath(const DataDirectory& dataDir, const TraceSegment& segment) {
  return dataDir.ToAbsolutePath(
      ComposeWaveformCpath(LocalTimeOf(segment.start), segment.station, segment.channel));
}

namespace {

// Where the segments go, chosen once per run: the QOR store or CSS files.
class SegmentWriter {
 public:
  explicit SegmentWriter(const char* progressText) : progress(progressText) {}
  virtual ~SegmentWriter() = default;
  // Writes one segment, printing its error lines; the number of segments that failed.
  virtual int Write(const TraceSegment& segment, const std::string& path) = 0;
  // After the last segment: the number of segments that failed only now.
  virtual int Finish() { return 0; }
  // The run's last line, after the last segment: what was written.
  virtual std::string Summary() const { return {}; }

  const char* const progress;  // the progress line's text before the percentage
};

// The segments' FILELIST changes are committed together; their samples stay until then.
class DatabaseWriter final : public SegmentWriter {
 public:
  explicit DatabaseWriter(WaveformStore& store)
      : SegmentWriter(wording::kWritingToDatabase), store_(store) {
    store_.BeginBatch();
  }

  int Write(const TraceSegment& segment, const std::string& path) override {
    bool written = true;
    if (store_.DeleteFileEntry(segment, segment.start, path) != store_result::kOk) {
      std::printf("\r%s (%s::%s::%s)\n", wording::kDeleteError, segment.station.c_str(),
                  segment.channel.c_str(), path.c_str());
      written = false;
    }
    const int stored =
        store_.StoreSegment(segment.samples, segment.count, segment, path, segment.start,
                            segment.end, "tarnvel", segment.nominalRate, 0.0, 0.0);
    if (stored != store_result::kOk && stored != store_result::kDoneWithWarning) {
      std::printf("\r%s (%s::%s::%s)\n", wording::kDbWriteError, segment.station.c_str(),
                  segment.channel.c_str(), store_.AttemptedFilePath().c_str());
      std::fflush(stdout);
      written = false;
    }
    return (written ? 0 : 1) + ReportUndoneSegments();
  }
  int Finish() override {
    store_.FinishBatch();
    return ReportUndoneSegments();
  }
  std::string Summary() const override {
    const StoreTally::Totals totals = store_.Committed().Sum();
    char line[256];
    std::snprintf(line, sizeof line, wording::kDatabaseSummary,
                  static_cast<long long>(totals.samples), totals.files, totals.newFiles,
                  totals.continued, totals.rewritten, static_cast<long long>(totals.storedAlready));
    return line;
  }

 private:
  // Segments reported stored whose storing a later failure undid and that could not be stored
  // again: each is a failed segment after all.
  int ReportUndoneSegments() {
    const auto undone = store_.TakeUndoneSegments();
    for (const auto& segment : undone) {
      std::printf("\r%s (%s::%s::%s)\n", wording::kDbWriteError, segment.station.c_str(),
                  segment.channel.c_str(), segment.path.c_str());
    }
    if (!undone.empty()) std::fflush(stdout);
    return static_cast<int>(undone.size());
  }

  WaveformStore& store_;
};

// CSS files, with the data files staged while the SEED file was read. Each failed segment is
// named by its data file.
class CssSegmentWriter final : public SegmentWriter {
 public:
  CssSegmentWriter(const DataDirectory& dataDir, const OutputTarget& target)
      : SegmentWriter(wording::kWritingToCss),
        writer_(dataDir, target.staging, CssWriterOptions{.sync = target.sync}),
        wfdiscPath_(target.wfdiscPath) {}

  int Write(const TraceSegment& segment, const std::string& path) override {
    static_cast<void>(path);
    const TraceSegment* one[] = {&segment};
    const StoreResult result = writer_.WriteCssOutput(one, wfdiscPath_, "tarnvel", 0, 0, 0, 0);
    std::vector<std::string> failed = writer_.TakeFailedDataFiles();
    if (result != store_result::kOk && failed.empty()) {
      failed.push_back(writer_.FirstDataFilePath(segment, wfdiscPath_));
    }
    return Report(failed);
  }
  int Finish() override {
    writer_.Finish();
    return Report(writer_.TakeFailedDataFiles());
  }
  std::string Summary() const override {
    const CssTally& tally = writer_.Tally();
    const int size = std::snprintf(nullptr, 0, wording::kCssSummary, tally.lines, tally.dataFiles,
                                   tally.samples, writer_.WfdiscPath().c_str());
    std::string text(static_cast<std::size_t>(std::max(size, 0)), '\0');
    std::snprintf(text.data(), text.size() + 1, wording::kCssSummary, tally.lines, tally.dataFiles,
                  tally.samples, writer_.WfdiscPath().c_str());
    return text;
  }

 private:
  static int Report(const std::vector<std::string>& failed) {
    for (const std::string& dataFile : failed) {
      std::printf("\r%s (%s)\n", wording::kCssFileWriteError, dataFile.c_str());
    }
    if (!failed.empty()) std::fflush(stdout);
    return static_cast<int>(failed.size());
  }

  CssWriter writer_;
  const std::string wfdiscPath_;
};

}  // namespace

int WriteSegments(RunContext& context, WaveformStore& store, const OutputTarget& target) {
  std::unique_ptr<SegmentWriter> writer;
  if (target.cssMode) {
    writer = std::make_unique<CssSegmentWriter>(store.Directory(), target);
  } else {
    writer = std::make_unique<DatabaseWriter>(store);
  }
  int failed = 0;
  const std::size_t n = context.segments.size();
  for (std::size_t i = 0; i < n; ++i) {
    TraceSegment& segment = context.segments[i];
    segment.ToUpperCase();
    const int percent =
        static_cast<int>(static_cast<double>(i + 1) * 100.0 / static_cast<double>(n));
    if (percent != 0) {
      std::printf("\r%s%02d%%", writer->progress, percent);
      std::fflush(stdout);
    }
    failed += writer->Write(segment, DataFilePath(store.Directory(), segment));
  }
  failed += writer->Finish();
  std::printf("\r%s100%%\n", writer->progress);
  const std::string summary = n > 0 ? writer->Summary() : std::string();
  writer.reset();
  // The writing thread ends before the samples it may still be reading go.
  if (target.staging != nullptr) target.staging->Stop();
  context.segments.Clear();
  std::printf("\n");
  std::fputs(summary.c_str(), stdout);
  std::fflush(stdout);
  return failed;
}

}  // namespace tarnvel
