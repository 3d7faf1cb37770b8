#include "converter/reading_phase.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "converter/console_wording.h"
#include "seed/record_layout.h"
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

// Bytes looked at where a record would end, to see whether another one begins there.
constexpr std::size_t kHeaderPeek = 48;
// Shortest record length taken from a record's own blockette 1000.
constexpr int kShortestDeclaredLength = 128;

// Reads record after record into one buffer, handing each whole record on with the input
// position behind it. Records are as long as the reading length, except where a data record's
// blockette 1000 declares another length and the input bears it out: a data record (or the end
// of the input) follows at the declared length, and, for a longer record, none begins at the
// reading length already. So a file put together from sources of different record lengths is
// read whole, while a damaged length byte does not shift every record after it. A last piece
// shorter than its record is not decoded: its tail would be stale bytes of the record before it.
template <typename PerRecord>
ReadingSummary ReadRecords(SeedFile& file, int recordLength, PerRecord&& perRecord) {
  ReadingSummary summary;
  const auto length = static_cast<std::size_t>(recordLength);
  std::vector<std::uint8_t> buffer(std::max<std::size_t>(2 * length, 65536 + kHeaderPeek));
  std::size_t have = 0;  // bytes read into the buffer and not yet handed on
  bool ended = false;
  bool failed = false;
  const auto fill = [&](std::size_t want) {
    while (have < want && !ended) {
      const long n = file.Read(buffer.data() + have, want - have);
      if (n <= 0) {
        ended = true;
        failed = n < 0;
      } else {
        have += static_cast<std::size_t>(n);
      }
    }
  };
  const auto recordBeginsAt = [&](std::size_t at) {
    return have >= at + kHeaderPeek &&
           LooksLikeDataRecordStart(std::span<const std::uint8_t>(buffer.data() + at, kHeaderPeek));
  };

  for (;;) {
    fill(length);
    if (have == 0) break;
    std::size_t size = length;
    const int declared = have > 6 && IsDataRecordIndicator(buffer[6])
                             ? DeclaredRecordLength(std::span(buffer.data(), have))
                             : 0;
    if (declared >= kShortestDeclaredLength && UsableRecordLength(declared) &&
        static_cast<std::size_t>(declared) != length) {
      const auto at = static_cast<std::size_t>(declared);
      fill(at + kHeaderPeek);
      const bool endsThere = recordBeginsAt(at) || (ended && have == at);
      if (endsThere && (at < length || !recordBeginsAt(length))) size = at;
    }
    if (have < size) {
      summary.trailingFragment = static_cast<long>(have);
      break;
    }
    ++summary.records;
    const std::int64_t position = file.Position() - static_cast<std::int64_t>(have - size);
    const bool more = perRecord(std::span<const std::uint8_t>(buffer.data(), size), position);
    have -= size;
    std::memmove(buffer.data(), buffer.data() + size, have);
    if (!more) return summary;
  }
  summary.reachedEnd = !failed;
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
  const ReadingSummary summary = ReadRecords(
      file, recordLength, [&](std::span<const std::uint8_t> record, std::int64_t position) {
        ProcessDataRecord(record, static_cast<int>(record.size()), context);
        if (fileSize > 0) {
          const int percent = static_cast<int>(static_cast<double>(position) * 100.0 /
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
  ReadRecords(file, recordLength, [&](std::span<const std::uint8_t> record, std::int64_t position) {
    RegisterRecordSpan(record, static_cast<int>(record.size()), context);
    return position < viewLimit;
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
