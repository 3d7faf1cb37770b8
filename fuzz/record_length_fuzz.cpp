// Record length detection over arbitrary bytes served in 256-byte pieces, with an optional read
// failure at a chosen piece.
//
// Input: one byte, the piece that fails (0: none), then the file's bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "fuzz/fuzz_input.h"
#include "fuzz/segment_checks.h"
#include "seed/record_length.h"

namespace {

using tarnvel::fuzz::Require;

bool PowerOfTwo(int v) {
  return v > 0 && (v & (v - 1)) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tarnvel::fuzz::FuzzInput input(data, size);
  const unsigned failingPiece = input.Byte();
  const auto file = input.Rest();

  std::size_t position = 0;
  std::size_t lastPiece = 0;  // where the last piece handed out began
  unsigned piecesAsked = 0;
  bool ended = false;   // a short read or a failure was handed out
  bool failed = false;  // the failure was handed out
  const auto readPiece = [&](std::span<std::uint8_t, 256> piece) -> long {
    Require(!ended, "asked for another piece after the end");
    ++piecesAsked;
    if (failingPiece != 0 && piecesAsked == failingPiece) {
      ended = failed = true;
      return -1;
    }
    lastPiece = position;
    const std::size_t n = std::min(piece.size(), file.size() - position);
    if (n > 0) std::memcpy(piece.data(), file.data() + position, n);
    position += n;
    if (n < piece.size()) ended = true;
    return static_cast<long>(n);
  };

  const tarnvel::RecordLengthResult result = tarnvel::DetectRecordLength(readPiece);
  Require(result.readFailed == failed, "read failure not reported as such");
  // A short file gives 0, unless its last piece begins with a miniSEED 3 record: those carry
  // their lengths, and detection stops at the first piece that begins with one.
  const auto at = file.subspan(std::min(lastPiece, file.size()));
  const bool mseed3 = !failed && at.size() >= 3 && at[0] == 'M' && at[1] == 'S' && at[2] == 3;
  if (ended && !failed && !mseed3) {
    Require(result.recordLength == 0, "short file did not give length 0");
  }
  if (mseed3) {
    Require(result.recordLength == tarnvel::kMseed3ReadingLength,
            "miniSEED 3 record without its reading length");
  }
  if (!ended) {
    // Detection stopped on a data record, or on a piece that gives no usable length.
    Require(result.recordLength == -1 || PowerOfTwo(result.recordLength),
            "record length neither -1 nor a power of two");
  }
  return 0;
}
