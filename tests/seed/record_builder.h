// Hand-built SEED data records for cases a packer never produces.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "seed/run_context.h"
#include "seed/seed_record.h"

namespace tarnvel::testing {

inline void Put16(std::vector<std::uint8_t>& r, std::size_t at, std::uint16_t v, bool big) {
  r[at] = static_cast<std::uint8_t>(big ? v >> 8 : v & 0xFF);
  r[at + 1] = static_cast<std::uint8_t>(big ? v & 0xFF : v >> 8);
}

inline void Put32(std::vector<std::uint8_t>& r, std::size_t at, std::uint32_t v, bool big) {
  for (int i = 0; i < 4; ++i) {
    const int shift = big ? 24 - 8 * i : 8 * i;
    r[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> shift);
  }
}

// Steim frames: control codes and data words, written in the record's byte order.
struct FrameWriter {
  std::vector<std::uint8_t>& record;
  std::size_t dataStart;
  bool big;

  // Word k (1..15) of frame f gets `code` and holds `word` (a 32-bit value in record order).
  void Word(int f, int k, unsigned code, std::uint32_t word) {
    const std::size_t frame = dataStart + static_cast<std::size_t>(f) * 64;
    std::uint32_t control = 0;
    for (int i = 0; i < 4; ++i) {
      const int shift = big ? 24 - 8 * i : 8 * i;
      control |= static_cast<std::uint32_t>(record[frame + static_cast<std::size_t>(i)]) << shift;
    }
    control |= code << (30 - 2 * k);
    Put32(record, frame, control, big);
    Put32(record, frame + 4 * static_cast<std::size_t>(k), word, big);
  }
  // Four 8-bit differences in memory order (code 1).
  void Bytes(int f, int k, std::int8_t a, std::int8_t b, std::int8_t c, std::int8_t d) {
    Word(f, k, 1, 0);
    const std::size_t at = dataStart + static_cast<std::size_t>(f) * 64 + 4 * std::size_t(k);
    record[at] = static_cast<std::uint8_t>(a);
    record[at + 1] = static_cast<std::uint8_t>(b);
    record[at + 2] = static_cast<std::uint8_t>(c);
    record[at + 3] = static_cast<std::uint8_t>(d);
  }
  // Two 16-bit differences in memory order, each in the record's byte order (Steim1 code 2).
  void Halves(int f, int k, std::int16_t a, std::int16_t b) {
    Word(f, k, 2, 0);
    const std::size_t at = dataStart + static_cast<std::size_t>(f) * 64 + 4 * std::size_t(k);
    Put16(record, at, static_cast<std::uint16_t>(a), big);
    Put16(record, at + 2, static_cast<std::uint16_t>(b), big);
  }
  void X0(std::int32_t v) { Put32(record, dataStart + 4, static_cast<std::uint32_t>(v), big); }
  void Xn(std::int32_t v) { Put32(record, dataStart + 8, static_cast<std::uint32_t>(v), big); }
};

// Packs differences into Steim2 word layouts: dnib in the top two bits, fields below.
inline std::uint32_t Steim2Word(unsigned dnib, int bits, std::initializer_list<std::int32_t> d) {
  std::uint32_t w = dnib << 30;
  int shift = static_cast<int>(30 / bits) * bits - bits;
  if (bits == 4) shift = 24;
  for (std::int32_t v : d) {
    w |= (static_cast<std::uint32_t>(v) & ((1u << bits) - 1)) << shift;
    shift -= bits;
  }
  return w;
}

struct RecordBuilder {
  int length = 512;
  bool big = true;
  char quality = 'D';
  std::string station = "ABC";
  std::string channel = "BHZ";
  std::string location{};
  std::uint16_t year = 2013, day = 240;
  std::uint8_t hour = 13, minute = 14, second = 57;
  std::uint16_t fractions = 0;
  std::uint16_t count = 0;
  std::int16_t factor = 100, multiplier = 1;
  std::uint16_t beginningOfData = 64;
  std::uint16_t blocketteType = 1000;
  std::uint8_t encoding = 11;
  std::uint8_t wordOrder = 255;  // 255: from `big`
  std::uint8_t exponent = 0;     // 0: from `length`

  std::vector<std::uint8_t> Build() const {
    std::vector<std::uint8_t> r(static_cast<std::size_t>(length), 0);
    for (int i = 0; i < 6; ++i) r[static_cast<std::size_t>(i)] = '0';
    r[6] = static_cast<std::uint8_t>(quality);
    r[7] = ' ';
    auto text = [&r](std::size_t at, const std::string& s, std::size_t width) {
      for (std::size_t i = 0; i < width; ++i) {
        r[at + i] = i < s.size() ? static_cast<std::uint8_t>(s[i]) : ' ';
      }
    };
    text(8, station, 5);
    text(13, location, 2);
    text(15, channel, 3);
    text(18, "XX", 2);
    Put16(r, 20, year, big);
    Put16(r, 22, day, big);
    r[24] = hour;
    r[25] = minute;
    r[26] = second;
    Put16(r, 28, fractions, big);
    Put16(r, 30, count, big);
    Put16(r, 32, static_cast<std::uint16_t>(factor), big);
    Put16(r, 34, static_cast<std::uint16_t>(multiplier), big);
    r[39] = 1;
    Put16(r, 44, beginningOfData, big);
    Put16(r, 46, 48, big);
    Put16(r, 48, blocketteType, big);
    if (blocketteType == 1000) {
      r[52] = encoding;
      r[53] = wordOrder != 255 ? wordOrder : (big ? 1 : 0);
      std::uint8_t e = exponent;
      if (e == 0) {
        while ((1 << e) < length) ++e;
      }
      r[54] = e;
    }
    return r;
  }
};

// Files every record of `bytes` in turn, as the reading loop does.
inline void FileRecords(std::span<const std::uint8_t> bytes, int recordLength,
                        RunContext& context) {
  const auto length = static_cast<std::size_t>(recordLength);
  for (std::size_t at = 0; at + length <= bytes.size(); at += length) {
    ProcessDataRecord(bytes.subspan(at, length), recordLength, context);
  }
}

inline void FileRecords(const std::string& bytes, int recordLength, RunContext& context) {
  FileRecords(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                            bytes.size()),
              recordLength, context);
}

// The miniSEED 3 records of `bytes` one after the other, each of the length its header gives
// (read here field by field, not by the converter's reader), as spans.
inline std::vector<std::span<const std::uint8_t>> Mseed3Records(
    std::span<const std::uint8_t> bytes) {
  std::vector<std::span<const std::uint8_t>> out;
  for (std::size_t at = 0; at + 40 <= bytes.size();) {
    const std::uint8_t* h = bytes.data() + at;
    const std::size_t length = 40 + std::size_t{h[33]} +
                               (std::size_t{h[34]} | std::size_t{h[35]} << 8) +
                               (std::size_t{h[36]} | std::size_t{h[37]} << 8 |
                                std::size_t{h[38]} << 16 | std::size_t{h[39]} << 24);
    if (at + length > bytes.size()) break;
    out.push_back(bytes.subspan(at, length));
    at += length;
  }
  return out;
}

inline std::vector<std::span<const std::uint8_t>> Mseed3Records(const std::string& bytes) {
  return Mseed3Records(std::span<const std::uint8_t>(
      reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

// Files every miniSEED 3 record of `bytes` at its own length.
inline void FileMseed3Records(const std::string& bytes, RunContext& context) {
  for (const auto record : Mseed3Records(bytes)) {
    ProcessDataRecord(record, static_cast<int>(record.size()), context);
  }
}

}  // namespace tarnvel::testing
