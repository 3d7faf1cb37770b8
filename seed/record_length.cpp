#include "seed/record_length.h"

#include <algorithm>
#include <array>

#include "seed/mseed3_layout.h"
#include "seed/record_layout.h"

namespace tarnvel {

int DeclaredRecordLength(std::span<const std::uint8_t> p) {
  return p.size() < kMinimumRecord ? 0 : ReadBlocketteChain(p).declaredLength;
}

bool LooksLikeDataRecordStart(std::span<const std::uint8_t> p) {
  using namespace fixed_header;
  if (p.size() <= Second::kOffset) return false;
  const auto blank = [](std::uint8_t c) { return c == ' ' || c == 0; };
  const auto sequenceByte = [&](std::uint8_t c) { return (c >= '0' && c <= '9') || blank(c); };
  const std::uint8_t* r = p.data();
  return std::all_of(r, r + SequenceNumber::kSize, sequenceByte) &&
         IsDataRecordIndicator(Quality::Get(r)) && blank(Reserved::Get(r)) && Hour::Get(r) <= 23 &&
         Minute::Get(r) <= 59 && Second::Get(r) <= 60;
}

RecordLengthResult DetectRecordLength(
    const std::function<long(std::span<std::uint8_t, kDetectionPiece>)>& readPiece) {
  RecordLengthResult result;
  std::array<std::uint8_t, kDetectionPiece> piece{};
  for (std::size_t examined = 0; examined < kMaxPiecesExamined; ++examined) {
    const long n = readPiece(std::span<std::uint8_t, kDetectionPiece>(piece));
    if (n < 0) {
      result.readFailed = true;
      return result;
    }
    // miniSEED 3 records carry their own lengths, however short the file.
    if (n > 0 && mseed3::IsRecordStart(std::span(piece).first(static_cast<std::size_t>(n)))) {
      result.recordLength = kMseed3ReadingLength;
      return result;
    }
    if (n < static_cast<long>(kDetectionPiece)) {
      result.recordLength = 0;
      return result;
    }
    const bool data = IsDataRecordIndicator(fixed_header::Quality::Get(piece.data()));
    if (fixed_header::FirstBlockette::Get(piece.data()) == 0) {
      result.recordLength = 4096;
    } else if (data) {
      // The length a blockette 1000 declares; a blockette 1001 without one behind it: 4096.
      const BlocketteChain chain = ReadBlocketteChain(piece);
      if (chain.declaredLength != 0 || chain.blockette1001First) {
        result.recordLength = chain.declaredLength != 0 ? chain.declaredLength : 4096;
      }
    }
    if (data || result.recordLength % kDetectionPiece != 0) return result;
  }
  // No data record in the first MiB: endless or huge input without records (/dev/zero, a disk
  // image of zeros) is taken for what it is, a file without records.
  result.recordLength = -1;
  return result;
}

}  // namespace tarnvel
