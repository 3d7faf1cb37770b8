// Writing miniSEED 3 records for tests, benchmarks and fuzz corpora, independently of the
// converter's reader: the layout written out field by field and the CRC-32C computed bit by bit,
// as RFC 3720 states it.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

namespace tarnvel::testing {

// CRC-32C one bit at a time: the plain model the converter's CRC is held against.
inline std::uint32_t BitwiseCrc32c(std::span<const std::uint8_t> bytes) {
  std::uint32_t r = 0xFFFFFFFFu;
  for (const std::uint8_t byte : bytes) {
    r ^= byte;
    for (int bit = 0; bit < 8; ++bit) r = (r >> 1) ^ ((r & 1u) != 0 ? 0x82F63B78u : 0u);
  }
  return ~r;
}

struct Mseed3Fields {
  std::string identifier = "FDSN:XX_STA__B_H_Z";
  std::uint16_t year = 2013;
  std::uint16_t dayOfYear = 240;
  std::uint8_t hour = 13;
  std::uint8_t minute = 14;
  std::uint8_t second = 57;
  std::uint32_t nanosecond = 0;
  std::uint8_t encoding = 11;
  double rate = 100.0;  // negative: the sample period in seconds
  std::uint32_t sampleCount = 0;
  std::uint8_t flags = 0;
  std::uint8_t publicationVersion = 1;
  std::string extraHeaders;  // JSON
};

inline void PutLittle(std::vector<std::uint8_t>& r, std::size_t at, std::uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i)
    r[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Writes the record's CRC into its field (after the record was changed on purpose).
inline void SetMseed3Crc(std::vector<std::uint8_t>& record) {
  if (record.size() < 40) return;
  PutLittle(record, 28, 0, 4);
  PutLittle(record, 28, BitwiseCrc32c(record), 4);
}

// A record of `fields` carrying `payload`, with its CRC.
inline std::vector<std::uint8_t> Mseed3Record(const Mseed3Fields& fields,
                                              std::span<const std::uint8_t> payload) {
  const std::size_t identifierAt = 40;
  const std::size_t extraAt = identifierAt + fields.identifier.size();
  const std::size_t payloadAt = extraAt + fields.extraHeaders.size();
  std::vector<std::uint8_t> r(payloadAt + payload.size(), 0);
  r[0] = 'M';
  r[1] = 'S';
  r[2] = 3;
  r[3] = fields.flags;
  PutLittle(r, 4, fields.nanosecond, 4);
  PutLittle(r, 8, fields.year, 2);
  PutLittle(r, 10, fields.dayOfYear, 2);
  r[12] = fields.hour;
  r[13] = fields.minute;
  r[14] = fields.second;
  r[15] = fields.encoding;
  std::uint64_t rateBits;
  std::memcpy(&rateBits, &fields.rate, 8);
  PutLittle(r, 16, rateBits, 8);
  PutLittle(r, 24, fields.sampleCount, 4);
  r[32] = fields.publicationVersion;
  r[33] = static_cast<std::uint8_t>(fields.identifier.size());
  PutLittle(r, 34, fields.extraHeaders.size(), 2);
  PutLittle(r, 36, payload.size(), 4);
  for (std::size_t i = 0; i < fields.identifier.size(); ++i) {
    r[identifierAt + i] = static_cast<std::uint8_t>(fields.identifier[i]);
  }
  for (std::size_t i = 0; i < fields.extraHeaders.size(); ++i) {
    r[extraAt + i] = static_cast<std::uint8_t>(fields.extraHeaders[i]);
  }
  for (std::size_t i = 0; i < payload.size(); ++i) r[payloadAt + i] = payload[i];
  SetMseed3Crc(r);
  return r;
}

inline std::string AsText(const std::vector<std::uint8_t>& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace tarnvel::testing
