// SEED data records: acceptance, identity, byte order, rates, times, the window and channel
// tests, decoding by encoding and filing into the run's SegmentList.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "seed/run_context.h"

namespace tarnvel {

std::uint16_t SwapBytes16(std::uint16_t v);
std::uint32_t SwapBytes32(std::uint32_t v);

// Encoding codes of blockette 1000 that the decoders know.
inline constexpr int kEncodingTextCode = 0;  // with no sample rate: a log record of text
inline constexpr int kEncodingInt32Code = 3;
inline constexpr int kEncodingSteim1Code = 10;
inline constexpr int kEncodingSteim2Code = 11;

double SampleRateFromFactors(std::int16_t factor, std::int16_t multiplier);

// Fixed section of a data header, with its 16-bit fields already in host order.
struct RecordHeader {
  char quality = 0;
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
  std::uint16_t firstBlockette = 0;
  bool bigEndian = false;  // the swap flag
  int encoding = -1;       // encoding in force (blockette 1000), -1 when none applies
  bool blockette1001First = false;
  int declaredLength = 0;  // record length its blockette 1000 declares; 0 when none is read
};

enum class HeaderResult {
  kAccepted,
  kTooShort,    // fewer bytes than the fixed section and one blockette
  kNotData,     // quality indicator other than D, R, Q or M
  kNoName,      // empty station or channel
  kUnsafeName,  // a code that cannot be part of a file name (control bytes, separators, ':',
                // . or ..)
  kText,        // a record of text (encoding 0 and no sample rate), such as a station's log
};

// Reads and checks the fixed section and the blockette at byte 48 of the first
// min(record.size(), recordLength) bytes. The names and the byte order are filled in for
// accepted records only.
HeaderResult ReadRecordHeader(std::span<const std::uint8_t> record, int recordLength,
                              RecordHeader& header);

double BtimeToEpoch(const RecordHeader& header);

bool MatchChannelPattern(std::string_view pattern, std::string_view text, bool questionIsWildcard);

// Returns true when the record's samples were filed into context.segments.
bool ProcessDataRecord(std::span<const std::uint8_t> record, int recordLength, RunContext& context);

// Information mode: files the record's span and sample count without decoding samples.
void RegisterRecordSpan(std::span<const std::uint8_t> record, int recordLength,
                        RunContext& context);

}  // namespace tarnvel
