// SEED data records: acceptance, identity, byte order, rates, times, decoding by encoding; the
// window and channel tests and the filing into the run's SegmentList.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "seed/record_layout.h"
#include "seed/run_context.h"
#include "seed/steim.h"

namespace tarnvel {

double SampleRateFromFactors(std::int16_t factor, std::int16_t multiplier);

// A data record taken apart: the fixed section of its header with the 16-bit fields in host
// order, what its blockettes say, and where its samples are.
struct RecordHeader : BlocketteChain {
  std::string station;
  std::string channel;
  std::string location;  // "??" for a blank location
  std::uint16_t year = 0;
  std::uint16_t dayOfYear = 0;
  std::uint8_t hour = 0;
  std::uint8_t minute = 0;
  std::uint8_t second = 0;
  std::uint16_t fractions = 0;  // 0.0001 s
  std::uint16_t sampleCount = 0;
  std::int16_t rateFactor = 0;
  std::int16_t rateMultiplier = 0;
  std::uint16_t beginningOfData = 0;
  double rate = 0.0;   // nominal
  double start = 0.0;  // epoch seconds
  // The record as far as its frames go: not past the buffer, the caller's length or a shorter
  // length its own blockette 1000 declares (what follows that is the next record's).
  std::span<const std::uint8_t> bytes;
  // The announced samples that the data area can physically hold in its encoding: padding a
  // corrupt count with zeros would let a few bytes of a hostile file claim thousands of samples.
  std::size_t samplesHeld = 0;
};

enum class HeaderResult {
  kAccepted,
  kTooShort,    // fewer bytes than the fixed section and one blockette
  kNotData,     // quality indicator other than D, R, Q or M
  kNoName,      // empty station or channel
  kUnsafeName,  // a code unfit for a file name (control bytes, separators, ':', . or ..)
  kText,        // a record of text (encoding 0 and no sample rate), such as a station's log
};

// Reads and checks the fixed section and the blockettes of the first min(record.size(),
// recordLength) bytes. Everything past the result is filled in for accepted records only.
HeaderResult ReadRecordHeader(std::span<const std::uint8_t> record, int recordLength,
                              RecordHeader& header);

double BtimeToEpoch(const RecordHeader& header);

bool MatchChannelPattern(std::string_view pattern, std::string_view text, bool questionIsWildcard);

// How decoding went, for the caller to report.
struct DecodeStatus {
  bool countMismatch = false;  // fewer or more samples than announced: DecodeOk is cleared
  // Tried as Steim2, then as Steim1, each judged by its own outcome, so DecodeOk stays set;
  // `incorrectEncoding` when neither decoded the announced count.
  bool unknownEncoding = false;
  bool incorrectEncoding = false;
  std::optional<SteimStatus> steim2;  // the Steim2 attempt, for its diagnostics
};

// Decodes into `out` (record.samplesHeld slots), reading nothing but record.bytes.
DecodeStatus DecodeRecord(const RecordHeader& record, std::span<float> out);

// Reads, selects and decodes the record and files its samples into context.segments; returns
// true when they were filed.
bool ProcessDataRecord(std::span<const std::uint8_t> record, int recordLength, RunContext& context);

// Information mode: files the record's span and sample count without decoding samples.
void RegisterRecordSpan(std::span<const std::uint8_t> record, int recordLength,
                        RunContext& context);

}  // namespace tarnvel
