#include "converter/reading_phase.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <vector>

#include "converter/console_wording.h"
#include "seed/record_length.h"
#include "seed/seed_record.h"

namespace tarnvel {

bool UsableRecordLength(int recordLength) {
  return recordLength >= 1 && recordLength < 65000;
}

bool DetermineRecordLength(const std::string& blockSize, SeedFile& file, int& recordLength) {
  recordLength = std::atoi(blockSize.c_str());
  if (recordLength != -1) return true;
  const RecordLengthResult detected =
      DetectRecordLength([&file](std::span<std::uint8_t, 256> piece) {
        return file.Read(piece.data(), piece.size());
      });
  recordLength = detected.recordLength;
  return !detected.readFailed;
}

namespace {

// Reads record after record into one buffer of twice the record length, one read per record.
// A last piece shorter than a record is not decoded: its tail would be stale bytes of the
// record before it.
template <typename PerRecord>
ReadingSummary ReadRecords(SeedFile& file, int recordLength, PerRecord&& perRecord) {
  ReadingSummary summary;
  std::vector<std::uint8_t> buffer(2 * static_cast<std::size_t>(recordLength));
  const auto length = static_cast<std::size_t>(recordLength);
  for (;;) {
    const long n = file.Read(buffer.data(), length);
    if (n <= 0) {
      summary.reachedEnd = n == 0;
      break;
    }
    if (static_cast<std::size_t>(n) < length) {
      summary.trailingFragment = n;
      summary.reachedEnd = true;
      break;
    }
    ++summary.records;
    if (!perRecord(std::span<const std::uint8_t>(buffer.data(), length))) break;
  }
  return summary;
}

}  // namespace

ReadingSummary ReadForConversion(SeedFile& file, int recordLength, std::int64_t fileSize,
                                 RunContext& context) {
  int lastPercent = 0;
  const auto show = [&lastPercent](int percent) {
    if (percent == lastPercent) return;
    std::printf("\r%s%02d%%", wording::kConvertingFile, percent);
    std::fflush(stdout);
    lastPercent = percent;
  };
  const ReadingSummary summary =
      ReadRecords(file, recordLength, [&](std::span<const std::uint8_t> record) {
        ProcessDataRecord(record, recordLength, context);
        if (fileSize > 0) {
          const int percent = static_cast<int>(static_cast<double>(file.Position()) * 100.0 /
                                               static_cast<double>(fileSize));
          show(std::min(percent, 100));  // the file may grow while it is read
        }
        return true;
      });
  // The end of the input is 100%, also behind a trailing fragment or when the size is unknown.
  if (summary.reachedEnd && file.Position() > 0) show(100);
  return summary;
}

void ReadForListing(SeedFile& file, int recordLength, std::int64_t viewLimit, RunContext& context) {
  ReadRecords(file, recordLength, [&](std::span<const std::uint8_t> record) {
    RegisterRecordSpan(record, recordLength, context);
    return file.Position() < viewLimit;
  });
}

void ListChannels(RunContext& context, WaveformStore& store) {
  for (const TraceSegment& entry : context.segments) {
    std::printf("%s::%s::%s %.2f - %.2f %d\n", entry.station.c_str(), entry.channel.c_str(),
                entry.location.c_str(), entry.start, entry.end, static_cast<int>(entry.rate));
  }
  for (const TraceSegment& entry : context.segments) {
    double siteChanRate = 0.0;
    const int result = store.CheckSiteChan(entry.station, entry.channel, entry.location,
                                           entry.nominalRate, siteChanRate);
    if (result == store_result::kNotInSiteChan) {
      std::printf("%s%s::%s::%s\n", wording::kNotFoundInSitechan, entry.station.c_str(),
                  entry.channel.c_str(), entry.location.c_str());
    } else if (result == store_result::kSiteChanRateDiffers) {
      std::printf("%s%s::%s::%s %.2f\n", wording::kSpsDiffersFromSitechan, entry.station.c_str(),
                  entry.channel.c_str(), entry.location.c_str(), siteChanRate);
    }
  }
  std::fflush(stdout);
}

}  // namespace tarnvel
