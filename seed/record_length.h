// Record lengths of a SEED file: detection from its first pieces, and the length each
// data record declares for itself.
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

// The reading length of a file that begins with a miniSEED 3 record. Its records, and SEED data
// records that declare their length, are read at their own lengths; only a SEED data record
// without a blockette 1000 is read at this one, the length a blockette 1001 alone gives.
inline constexpr int kMseed3ReadingLength = 4096;

// Detection reads the file in consecutive pieces of this many bytes.
inline constexpr std::size_t kDetectionPiece = 256;

struct RecordLengthResult {
  int recordLength = -1;  // 0: too short to tell; -1: not a data file; else the length
  bool readFailed = false;
};

// `readPiece` fills the kDetectionPiece-byte span with the next consecutive piece of the file and
// returns the number of bytes read, or -1 on a read failure.
RecordLengthResult DetectRecordLength(
    const std::function<long(std::span<std::uint8_t, kDetectionPiece>)>& readPiece);

// The record length a data record's blockette 1000 declares, also behind a leading blockette
// 1001 that links to it; 0 when the record declares none. Reads only within `record`.
int DeclaredRecordLength(std::span<const std::uint8_t> record);

// Whether `bytes` begin like the header of a SEED data record: a sequence number of digits,
// blanks or NULs, a data record indicator, a blank or NUL, and an hour, minute and second in
// range.
bool LooksLikeDataRecordStart(std::span<const std::uint8_t> bytes);

}  // namespace tarnvel
