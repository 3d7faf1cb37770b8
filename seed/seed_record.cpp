#include "seed/seed_record.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <vector>

#include "seed/byte_order.h"
#include "seed/quality_indicator.h"
#include "seed/steim.h"
#include "seed/time_conversion.h"
#include "settings/text_case.h"

namespace tarnvel {
namespace {

constexpr std::size_t kFixedHeader = 48;
constexpr std::size_t kBlocketteAt = 48;
constexpr std::size_t kMinimumRecord = kBlocketteAt + 8;  // fixed section and one blockette
constexpr std::uint16_t kBlockette1000 = 1000;
constexpr std::uint16_t kBlockette1001 = 1001;

// A code field up to its first blank (or NUL, where the text would end anyway).
std::string CodeField(const std::uint8_t* p, std::size_t width) {
  std::string out;
  for (std::size_t i = 0; i < width && p[i] != ' ' && p[i] != 0; ++i) {
    out.push_back(static_cast<char>(p[i]));
  }
  return out;
}

// Names become parts of file and directory names later; refuse what could escape or corrupt
// them.
bool IsSafeName(const std::string& name) {
  if (name == "." || name == "..") return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u > 0x20 && u < 0x7F && c != '/' && c != '\\' && c != ':';
  });
}

std::int16_t Signed16(std::uint16_t v) {
  return static_cast<std::int16_t>(v);
}

// Decides the byte order and the encoding in force from the blockette at byte 48 and, when that
// is a blockette 1001, from the blockette 1000 its link points to.
void ReadBlockettes(const std::uint8_t* r, std::size_t extent, RecordHeader& h) {
  const std::uint16_t typeBig = Load16<true>(r + kBlocketteAt);
  const std::uint16_t typeLittle = Load16<false>(r + kBlocketteAt);
  h.declaredLength = 0;
  if (typeBig == kBlockette1001 || typeLittle == kBlockette1001) {
    h.blockette1001First = true;
    const bool order1001 = typeBig == kBlockette1001;
    const std::size_t next = Load16(r + kBlocketteAt + 2, order1001);
    if (next >= kFixedHeader && next + 8 <= extent &&
        Load16(r + next, order1001) == kBlockette1000) {
      h.encoding = r[next + 4];
      h.bigEndian = r[next + 5] != 0;
      h.declaredLength = r[next + 6] < 31 ? (1 << r[next + 6]) : 0;
      return;
    }
    h.encoding = kEncodingSteim1Code;
    h.bigEndian = order1001;
    return;
  }
  h.blockette1001First = false;
  h.bigEndian = r[53] != 0;
  h.encoding = r[52];
  const std::uint16_t type = h.bigEndian ? typeBig : typeLittle;
  if (type == kBlockette1000) h.declaredLength = r[54] < 31 ? (1 << r[54]) : 0;
}

// A record is kept when it starts before the window's end and ends after its begin.
bool InWindow(const TimeWindow& w, double start, double end) {
  if (w.end && !(start < *w.end)) return false;
  if (w.begin && !(end > *w.begin)) return false;
  return true;
}

bool PassesFilter(const ChannelFilter& filter, const RecordHeader& h) {
  if (filter.empty()) return true;
  for (const ChannelFilterEntry& entry : filter) {
    if (MatchChannelPattern(entry.station, h.station, true) &&
        MatchChannelPattern(entry.channel, h.channel, true) &&
        MatchChannelPattern(entry.location, h.location, false)) {
      return true;
    }
  }
  return false;
}

// The length the record's frames are counted in: the driver's, but never more than the buffer
// holds nor more than the record's own blockette 1000 declares (a shorter declared record is
// followed by bytes of the next one, not by frames of this one).
int EffectiveLength(const RecordHeader& h, std::size_t extent) {
  int length = static_cast<int>(extent);
  if (h.declaredLength >= static_cast<int>(kMinimumRecord) && h.declaredLength < length) {
    length = h.declaredLength;
  }
  return length;
}

// The most samples the record's data area can physically hold in its encoding. A header that
// announces more is corrupt: padding its count with zeros would let a few bytes of a hostile
// file claim tens of thousands of samples.
std::size_t RecordCapacity(const RecordHeader& h, std::size_t length) {
  if (h.beginningOfData >= length) return 0;
  const std::size_t data = length - h.beginningOfData;
  constexpr std::size_t kDataWords = 15;
  switch (h.encoding) {
    case kEncodingInt32Code:
      return data / 4;
    case kEncodingSteim1Code: {
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

void DecodeSamples(std::span<const std::uint8_t> record, const RecordHeader& h,
                   std::span<float> out, RunContext& context) {
  const int length = static_cast<int>(record.size());
  const std::span<const std::uint8_t> data = h.beginningOfData < record.size()
                                                 ? record.subspan(h.beginningOfData)
                                                 : std::span<const std::uint8_t>{};
  const auto steim1 = [&] {
    const SteimStatus s = DecodeSteim1(data, Steim1FrameCount(length), out, h.bigEndian);
    if (s.countMismatch) context.decodeOk = false;
  };
  const auto steim2 = [&] {
    const SteimStatus s =
        DecodeSteim2(data, Steim2FrameCount(length, h.beginningOfData), out, h.bigEndian);
    ReportSteim2Diagnostics(s, static_cast<std::int64_t>(out.size()), *context.debug);
    if (s.countMismatch) context.decodeOk = false;
  };
  switch (h.encoding) {
    case kEncodingInt32Code:
      DecodeInt32(data, h.bigEndian, out);
      return;
    case kEncodingSteim1Code:
      steim1();
      return;
    case kEncodingSteim2Code:
      steim2();
      return;
    default:
      break;
  }
  // Unknown encoding: Steim2 first, then Steim1, each judged by its own outcome.
  context.decodeOk = true;
  steim2();
  if (context.decodeOk) return;
  context.decodeOk = true;
  steim1();
  if (context.decodeOk) return;
  std::fputs("\rIncorrect encoding format\n", context.console);
  std::fflush(context.console);
  context.decodeOk = true;
}

}  // namespace

std::uint16_t SwapBytes16(std::uint16_t v) {
  return ByteSwap16(v);
}
std::uint32_t SwapBytes32(std::uint32_t v) {
  return ByteSwap32(v);
}

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
  if (recordLength <= 0) return HeaderResult::kTooShort;
  const std::size_t extent = std::min(record.size(), static_cast<std::size_t>(recordLength));
  if (extent < kMinimumRecord) return HeaderResult::kTooShort;
  const std::uint8_t* r = record.data();
  h.quality = static_cast<char>(r[6]);
  if (!IsDataRecordIndicator(r[6])) return HeaderResult::kNotData;
  h.station = CodeField(r + 8, 5);
  h.channel = CodeField(r + 15, 3);
  h.location = CodeField(r + 13, 2);
  if (h.station.empty() || h.channel.empty()) return HeaderResult::kNoName;
  if (!IsSafeName(h.station) || !IsSafeName(h.channel) ||
      (!h.location.empty() && !IsSafeName(h.location))) {
    return HeaderResult::kUnsafeName;
  }
  if (h.location.empty()) h.location = "??";

  ReadBlockettes(r, extent, h);
  const bool be = h.bigEndian;
  h.year = Load16(r + 20, be);
  h.dayOfYear = Load16(r + 22, be);
  h.hour = r[24];
  h.minute = r[25];
  h.second = r[26];
  h.fractions = Load16(r + 28, be);
  h.sampleCount = Load16(r + 30, be);
  h.rateFactor = Signed16(Load16(r + 32, be));
  h.rateMultiplier = Signed16(Load16(r + 34, be));
  h.beginningOfData = Load16(r + 44, be);
  h.firstBlockette = Load16(r + 46, be);
  // A log channel's records carry characters where others carry samples: no waveform to store.
  if (h.encoding == kEncodingTextCode && h.rateFactor == 0) return HeaderResult::kText;
  return HeaderResult::kAccepted;
}

bool MatchChannelPattern(std::string_view pattern, std::string_view text, bool questionIsWildcard) {
  const std::size_t star = pattern.find('*');
  const bool hasQuestion = pattern.find('?') != std::string_view::npos;
  const auto upper = [](char c) { return ToUpperAscii(c); };
  const auto same = [&](char p, char t) { return p == t || (questionIsWildcard && p == '?'); };
  if (star == std::string_view::npos && (!questionIsWildcard || !hasQuestion)) {
    return pattern.size() == text.size() &&
           std::equal(pattern.begin(), pattern.end(), text.begin(),
                      [&](char a, char b) { return upper(a) == upper(b); });
  }
  if (star != std::string_view::npos) {
    if (star >= text.size()) return false;
    for (std::size_t i = 0; i < star; ++i) {
      if (!same(pattern[i], text[i])) return false;
    }
    return true;
  }
  if (pattern.size() != text.size()) return false;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (!same(pattern[i], text[i])) return false;
  }
  return true;
}

bool ProcessDataRecord(std::span<const std::uint8_t> record, int recordLength,
                       RunContext& context) {
  RecordHeader h;
  const HeaderResult accepted = ReadRecordHeader(record, recordLength, h);
  if (accepted == HeaderResult::kUnsafeName) ++context.unsafeNameRecords;
  if (accepted != HeaderResult::kAccepted) return false;
  // A record without samples adds nothing; filing it would open an empty entry that later
  // records of the channel could never be appended to.
  if (h.sampleCount == 0) return false;

  const double rate = SampleRateFromFactors(h.rateFactor, h.rateMultiplier);
  const double start = BtimeToEpoch(h);
  if (!InWindow(context.window, start, start + static_cast<double>(h.sampleCount) / rate)) {
    return false;
  }
  if (!PassesFilter(context.filter, h)) return false;

  const std::size_t extent = std::min(record.size(), static_cast<std::size_t>(recordLength));
  const int length = EffectiveLength(h, extent);
  const std::size_t capacity = RecordCapacity(h, static_cast<std::size_t>(length));
  const std::size_t n = std::min<std::size_t>(h.sampleCount, capacity);
  if (n < h.sampleCount) context.decodeOk = false;
  if (n == 0) return false;
  const auto decode = [&](std::span<float> out) {
    DecodeSamples(record.first(static_cast<std::size_t>(length)), h, out, context);
  };
  TraceSegment* entry =
      context.segments.FindContinuation(h.station, h.channel, h.location, start, rate);
  // Most records of a long channel are decoded straight into its last chunk; a record that
  // needs a new chunk is decoded first and appended after, so that memory runs out at the
  // same point as ever.
  if (entry != nullptr && entry->count > 0 && entry->samples.AppendInPlace(n, decode)) {
    context.segments.Extend(*entry, static_cast<std::int64_t>(n));
    if (context.growth != nullptr) context.growth->Grew(*entry);
    return true;
  }
  thread_local std::vector<float> samples;
  samples.resize(n);
  const std::span<float> out(samples.data(), n);
  decode(out);

  if (entry != nullptr) {
    if (entry->count == 0) return false;
    entry->samples.Append(out);
    context.segments.Extend(*entry, static_cast<std::int64_t>(n));
    if (context.growth != nullptr) context.growth->Grew(*entry);
    return true;
  }
  TraceSegment segment;
  segment.rate = static_cast<std::uint32_t>(rate);
  segment.nominalRate = rate;
  segment.start = start;
  segment.end = start + static_cast<double>(n) / rate;
  segment.count = static_cast<std::int64_t>(n);
  segment.samples.Append(out);
  segment.station = h.station;
  segment.channel = h.channel;
  segment.location = h.location;
  const TraceSegment& added = context.segments.Add(std::move(segment));
  if (context.growth != nullptr) context.growth->Grew(added);
  return true;
}

void RegisterRecordSpan(std::span<const std::uint8_t> record, int recordLength,
                        RunContext& context) {
  RecordHeader h;
  const HeaderResult accepted = ReadRecordHeader(record, recordLength, h);
  if (accepted == HeaderResult::kUnsafeName) ++context.unsafeNameRecords;
  if (accepted != HeaderResult::kAccepted) return;
  const double rate = SampleRateFromFactors(h.rateFactor, h.rateMultiplier);
  const double start = BtimeToEpoch(h);
  const auto n = static_cast<std::int64_t>(h.sampleCount);
  if (TraceSegment* entry = context.segments.FindChannel(h.station, h.channel, h.location)) {
    // The channel's one entry spans every record at that record's own rate.
    context.segments.ExtendSpan(*entry, n, static_cast<double>(n) / rate);
    return;
  }
  TraceSegment segment;
  segment.rate = static_cast<std::uint32_t>(rate);
  segment.nominalRate = rate;
  segment.start = start;
  segment.end = start + static_cast<double>(n) / rate;
  segment.count = n;
  segment.station = h.station;
  segment.channel = h.channel;
  segment.location = h.location;
  context.segments.Add(std::move(segment));
}

}  // namespace tarnvel
