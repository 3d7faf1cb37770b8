#include "seed/record_length.h"

#include <algorithm>
#include <array>

#include "seed/byte_order.h"
#include "seed/quality_indicator.h"

namespace tarnvel {
namespace {

constexpr std::size_t kPiece = 256;
constexpr std::size_t kFirstBlockette = 48;
constexpr std::uint16_t kBlockette1000 = 1000;
constexpr std::uint16_t kBlockette1001 = 1001;

// 2^exponent, kept inside int; anything of 2^16 and more is beyond what a reader accepts anyway.
int PowerOfTwo(std::uint8_t exponent) {
  return exponent < 31 ? (1 << exponent) : (1 << 30);
}

// Record length that the blockettes at the start of a data record declare, or `current` when
// they declare none.
int LengthFromBlockettes(const std::array<std::uint8_t, kPiece>& p, int current) {
  if (const int declared = DeclaredRecordLength(p)) return declared;
  // A blockette 1001 without a blockette 1000 behind it.
  if (Load16<true>(p.data() + kFirstBlockette) == kBlockette1001 ||
      Load16<false>(p.data() + kFirstBlockette) == kBlockette1001) {
    return 4096;
  }
  return current;
}

}  // namespace

int DeclaredRecordLength(std::span<const std::uint8_t> p) {
  if (p.size() < kFirstBlockette + 8) return 0;
  const std::uint16_t typeBig = Load16<true>(p.data() + kFirstBlockette);
  const std::uint16_t typeLittle = Load16<false>(p.data() + kFirstBlockette);
  if (typeBig == kBlockette1001 || typeLittle == kBlockette1001) {
    // A 1001 in front of the 1000: the length is in the 1000 its link points to.
    const bool bigEndian = typeBig == kBlockette1001;
    const std::size_t next = Load16(p.data() + kFirstBlockette + 2, bigEndian);
    if (next >= kFirstBlockette && next + 8 <= p.size() &&
        Load16(p.data() + next, bigEndian) == kBlockette1000) {
      return PowerOfTwo(p[next + 6]);
    }
    return 0;
  }
  const std::uint16_t type = p[53] != 0 ? typeBig : typeLittle;
  return type == kBlockette1000 ? PowerOfTwo(p[54]) : 0;
}

bool LooksLikeDataRecordStart(std::span<const std::uint8_t> p) {
  if (p.size() < 27) return false;
  const auto sequenceByte = [](std::uint8_t c) {
    return (c >= '0' && c <= '9') || c == ' ' || c == 0;
  };
  return std::all_of(p.begin(), p.begin() + 6, sequenceByte) && IsDataRecordIndicator(p[6]) &&
         (p[7] == ' ' || p[7] == 0) && p[24] <= 23 && p[25] <= 59 && p[26] <= 60;
}

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
