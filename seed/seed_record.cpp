#include "seed/seed_record.h"

#include <algorithm>
#include <cstdio>

#include "seed/byte_order.h"
#include "seed/channel_key.h"
#include "seed/time_conversion.h"
#include "text/text_case.h"

namespace tarnvel {
namespace {

// A code field up to its first blank (or NUL, where the text would end anyway).
template <typename TextField>
std::string CodeField(const std::uint8_t* record) {
  std::string out;
  const std::uint8_t* p = record + TextField::kOffset;
  for (std::size_t i = 0; i < TextField::kSize && p[i] != ' ' && p[i] != 0; ++i) {
    out.push_back(static_cast<char>(p[i]));
  }
  return out;
}

// A record is kept when it starts before the window's end and ends after its begin.
bool InWindow(const TimeWindow& w, double start, double end) {
  if (w.end && !(start < *w.end)) return false;
  if (w.begin && !(end > *w.begin)) return false;
  return true;
}

bool PassesFilter(const ChannelFilter& filter, const RecordHeader& h) {
  return filter.empty() || std::any_of(filter.begin(), filter.end(), [&h](const auto& entry) {
           return MatchChannelPattern(entry.station, h.station, true) &&
                  MatchChannelPattern(entry.channel, h.channel, true) &&
                  MatchChannelPattern(entry.location, h.location, false);
         });
}

// The most samples the data area of a record of `length` bytes can hold in its encoding.
std::size_t RecordCapacity(const RecordHeader& h, std::size_t length) {
  if (h.beginningOfData >= length) return 0;
  const std::size_t data = length - h.beginningOfData;
  constexpr std::size_t kDataWords = 15;
  switch (h.encoding) {
    case Encoding::kInt32:
      return data / 4;
    case Encoding::kSteim1: {
      const int frames = Steim1FrameCount(static_cast<int>(length));
      return frames <= 0 ? 0 : std::min<std::size_t>(frames, data / 64) * kDataWords * 4;
    }
    default: {  // Steim2, and unknown encodings, which may decode as Steim2
      const int frames = Steim2FrameCount(static_cast<int>(length), h.beginningOfData);
      return frames <= 0 ? 0 : std::min<std::size_t>(frames, data / 64) * kDataWords * 7;
    }
  }
}

void DecodeInt32(std::span<const std::uint8_t> data, bool bigEndian, std::span<float> out) {
  const std::size_t available = std::min(out.size(), data.size() / 4);
  for (std::size_t i = 0; i < available; ++i) {
    out[i] = static_cast<float>(static_cast<std::int32_t>(Load32(data.data() + 4 * i, bigEndian)));
  }
  std::fill(out.begin() + static_cast<std::ptrdiff_t>(available), out.end(), 0.0f);
}

// A new entry holding the record's first `count` samples (none in information mode).
TraceSegment NewSegment(const RecordHeader& h, std::int64_t count) {
  TraceSegment segment;
  segment.rate = static_cast<std::uint32_t>(h.rate);
  segment.nominalRate = h.rate;
  segment.start = h.start;
  segment.end = h.start + static_cast<double>(count) / h.rate;
  segment.count = count;
  segment.station = h.station;
  segment.channel = h.channel;
  segment.location = h.location;
  return segment;
}

// Passes on what decoding has to report and sets DecodeOk by its outcome.
void ReportDecoding(const DecodeStatus& status, std::int64_t announced, RunContext& context) {
  if (status.steim2) ReportSteim2Diagnostics(*status.steim2, announced, *context.debug);
  if (status.incorrectEncoding) {
    std::fputs("\rIncorrect encoding format\n", context.console);
    std::fflush(context.console);
  }
  context.decodeOk = status.unknownEncoding || (context.decodeOk && !status.countMismatch);
}

}  // namespace

double SampleRateFromFactors(std::int16_t factor, std::int16_t multiplier) {
  const double f = factor;
  const double m = multiplier;
  if (factor > 0 && multiplier > 0) return f * m;
  if (factor > 0 && multiplier < 0) return -f / m;
  if (factor < 0 && multiplier > 0) return -m / f;
  if (factor < 0 && multiplier < 0) return 1.0 / (f * m);
  return 1.0;
}

double BtimeToEpoch(const RecordHeader& header) {
  const auto seconds = static_cast<float>(header.second + header.fractions * 0.0001);
  return CalendarToEpoch(header.year, 1, 1, header.hour, header.minute, seconds) +
         (static_cast<double>(header.dayOfYear) - 1.0) * 86400.0;
}

HeaderResult ReadRecordHeader(std::span<const std::uint8_t> record, int recordLength,
                              RecordHeader& h) {
  using namespace fixed_header;
  if (recordLength <= 0) return HeaderResult::kTooShort;
  const std::size_t extent = std::min(record.size(), static_cast<std::size_t>(recordLength));
  if (extent < kMinimumRecord) return HeaderResult::kTooShort;
  const std::uint8_t* r = record.data();
  if (!IsDataRecordIndicator(Quality::Get(r))) return HeaderResult::kNotData;
  h.station = CodeField<Station>(r);
  h.channel = CodeField<Channel>(r);
  h.location = CodeField<Location>(r);
  if (h.station.empty() || h.channel.empty()) return HeaderResult::kNoName;
  if (!HasSafeCodes(h.station, h.channel, h.location)) return HeaderResult::kUnsafeName;
  if (h.location.empty()) h.location = kBlankLocation;

  static_cast<BlocketteChain&>(h) = ReadBlocketteChain(record.first(extent));
  const bool be = h.bigEndian;
  h.year = Year::Get(r, be);
  h.dayOfYear = DayOfYear::Get(r, be);
  h.hour = Hour::Get(r);
  h.minute = Minute::Get(r);
  h.second = Second::Get(r);
  h.fractions = Fractions::Get(r, be);
  h.sampleCount = SampleCount::Get(r, be);
  h.rateFactor = RateFactor::Get(r, be);
  h.rateMultiplier = RateMultiplier::Get(r, be);
  h.beginningOfData = BeginningOfData::Get(r, be);
  // A log channel's records carry characters where others carry samples: no waveform to store.
  if (h.encoding == Encoding::kText && h.rateFactor == 0) return HeaderResult::kText;
  h.rate = SampleRateFromFactors(h.rateFactor, h.rateMultiplier);
  h.start = BtimeToEpoch(h);
  const bool declared = h.declaredLength >= static_cast<int>(kMinimumRecord);
  h.bytes = record.first(declared ? std::min<std::size_t>(extent, h.declaredLength) : extent);
  h.samplesHeld = std::min<std::size_t>(h.sampleCount, RecordCapacity(h, h.bytes.size()));
  return HeaderResult::kAccepted;
}

DecodeStatus DecodeRecord(const RecordHeader& h, std::span<float> out) {
  const int length = static_cast<int>(h.bytes.size());
  const auto data = h.bytes.subspan(std::min<std::size_t>(h.beginningOfData, h.bytes.size()));
  DecodeStatus status;
  const auto steim1 = [&] {
    return !DecodeSteim1(data, Steim1FrameCount(length), out, h.bigEndian).countMismatch;
  };
  const auto steim2 = [&] {
    status.steim2 =
        DecodeSteim2(data, Steim2FrameCount(length, h.beginningOfData), out, h.bigEndian);
    return !status.steim2->countMismatch;
  };
  if (h.encoding == Encoding::kInt32) {
    DecodeInt32(data, h.bigEndian, out);
  } else if (h.encoding == Encoding::kSteim1) {
    status.countMismatch = !steim1();
  } else if (h.encoding == Encoding::kSteim2) {
    status.countMismatch = !steim2();
  } else {
    status.unknownEncoding = true;
    status.incorrectEncoding = !steim2() && !steim1();
  }
  return status;
}

bool MatchChannelPattern(std::string_view pattern, std::string_view text, bool questionIsWildcard) {
  const std::size_t star = pattern.find('*');
  const bool hasQuestion = pattern.find('?') != std::string_view::npos;
  if (star == std::string_view::npos && (!questionIsWildcard || !hasQuestion)) {
    return pattern.size() == text.size() &&
           std::equal(pattern.begin(), pattern.end(), text.begin(),
                      [](char a, char b) { return ToUpperAscii(a) == ToUpperAscii(b); });
  }
  // Wildcards: the characters before a "*" (text longer than they), or all of them, exactly.
  if (star != std::string_view::npos ? star >= text.size() : pattern.size() != text.size()) {
    return false;
  }
  const std::size_t compared = std::min(star, pattern.size());
  for (std::size_t i = 0; i < compared; ++i) {
    if (pattern[i] != text[i] && !(questionIsWildcard && pattern[i] == '?')) return false;
  }
  return true;
}

bool ProcessDataRecord(std::span<const std::uint8_t> record, int recordLength,
                       RunContext& context) {
  RecordHeader h;
  const HeaderResult accepted = ReadRecordHeader(record, recordLength, h);
  if (accepted == HeaderResult::kUnsafeName) ++context.unsafeNameRecords;
  // A record without samples adds nothing; filing it would open an empty entry that later
  // records of the channel could never be appended to.
  if (accepted != HeaderResult::kAccepted || h.sampleCount == 0) return false;
  if (!InWindow(context.window, h.start, h.start + static_cast<double>(h.sampleCount) / h.rate) ||
      !PassesFilter(context.filter, h)) {
    return false;
  }
  const std::size_t n = h.samplesHeld;
  if (n < h.sampleCount) context.decodeOk = false;
  if (n == 0) return false;
  const auto decode = [&](std::span<float> out) {
    ReportDecoding(DecodeRecord(h, out), static_cast<std::int64_t>(n), context);
  };
  TraceSegment* entry =
      context.segments.FindContinuation(h.station, h.channel, h.location, h.start, h.rate);
  if (entry != nullptr && entry->count == 0) return false;
  // Most records of a long channel are decoded straight into its last chunk; a record that
  // needs a new chunk or entry is decoded first and appended after, so that memory runs out at
  // the same point as ever.
  if (entry == nullptr || !entry->samples.AppendInPlace(n, decode)) {
    context.scratch.resize(n);
    const std::span<float> out(context.scratch.data(), n);
    decode(out);
    if (entry == nullptr) {
      TraceSegment segment = NewSegment(h, static_cast<std::int64_t>(n));
      segment.samples.Append(out);
      const TraceSegment& added = context.segments.Add(std::move(segment));
      if (context.growth != nullptr) context.growth->Grew(added);
      return true;
    }
    entry->samples.Append(out);
  }
  context.segments.Extend(*entry, static_cast<std::int64_t>(n));
  if (context.growth != nullptr) context.growth->Grew(*entry);
  return true;
}

void RegisterRecordSpan(std::span<const std::uint8_t> record, int recordLength,
                        RunContext& context) {
  RecordHeader h;
  const HeaderResult accepted = ReadRecordHeader(record, recordLength, h);
  if (accepted == HeaderResult::kUnsafeName) ++context.unsafeNameRecords;
  if (accepted != HeaderResult::kAccepted) return;
  const auto n = static_cast<std::int64_t>(h.sampleCount);
  if (TraceSegment* entry = context.segments.FindChannel(h.station, h.channel, h.location)) {
    // The channel's one entry spans every record at that record's own rate.
    context.segments.ExtendSpan(*entry, n, static_cast<double>(n) / h.rate);
    return;
  }
  context.segments.Add(NewSegment(h, n));
}

}  // namespace tarnvel
