// The layout of a SEED data record: the fields of the fixed header and of blockettes 1000 and
// 1001 as named types at their offsets, read in the record's byte order; and the blockette chain.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "seed/byte_order.h"

namespace tarnvel {

// A field of type `T` at `kAt` bytes from the start of its section (the record or a blockette).
template <typename T, std::size_t kAt>
struct Field {
  static_assert(sizeof(T) <= 2);
  static constexpr std::size_t kOffset = kAt;
  static T Get(const std::uint8_t* section, bool bigEndian = false) {
    if constexpr (sizeof(T) == 1) return static_cast<T>(section[kAt]);
    return static_cast<T>(Load16(section + kAt, bigEndian));
  }
};

// A blank-padded text field of `kWidth` characters at `kAt`.
template <std::size_t kAt, std::size_t kWidth>
struct TextField {
  static constexpr std::size_t kOffset = kAt;
  static constexpr std::size_t kSize = kWidth;
};

// The fixed section of the data header.
namespace fixed_header {
using SequenceNumber = TextField<0, 6>;
using Quality = Field<std::uint8_t, 6>;  // data header / quality indicator
using Reserved = Field<std::uint8_t, 7>;
using Station = TextField<8, 5>;
using Location = TextField<13, 2>;
using Channel = TextField<15, 3>;
using Year = Field<std::uint16_t, 20>;  // record start time (BTIME) from here to byte 29
using DayOfYear = Field<std::uint16_t, 22>;
using Hour = Field<std::uint8_t, 24>;
using Minute = Field<std::uint8_t, 25>;
using Second = Field<std::uint8_t, 26>;
using Fractions = Field<std::uint16_t, 28>;  // 0.0001 s
using SampleCount = Field<std::uint16_t, 30>;
using RateFactor = Field<std::int16_t, 32>;
using RateMultiplier = Field<std::int16_t, 34>;
using BeginningOfData = Field<std::uint16_t, 44>;
using FirstBlockette = Field<std::uint16_t, 46>;
inline constexpr std::size_t kSize = 48;  // the first blockette is read right behind it
}  // namespace fixed_header

// Blockettes, from the blockette's own start.
namespace blockette {
using Type = Field<std::uint16_t, 0>;
using Next = Field<std::uint16_t, 2>;  // offset of the next blockette in the record
// Blockette 1000; a blockette 1001 holds its timing quality and microseconds at 4 and 5.
using EncodingFormat = Field<std::uint8_t, 4>;
using WordOrder = Field<std::uint8_t, 5>;  // 0 little-endian, else big-endian
using RecordLengthExponent = Field<std::uint8_t, 6>;
inline constexpr std::size_t kSize = 8;                     // of blockettes 1000 and 1001
inline constexpr std::uint16_t k1000 = 1000, k1001 = 1001;  // the types read
}  // namespace blockette

// The fixed section and one blockette: the least a record must hold to be read.
inline constexpr std::size_t kMinimumRecord = fixed_header::kSize + blockette::kSize;

// D (unknown quality), R (raw), Q (quality controlled) and M (modified by a data centre, as
// FDSN data centres deliver records since SEED 2.4) all mark data records.
constexpr bool IsDataRecordIndicator(std::uint8_t indicator) {
  return indicator == 'D' || indicator == 'R' || indicator == 'Q' || indicator == 'M';
}

// Encoding codes of blockette 1000 (and of a miniSEED 3 header) that the decoders know, and
// text (kText: a log record, not samples); a record may carry any other value.
enum class Encoding : std::uint8_t {
  kText = 0,
  kInt16 = 1,
  kInt32 = 3,
  kFloat32 = 4,
  kFloat64 = 5,
  kSteim1 = 10,
  kSteim2 = 11,
};

// Whether the decoders turn records of `encoding` into samples.
constexpr bool IsDecodable(Encoding encoding) {
  switch (encoding) {
    case Encoding::kInt16:
    case Encoding::kInt32:
    case Encoding::kFloat32:
    case Encoding::kFloat64:
    case Encoding::kSteim1:
    case Encoding::kSteim2:
      return true;
    default:
      return false;
  }
}

// What the SEED and miniSEED 3 formats call the encoding of `code` ("unknown" for a code they
// do not define), for the converter's report of records it did not decode.
const char* EncodingName(std::uint8_t code);

// What the blockettes at the start of a data record say.
struct BlocketteChain {
  bool bigEndian = false;  // the swap flag: header and data are big-endian
  Encoding encoding = Encoding::kSteim1;
  bool blockette1001First = false;
  int declaredLength = 0;  // record length a blockette 1000 declares; 0 when none is read
};

// Reads the blockette at byte 48 of `record` (at least kMinimumRecord bytes) and, when it is a
// 1001, the 1000 its link points to within `record`. A 1001 alone means Steim1 in its own byte
// order; any other blockette at 48 is read as a 1000 whose length counts when its type is 1000.
BlocketteChain ReadBlocketteChain(std::span<const std::uint8_t> record);

}  // namespace tarnvel
