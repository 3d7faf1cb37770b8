#include "seed/seed_record.h"

#include <algorithm>

#include "seed/channel_key.h"
#include "seed/crc32c.h"
#include "seed/mseed3_layout.h"
#include "seed/plain_samples.h"
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

// The most samples the data area can hold in the record's encoding.
std::size_t RecordCapacity(const RecordHeader& h) {
  const std::size_t bytes = h.data.size();
  const std::size_t frames =
      h.frameCount <= 0 ? 0 : std::min<std::size_t>(h.frameCount, bytes / 64);
  constexpr std::size_t kDataWords = 15;
  switch (h.encoding) {
    case Encoding::kInt16:
      return bytes / 2;
    case Encoding::kInt32:
    case Encoding::kFloat32:
      return bytes / 4;
    case Encoding::kFloat64:
      return bytes / 8;
    case Encoding::kSteim1:
      return frames * kDataWords * 4;
    case Encoding::kSteim2:
      return frames * kDataWords * 7;
    default:
      return 0;
  }
}

// The SEED 2 data record in the first `extent` bytes of `record`.
HeaderResult ReadSeed2Header(std::span<const std::uint8_t> record, std::size_t extent,
                             RecordHeader& h) {
  using namespace fixed_header;
  if (extent < kMinimumRecord) return HeaderResult::kTooShort;
  const std::uint8_t* r = record.data();
  if (!IsDataRecordIndicator(Quality::Get(r))) return HeaderResult::kNotData;
  h.station = CodeField<Station>(r);
  h.channel = CodeField<Channel>(r);
  h.location = CodeField<Location>(r);
  if (h.station.empty() || h.channel.empty()) return HeaderResult::kNoName;
  if (!h.HasSafeCodes()) return HeaderResult::kUnsafeName;
  h.location = HeldLocation(h.location);

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
  h.data = h.bytes.subspan(std::min<std::size_t>(h.beginningOfData, h.bytes.size()));
  const int length = static_cast<int>(h.bytes.size());
  h.frameCount = h.encoding == Encoding::kSteim1 ? Steim1FrameCount(length)
                                                 : Steim2FrameCount(length, h.beginningOfData);
  h.samplesHeld = std::min<std::size_t>(h.sampleCount, RecordCapacity(h));
  return HeaderResult::kAccepted;
}

// The CRC-32C of a miniSEED 3 record's first `n` bytes (at least the fixed header), its CRC
// field taken as zeros.
std::uint32_t Mseed3CrcOfFirst(std::span<const std::uint8_t> bytes, std::size_t n) {
  return Crc32cExtendZeroingField(0, bytes.first(n), mseed3::at::kCrc);
}

// Takes a miniSEED 3 source identifier apart into `memo`.
void RememberSourceCodes(std::string_view identifier, SourceCodesMemo& memo) {
  memo.filled = true;
  memo.identifier.assign(identifier);
  memo.storable = false;
  const auto codes = mseed3::ParseSourceIdentifier(identifier);
  if (!codes) return;
  ChannelKey& key = memo.codes;
  key.station.assign(codes->station);
  key.channel.clear();
  key.channel.append(codes->band).append(codes->source).append(codes->subsource);
  key.location.assign(codes->location);
  memo.storable = HasStorableCodes(key.station, key.channel, key.location);
  key.location = HeldLocation(key.location);
}

// The miniSEED 3 record at the start of the first `extent` bytes of `record`.
HeaderResult ReadMseed3Header(std::span<const std::uint8_t> record, std::size_t extent,
                              RecordHeader& h, CrcCheck check, SourceCodesMemo& memo) {
  if (extent < mseed3::kFixedHeaderSize) return HeaderResult::kTooShort;
  const mseed3::FixedHeader fixed = mseed3::ReadFixedHeader(record);
  if (fixed.RecordLength() > extent) return HeaderResult::kTooShort;
  const auto bytes = record.first(static_cast<std::size_t>(fixed.RecordLength()));
  const bool steim = fixed.encoding == static_cast<std::uint8_t>(Encoding::kSteim1) ||
                     fixed.encoding == static_cast<std::uint8_t>(Encoding::kSteim2);
  const bool deferred = check == CrcCheck::kWhileDecoding && steim;
  // Nothing of a damaged record is taken, its identifier and lengths included; a record whose
  // check is left to decoding is checked here all the same when it goes no further.
  if (!deferred && fixed.crc != Mseed3CrcOfFirst(bytes, bytes.size())) {
    return HeaderResult::kDamaged;
  }
  const auto refuse = [&](HeaderResult result) {
    return deferred && fixed.crc != Mseed3CrcOfFirst(bytes, bytes.size()) ? HeaderResult::kDamaged
                                                                          : result;
  };
  h.version = 3;
  const std::string_view identifier(
      reinterpret_cast<const char*>(bytes.data()) + fixed.IdentifierOffset(),
      fixed.identifierLength);
  if (!memo.filled || identifier != memo.identifier) RememberSourceCodes(identifier, memo);
  if (!memo.storable) return refuse(HeaderResult::kUnsafeName);
  static_cast<ChannelKey&>(h) = memo.codes;

  h.encoding = static_cast<Encoding>(fixed.encoding);
  // Steim frames keep the byte order they were defined with; every other encoding is
  // little-endian.
  h.bigEndian = h.encoding == Encoding::kSteim1 || h.encoding == Encoding::kSteim2;
  h.year = fixed.year;
  h.dayOfYear = fixed.dayOfYear;
  h.hour = fixed.hour;
  h.minute = fixed.minute;
  h.second = fixed.second;
  h.sampleCount = fixed.sampleCount;
  const double given = fixed.rateOrPeriod;
  if (h.encoding == Encoding::kText && given == 0.0) return HeaderResult::kText;
  // A negative value is the sample period in seconds.
  h.rate = given < 0.0 ? -1.0 / given : given;
  if (!(h.rate >= kLowestRate && h.rate <= kHighestRate)) return refuse(HeaderResult::kNoRate);
  // Whole seconds first, the nanoseconds added last: they keep what a double holds of them at
  // the epoch's magnitude (a quarter of a microsecond).
  h.start = CalendarToEpoch(h.year, 1, 1, h.hour, h.minute, 0.0f) +
            (static_cast<double>(h.dayOfYear) - 1.0) * 86400.0 + static_cast<double>(h.second) +
            static_cast<double>(fixed.nanosecond) * 1e-9;
  h.bytes = bytes;
  h.data = bytes.subspan(fixed.PayloadOffset());
  h.frameCount = static_cast<int>(h.data.size() / 64);
  h.samplesHeld = std::min<std::size_t>(h.sampleCount, RecordCapacity(h));
  if (deferred) {
    h.crcBeforeData = Mseed3CrcOfFirst(bytes, fixed.PayloadOffset());
    h.storedCrc = fixed.crc;
  }
  return HeaderResult::kAccepted;
}

// A new entry holding the record's first `count` samples (none in information mode).
TraceSegment NewSegment(const RecordHeader& h, std::int64_t count) {
  TraceSegment segment;
  segment.rate = static_cast<std::uint32_t>(h.rate);
  segment.nominalRate = h.rate;
  segment.start = h.start;
  segment.end = h.start + static_cast<double>(count) / h.rate;
  segment.count = count;
  static_cast<ChannelKey&>(segment) = h;
  return segment;
}

// Passes on what decoding has to report and clears DecodeOk on a count mismatch.
void ReportDecoding(const DecodeStatus& status, std::int64_t announced, RunContext& context) {
  if (status.steim2) ReportSteim2Diagnostics(*status.steim2, announced, *context.debug);
  if (status.countMismatch) context.decodeOk = false;
}

// Reads a record's header into `h`; true when the record is accepted, else the record is
// counted when the run reports it as ignored.
bool ReadAcceptedHeader(std::span<const std::uint8_t> record, int recordLength, RecordHeader& h,
                        CrcCheck crc, RunContext& context) {
  const HeaderResult result = ReadRecordHeader(record, recordLength, h, crc, &context.sourceCodes);
  if (result == HeaderResult::kUnsafeName) ++context.unsafeNameRecords;
  if (result == HeaderResult::kDamaged) ++context.damagedRecords;
  if (result == HeaderResult::kNoRate && h.sampleCount > 0) ++context.noRateRecords;
  return result == HeaderResult::kAccepted;
}

}  // namespace

bool InTimeWindow(const TimeWindow& w, double start, double end) {
  if (w.end && !(start < *w.end)) return false;
  if (w.begin && !(end > *w.begin)) return false;
  return true;
}

bool PassesChannelFilter(const ChannelFilter& filter, const ChannelKey& channel) {
  return filter.empty() || std::any_of(filter.begin(), filter.end(), [&](const auto& entry) {
           return MatchChannelPattern(entry.station, channel.station, true) &&
                  MatchChannelPattern(entry.channel, channel.channel, true) &&
                  MatchChannelPattern(entry.location, channel.location, false);
         });
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
                              RecordHeader& h, CrcCheck check, SourceCodesMemo* memo) {
  if (recordLength <= 0) return HeaderResult::kTooShort;
  const std::size_t extent = std::min(record.size(), static_cast<std::size_t>(recordLength));
  if (!mseed3::IsRecordStart(record.first(extent))) return ReadSeed2Header(record, extent, h);
  if (memo != nullptr) return ReadMseed3Header(record, extent, h, check, *memo);
  SourceCodesMemo fresh;
  return ReadMseed3Header(record, extent, h, check, fresh);
}

bool CrcHolds(const RecordHeader& h) {
  return !h.crcBeforeData || Crc32cExtend(*h.crcBeforeData, h.data) == h.storedCrc;
}

DecodeStatus DecodeRecord(const RecordHeader& h, std::span<float> out) {
  DecodeStatus status;
  std::size_t decoded = out.size();
  switch (h.encoding) {
    case Encoding::kInt16:
      decoded = DecodeInt16(h.data, out, h.bigEndian);
      break;
    case Encoding::kInt32:
      decoded = DecodeInt32(h.data, out, h.bigEndian);
      break;
    case Encoding::kFloat32:
      decoded = DecodeFloat32(h.data, out, h.bigEndian);
      break;
    case Encoding::kFloat64:
      decoded = DecodeFloat64(h.data, out, h.bigEndian);
      break;
    case Encoding::kSteim1: {
      const SteimStatus steim1 =
          DecodeSteim1(h.data, h.frameCount, out, h.bigEndian, h.crcBeforeData);
      status.countMismatch = steim1.countMismatch;
      status.damaged = h.crcBeforeData && steim1.crc != h.storedCrc;
      break;
    }
    case Encoding::kSteim2:
      status.steim2 = DecodeSteim2(h.data, h.frameCount, out, h.bigEndian, h.crcBeforeData);
      status.countMismatch = status.steim2->countMismatch;
      status.damaged = h.crcBeforeData && status.steim2->crc != h.storedCrc;
      break;
    default:
      // Never guessed at: another encoding's bytes decoded as Steim would be noise stored as
      // samples.
      std::fill(out.begin(), out.end(), 0.0f);
      status.notDecoded = true;
      return status;
  }
  if (decoded < out.size()) status.countMismatch = true;
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
  if (!ReadAcceptedHeader(record, recordLength, h, CrcCheck::kWhileDecoding, context)) {
    return false;
  }
  // A record whose CRC was left to its decoding is checked here when it is not decoded.
  const auto drop = [&] {
    if (!CrcHolds(h)) ++context.damagedRecords;
    return false;
  };
  // A record without samples adds nothing; filing it would open an empty entry that later
  // records of the channel could never be appended to.
  if (h.sampleCount == 0) return drop();
  if (!InTimeWindow(context.window, h.start,
                    h.start + static_cast<double>(h.sampleCount) / h.rate) ||
      !PassesChannelFilter(context.filter, h)) {
    return drop();
  }
  if (!IsDecodable(h.encoding)) {
    ++context.undecodedRecords[static_cast<std::uint8_t>(h.encoding)];
    return false;
  }
  const std::size_t n = h.samplesHeld;
  if (n == 0) {
    if (CrcHolds(h)) context.decodeOk = false;
    return drop();
  }
  TraceSegment* entry = context.segments.FindContinuation(h, h.start, h.rate);
  if (entry != nullptr && entry->count == 0) return drop();
  bool intact = true;
  const auto decode = [&](std::span<float> out) {
    const DecodeStatus status = DecodeRecord(h, out);
    intact = !status.damaged;
    if (intact) ReportDecoding(status, static_cast<std::int64_t>(n), context);
    return intact;
  };
  // Most records of a long channel are decoded straight into its last chunk (and kept only when
  // intact); a record that needs a new chunk or entry is decoded first and appended after, so
  // that memory runs out at the same point as ever.
  const bool inPlace = entry != nullptr && entry->samples.AppendInPlace(n, decode);
  if (!inPlace) {
    context.scratch.resize(n);
    decode(std::span<float>(context.scratch.data(), n));
  }
  if (!intact) {
    ++context.damagedRecords;
    return false;
  }
  if (n < h.sampleCount) context.decodeOk = false;
  const std::span<const float> out(context.scratch.data(), n);
  if (entry == nullptr) {
    TraceSegment segment = NewSegment(h, static_cast<std::int64_t>(n));
    segment.samples.Append(out);
    TraceSegment& added = context.segments.Add(std::move(segment));
    if (context.growth != nullptr) context.growth->Grew(added);
    return true;
  }
  if (!inPlace) entry->samples.Append(out);
  context.segments.Extend(*entry, static_cast<std::int64_t>(n));
  if (context.growth != nullptr) context.growth->Grew(*entry);
  return true;
}

void RegisterRecordSpan(std::span<const std::uint8_t> record, int recordLength,
                        RunContext& context) {
  RecordHeader h;
  const bool accepted = ReadAcceptedHeader(record, recordLength, h, CrcCheck::kAtOnce, context);
  // Listed are the channels a conversion would store samples of.
  if (!accepted || !IsDecodable(h.encoding)) return;
  const auto n = static_cast<std::int64_t>(h.sampleCount);
  if (TraceSegment* entry = context.segments.FindChannel(h)) {
    // The channel's one entry spans every record at that record's own rate.
    context.segments.ExtendSpan(*entry, n, static_cast<double>(n) / h.rate);
    return;
  }
  context.segments.Add(NewSegment(h, n));
}

}  // namespace tarnvel
