// The layout of a miniSEED 3 record (the FDSN's 2023 record format): a 40-byte little-endian
// fixed header, the source identifier, extra headers in JSON and the data payload, each as long
// as the header says; the record's CRC-32C; and the FDSN source identifier that names its
// channel. Pure functions over byte spans; nothing is read outside the span given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace tarnvel::mseed3 {

inline constexpr std::size_t kFixedHeaderSize = 40;
inline constexpr std::uint8_t kFormatVersion = 3;

// Offsets of the fixed header's fields.
namespace at {
inline constexpr std::size_t kFormatVersion = 2;  // after "MS"
inline constexpr std::size_t kFlags = 3;
inline constexpr std::size_t kNanosecond = 4;  // record start time from here to byte 14
inline constexpr std::size_t kYear = 8;
inline constexpr std::size_t kDayOfYear = 10;
inline constexpr std::size_t kHour = 12;
inline constexpr std::size_t kMinute = 13;
inline constexpr std::size_t kSecond = 14;
inline constexpr std::size_t kEncoding = 15;
inline constexpr std::size_t kRate = 16;  // float64: samples per second, or minus the period
inline constexpr std::size_t kSampleCount = 24;
inline constexpr std::size_t kCrc = 28;
inline constexpr std::size_t kPublicationVersion = 32;
inline constexpr std::size_t kIdentifierLength = 33;
inline constexpr std::size_t kExtraHeadersLength = 34;
inline constexpr std::size_t kPayloadLength = 36;
}  // namespace at

// The fixed header with its fields in host order.
struct FixedHeader {
  std::uint8_t flags = 0;
  std::uint32_t nanosecond = 0;
  std::uint16_t year = 0;
  std::uint16_t dayOfYear = 0;
  std::uint8_t hour = 0;
  std::uint8_t minute = 0;
  std::uint8_t second = 0;
  std::uint8_t encoding = 0;
  double rateOrPeriod = 0.0;
  std::uint32_t sampleCount = 0;
  std::uint32_t crc = 0;
  std::uint8_t publicationVersion = 0;
  std::uint8_t identifierLength = 0;
  std::uint16_t extraHeadersLength = 0;
  std::uint32_t payloadLength = 0;

  // The whole record: fixed header, identifier, extra headers and payload.
  std::uint64_t RecordLength() const {
    return kFixedHeaderSize + identifierLength + std::uint64_t{extraHeadersLength} + payloadLength;
  }
  std::size_t IdentifierOffset() const { return kFixedHeaderSize; }
  std::size_t PayloadOffset() const {
    return kFixedHeaderSize + identifierLength + std::size_t{extraHeadersLength};
  }
};

// Whether `bytes` begin with a record's signature: "MS" and format version 3.
bool IsRecordStart(std::span<const std::uint8_t> bytes);

// The fixed header of `bytes` (at least kFixedHeaderSize of them).
FixedHeader ReadFixedHeader(std::span<const std::uint8_t> bytes);

// The length the record at the start of `bytes` declares; 0 when `bytes` holds no signature
// and whole fixed header.
std::uint64_t DeclaredLength(std::span<const std::uint8_t> bytes);

// Whether `record` (exactly as long as it declares) holds the CRC-32C of itself, taken with its
// CRC field as zeros.
bool CrcMatches(std::span<const std::uint8_t> record);

// The six codes of an FDSN source identifier "FDSN:NET_STA_LOC_BAND_SOURCE_SUBSOURCE" (the
// location may be empty); nothing for any other identifier. Band, source and subsource joined
// are the SEED channel code ("B_H_Z": "BHZ"). No length or character rule is applied here.
struct SourceCodes {
  std::string_view network;
  std::string_view station;
  std::string_view location;
  std::string_view band;
  std::string_view source;
  std::string_view subsource;
};
std::optional<SourceCodes> ParseSourceIdentifier(std::string_view identifier);

}  // namespace tarnvel::mseed3
