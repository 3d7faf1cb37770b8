// Data records of SEED 2 and of miniSEED 3: acceptance, identity, byte order, rates, times,
// decoding by encoding; the window and channel tests and the filing into the run's SegmentList.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "seed/channel_key.h"
#include "seed/record_layout.h"
#include "seed/run_context.h"
#include "seed/source_codes_memo.h"
#include "seed/steim.h"

namespace tarnvel {

double SampleRateFromFactors(std::int16_t factor, std::int16_t multiplier);

// A data record taken apart: the fields of its header in host order, what its blockettes say,
// and where its samples are. A miniSEED 3 record fills the same fields (its rate factor,
// multiplier and fractions stay 0; its start keeps its nanoseconds). Its channel is the
// ChannelKey, the location "??" for a blank one.
struct RecordHeader : BlocketteChain, ChannelKey {
  int version = 2;  // 2: SEED data record; 3: miniSEED 3 record
  std::uint16_t year = 0;
  std::uint16_t dayOfYear = 0;
  std::uint8_t hour = 0;
  std::uint8_t minute = 0;
  std::uint8_t second = 0;
  std::uint16_t fractions = 0;  // 0.0001 s
  std::uint32_t sampleCount = 0;
  std::int16_t rateFactor = 0;
  std::int16_t rateMultiplier = 0;
  std::uint16_t beginningOfData = 0;
  double rate = 0.0;   // nominal
  double start = 0.0;  // epoch seconds
  // The record as far as it goes: not past the buffer, the caller's length or a shorter
  // length its own header declares (what follows that is the next record's).
  std::span<const std::uint8_t> bytes;
  // Its data area, from the beginning of data (a miniSEED 3 record: its payload) to its end.
  std::span<const std::uint8_t> data;
  // Steim frames to decode, as the record's layout counts them (at most those `data` holds).
  int frameCount = 0;
  // The announced samples that the data area can physically hold in its encoding: padding a
  // corrupt count with zeros would let a few bytes of a hostile file claim thousands of samples.
  std::size_t samplesHeld = 0;
  // A miniSEED 3 record of Steim frames read with CrcCheck::kWhileDecoding: the CRC-32C of its
  // bytes before the payload (the CRC field as zeros), which decoding extends over the payload
  // and holds against `storedCrc`.
  std::optional<std::uint32_t> crcBeforeData;
  std::uint32_t storedCrc = 0;
};

// When a miniSEED 3 record's CRC is checked: before any of its fields is taken, or, for Steim
// frames, while they are decoded (the CRC instruction then runs beside the decoding).
enum class CrcCheck { kAtOnce, kWhileDecoding };

enum class HeaderResult {
  kAccepted,
  kTooShort,    // fewer bytes than the fixed section and one blockette, or than the record
  kNotData,     // quality indicator other than D, R, Q or M
  kNoName,      // empty station or channel
  kUnsafeName,  // a code unfit for a file name (control bytes, separators, ':', . or ..), or,
                // miniSEED 3, an identifier without station and channel codes the store keeps
  kText,        // a record of text (encoding 0 and no sample rate), such as a station's log
  kDamaged,     // miniSEED 3: the record's CRC-32C does not match it
  kNoRate,      // miniSEED 3: a rate that places no samples in time (0, not a number, absurd)
};

// Reads and checks the header of the first min(record.size(), recordLength) bytes: a miniSEED 3
// record when they begin with its signature, else a SEED data record. Everything past the result
// is filled in for accepted records only. A record of an encoding the decoders do not know is
// accepted (IsDecodable tells), with no samples held.
// With CrcCheck::kWhileDecoding, an accepted miniSEED 3 record of Steim frames is checked by
// DecodeRecord; every other outcome has been checked here all the same (a record whose CRC fails
// is kDamaged whatever else is wrong with it).
// A miniSEED 3 record's identifier is mapped to its codes through `memo` when one is given (the
// caller keeps it from record to record), else taken apart afresh.
HeaderResult ReadRecordHeader(std::span<const std::uint8_t> record, int recordLength,
                              RecordHeader& header, CrcCheck check = CrcCheck::kAtOnce,
                              SourceCodesMemo* memo = nullptr);

// Whether the record holds its CRC: true unless its check was left to decoding and fails.
bool CrcHolds(const RecordHeader& header);

// miniSEED 3 rates the converter places samples with: within the range a SEED 2 rate factor
// and multiplier can express.
inline constexpr double kLowestRate = 1.0 / (32768.0 * 32768.0);
inline constexpr double kHighestRate = 32767.0 * 32767.0;

double BtimeToEpoch(const RecordHeader& header);

bool MatchChannelPattern(std::string_view pattern, std::string_view text, bool questionIsWildcard);

// Whether a span [start, end) is kept by the window: it starts before the window's end and ends
// after its begin.
bool InTimeWindow(const TimeWindow& w, double start, double end);
// Whether a channel passes the filter of the command line (every channel passes an empty one).
bool PassesChannelFilter(const ChannelFilter& filter, const ChannelKey& channel);

// How decoding went, for the caller to report.
struct DecodeStatus {
  bool countMismatch = false;  // fewer or more samples than announced: DecodeOk is cleared
  bool notDecoded = false;     // an encoding the decoders do not know: `out` is zero-filled
  bool damaged = false;        // the CRC left to decoding does not match: `out` means nothing
  std::optional<SteimStatus> steim2;  // a Steim2 record's outcome, for its diagnostics
};

// Decodes into `out` (record.samplesHeld slots), reading nothing but record.data.
DecodeStatus DecodeRecord(const RecordHeader& record, std::span<float> out);

// Reads, selects and decodes the record and files its samples into context.segments; returns
// true when they were filed. Records that are not filed for a reason the run reports (codes,
// CRC, rate, encoding) are counted in the context.
bool ProcessDataRecord(std::span<const std::uint8_t> record, int recordLength, RunContext& context);

// Information mode: files the record's span and sample count without decoding samples.
void RegisterRecordSpan(std::span<const std::uint8_t> record, int recordLength,
                        RunContext& context);

}  // namespace tarnvel
