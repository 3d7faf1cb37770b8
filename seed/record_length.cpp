#include "seed/record_length.h"

#include <array>

#include "seed/byte_order.h"
#include "seed/quality_indicator.h"

namespace tarnvel {
namespace {

constexpr std::size_t kPiece = 256;
constexpr std::uint16_t kBlockette1000 = 1000;
constexpr std::uint16_t kBlockette1001 = 1001;

// 2^exponent, kept inside int; anything of 2^16 and more is beyond what a reader accepts anyway.
int PowerOfTwo(std::uint8_t exponent) {
  return exponent < 31 ? (1 << exponent) : (1 << 30);
}

// Record length that the blockettes at the start of a data record declare, or `current` when
// they declare none.
int LengthFromBlockettes(const std::array<std::uint8_t, kPiece>& p, int current) {
  const std::uint16_t typeBig = Load16<true>(p.data() + 48);
  const std::uint16_t typeLittle = Load16<false>(p.data() + 48);
  if (typeBig == kBlockette1001 || typeLittle == kBlockette1001) {
    // A 1001 in front of the 1000: the length is in the 1000 its link points to.
    const bool bigEndian = typeBig == kBlockette1001;
    const std::size_t next = Load16(p.data() + 50, bigEndian);
    if (next >= 48 && next + 8 <= kPiece && Load16(p.data() + next, bigEndian) == kBlockette1000) {
      return PowerOfTwo(p[next + 6]);
    }
    return 4096;
  }
  const std::uint16_t type = p[53] != 0 ? typeBig : typeLittle;
  if (type == kBlockette1000) return PowerOfTwo(p[54]);
  return current;
}

}  // namespace

RecordLengthResult DetectRecordLength(
    const std::function<long(std::span<std::uint8_t, 256>)>& readPiece) {
  RecordLengthResult result;
  std::array<std::uint8_t, kPiece> piece{};
  for (std::size_t examined = 0; examined < kMaxPiecesExamined; ++examined) {
    const long n = readPiece(std::span<std::uint8_t, 256>(piece));
    if (n < 0) {
      result.readFailed = true;
      return result;
    }
    if (n < static_cast<long>(kPiece)) {
      result.recordLength = 0;
      return result;
    }
    const bool data = IsDataRecordIndicator(piece[6]);
    if (Load16<false>(piece.data() + 46) == 0) {
      result.recordLength = 4096;
    } else if (data) {
      result.recordLength = LengthFromBlockettes(piece, result.recordLength);
    }
    if (data || result.recordLength % 256 != 0) return result;
  }
  // No data record in the first MiB: endless or huge input without records (/dev/zero, a disk
  // image of zeros) is taken for what it is, a file without records.
  result.recordLength = -1;
  return result;
}

}  // namespace tarnvel
