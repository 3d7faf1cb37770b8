#include "converter/reading_phase.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "converter/console_wording.h"
#include "seed/mseed3_layout.h"
#include "seed/record_layout.h"
#include "seed/record_length.h"
#include "seed/seed_record.h"

namespace tarnvel {

bool UsableRecordLength(int recordLength) {
  return recordLength >= 1 && recordLength < 65000;
}

bool DetermineRecordLength(std::optional<int> configured, SeedFile& file, int& recordLength) {
  if (configured) {
    recordLength = *configured;
    return true;
  }
  const RecordLengthResult detected =
      DetectRecordLength([&file](std::span<std::uint8_t, kDetectionPiece> piece) {
        return file.Read(piece.data(), piece.size());
      });
  recordLength = detected.recordLength;
  return !detected.readFailed;
}

namespace {

// Bytes looked at where a record would end, to see whether another one begins there: the fixed
// section of a data header.
constexpr std::size_t kHeaderPeek = fixed_header::kSize;
// Shortest record length taken from a record's own blockette 1000.
constexpr int kShortestDeclaredLength = 128;
// Longest miniSEED 3 record read (its header may claim up to 4 GiB): far beyond what any writer
// makes, while a damaged length field costs no more than this much memory.
constexpr std::uint64_t kLongestMseed3Record = std::uint64_t{16} << 20;
// Bytes read at a time while looking for the next record behind a damaged one.
constexpr std::size_t kSearchChunk = 65536;

// Reads record after record into one buffer, handing each whole record on with the input
// position behind it.
//
// A miniSEED 3 record (its signature at the record's start) is as long as its header says. Where
// another record, or the end of the input, follows at that length, the record goes on as it is
// (a CRC-32C that does not match it is found when it is read). Where none follows, its length
// fields may be what is damaged: a record whose CRC does not match then, or one claiming more
// than kLongestMseed3Record, is counted in `damaged`, and reading goes on at the next place where
// a record of either version begins.
//
// SEED data records are as long as the reading length, except where a data record's blockette
// 1000 declares another length and the input bears it out: a record (or the end of the input)
// follows at the declared length, and, for a longer record, none begins at the reading length
// already. So a file put together from sources of different record lengths or versions is read
// whole, while a damaged length byte does not shift every record after it.
//
// A last piece shorter than its record is not decoded: its tail would be stale bytes of the
// record before it.
template <typename PerRecord>
ReadingSummary ReadRecords(SeedFile& file, int recordLength, std::uint64_t& damaged,
                           PerRecord&& perRecord) {
  ReadingSummary summary;
  const auto length = static_cast<std::size_t>(recordLength);
  std::vector<std::uint8_t> buffer(std::max<std::size_t>(2 * length, 65536 + kHeaderPeek));
  std::size_t have = 0;  // bytes read into the buffer and not yet handed on
  bool ended = false;
  bool failed = false;
  const auto fill = [&](std::size_t want) {
    if (buffer.size() < want) buffer.resize(want);
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
  const auto drop = [&](std::size_t n) {
    have -= n;
    std::memmove(buffer.data(), buffer.data() + n, have);
  };
  const auto recordBeginsAt = [&](std::size_t at) {
    const std::span<const std::uint8_t> rest(buffer.data() + at, have - at);
    return mseed3::IsRecordStart(rest) ||
           (rest.size() >= kHeaderPeek && LooksLikeDataRecordStart(rest.first(kHeaderPeek)));
  };
  // Drops the bytes up to the next place after the first where a record begins, or all of them.
  const auto skipToNextRecord = [&]() {
    std::size_t at = 1;
    for (;;) {
      for (; at < have && (ended || have - at >= kHeaderPeek); ++at) {
        if (recordBeginsAt(at)) {
          drop(at);
          return;
        }
      }
      if (ended) {
        drop(have);
        return;
      }
      drop(at);  // keeps what is too short to judge yet
      at = 0;
      fill(have + kSearchChunk);
    }
  };
  const auto handOn = [&](std::size_t size) {
    ++summary.records;
    const std::int64_t position = file.Position() - static_cast<std::int64_t>(have - size);
    const bool more = perRecord(std::span<const std::uint8_t>(buffer.data(), size), position);
    drop(size);
    return more;
  };

  for (;;) {
    fill(mseed3::kFixedHeaderSize);
    if (have == 0) break;
    if (mseed3::IsRecordStart(std::span(buffer.data(), have))) {
      if (have < mseed3::kFixedHeaderSize) {
        summary.trailingFragment = static_cast<long>(have);
        summary.fragmentOf = static_cast<long>(mseed3::kFixedHeaderSize);
        break;
      }
      const std::uint64_t declared = mseed3::DeclaredLength(std::span(buffer.data(), have));
      if (declared > kLongestMseed3Record) {
        ++damaged;
        skipToNextRecord();
        continue;
      }
      const auto size = static_cast<std::size_t>(declared);
      fill(size + kHeaderPeek);
      if (have < size) {
        summary.trailingFragment = static_cast<long>(have);
        summary.fragmentOf = static_cast<long>(size);
        break;
      }
      const bool endsThere = (ended && have == size) || recordBeginsAt(size);
      if (!endsThere && !mseed3::CrcMatches(std::span(buffer.data(), size))) {
        ++damaged;
        skipToNextRecord();
        continue;
      }
      if (!handOn(size)) return summary;
      continue;
    }

    fill(length);
    std::size_t size = length;
    const int declared = have > fixed_header::Quality::kOffset &&
                                 IsDataRecordIndicator(fixed_header::Quality::Get(buffer.data()))
                             ? DeclaredRecordLength(std::span(buffer.data(), have))
                             : 0;
    if (declared >= kShortestDeclaredLength && UsableRecordLength(declared) &&
        static_cast<std::size_t>(declared) != length) {
      const auto at = static_cast<std::size_t>(declared);
      fill(at + kHeaderPeek);
      const bool endsThere = (ended && have == at) || (have >= at && recordBeginsAt(at));
      if (endsThere && (at < length || have < length || !recordBeginsAt(length))) size = at;
    }
    if (have < size) {
      summary.trailingFragment = static_cast<long>(have);
      summary.fragmentOf = static_cast<long>(size);
      break;
    }
    if (!handOn(size)) return summary;
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
  const ReadingSummary summary =
      ReadRecords(file, recordLength, context.damagedRecords,
                  [&](std::span<const std::uint8_t> record, std::int64_t position) {
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
  ReadRecords(file, recordLength, context.damagedRecords,
              [&](std::span<const std::uint8_t> record, std::int64_t position) {
                RegisterRecordSpan(record, static_cast<int>(record.size()), context);
                return position < viewLimit;
              });
}

void ReportIgnoredRecords(const ReadingSummary& summary, const RunContext& context) {
  if (summary.trailingFragment > 0) {
    std::printf(wording::kIgnoredIncompleteRecord, summary.trailingFragment, summary.fragmentOf);
  }
  const auto report = [](const char* format, std::uint64_t count) {
    if (count > 0) std::printf(format, static_cast<unsigned long long>(count));
  };
  report(wording::kIgnoredUnsafeNames, context.unsafeNameRecords);
  report(wording::kIgnoredDamagedRecords, context.damagedRecords);
  report(wording::kIgnoredNoRate, context.noRateRecords);
  for (std::size_t code = 0; code < context.undecodedRecords.size(); ++code) {
    const std::uint64_t count = context.undecodedRecords[code];
    if (count == 0) continue;
    std::printf(wording::kIgnoredEncoding, static_cast<unsigned long long>(count),
                static_cast<int>(code), EncodingName(static_cast<std::uint8_t>(code)));
  }
}

void ListChannels(RunContext& context, WaveformStore& store) {
  for (const TraceSegment& entry : context.segments) {
    std::printf(wording::kChannelLine, entry.station.c_str(), entry.channel.c_str(),
                entry.location.c_str(), entry.start, entry.end, static_cast<int>(entry.rate));
  }
  for (const TraceSegment& entry : context.segments) {
    double siteChanRate = 0.0;
    const int result = store.CheckSiteChan(entry, entry.nominalRate, siteChanRate);
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
