// Record length detection of a SEED file from its first 256-byte pieces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

namespace tarnvel {

// Detection examines at most this many pieces (1 MiB) and gives up with -1 when none of them
// settles the length, so that endless input without records (/dev/zero) ends, and input that
// cannot be sought has to keep at most that much for its rewind.
inline constexpr std::size_t kMaxPiecesExamined = 4096;

struct RecordLengthResult {
  int recordLength = -1;  // 0: too short to tell; -1: not a data file; else the length
  bool readFailed = false;
};

// `readPiece` fills the 256-byte span with the next consecutive piece of the file and returns the
// number of bytes read, or -1 on a read failure.
RecordLengthResult DetectRecordLength(
    const std::function<long(std::span<std::uint8_t, 256>)>& readPiece);

}  // namespace tarnvel
