// Record length detection from the first 256-byte pieces of a file.
#include "seed/record_length.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "tests/seed/record_builder.h"

namespace tarnvel::testing {
namespace {

RecordLengthResult Detect(const std::vector<std::uint8_t>& file, bool failAtSecond = false) {
  std::size_t at = 0;
  int reads = 0;
  return DetectRecordLength([&](std::span<std::uint8_t, 256> piece) -> long {
    if (failAtSecond && ++reads == 2) return -1;
    const std::size_t n = std::min<std::size_t>(256, file.size() - at);
    if (n > 0) std::memcpy(piece.data(), file.data() + at, n);
    at += n;
    return static_cast<long>(n);
  });
}

TEST(RecordLength, FromBlockette1000InEitherOrder) {
  for (bool big : {true, false}) {
    for (int length : {256, 512, 4096}) {
      for (char quality : {'D', 'R', 'Q', 'M'}) {
        RecordBuilder b;
        b.big = big;
        b.length = length;
        b.quality = quality;
        EXPECT_EQ(Detect(b.Build()).recordLength, length) << big << " " << length << quality;
      }
    }
  }
}

TEST(RecordLength, EmptyShortAndUnreadable) {
  EXPECT_EQ(Detect({}).recordLength, 0);
  EXPECT_EQ(Detect(std::vector<std::uint8_t>(255, 'D')).recordLength, 0);
  RecordBuilder b;
  b.quality = 'V';  // a volume header: offset 46 not zero, not a data record
  EXPECT_EQ(Detect(b.Build()).recordLength, -1);
  std::vector<std::uint8_t> zeros(512, 0);
  EXPECT_TRUE(Detect(zeros, true).readFailed);
}

TEST(RecordLength, ZeroFirstBlocketteGives4096AndMovesOn) {
  // A 256-byte piece with offset 46 zero, then a data record declaring 512.
  std::vector<std::uint8_t> file(256, 0);
  RecordBuilder b;
  const auto r = b.Build();
  file.insert(file.end(), r.begin(), r.end());
  EXPECT_EQ(Detect(file).recordLength, 512);
  // Only blank pieces: 4096 stays until the file runs out, which makes it 0.
  EXPECT_EQ(Detect(std::vector<std::uint8_t>(1024, 0)).recordLength, 0);
}

TEST(RecordLength, GivesUpAfterTheFirstMebibyteWithoutARecord) {
  // Endless zeros, as /dev/zero gives them: detection ends as for a file without records.
  std::size_t pieces = 0;
  const RecordLengthResult endless =
      DetectRecordLength([&pieces](std::span<std::uint8_t, 256> piece) -> long {
        ++pieces;
        std::fill(piece.begin(), piece.end(), 0);
        return 256;
      });
  EXPECT_EQ(endless.recordLength, -1);
  EXPECT_FALSE(endless.readFailed);
  EXPECT_EQ(pieces, kMaxPiecesExamined);
  EXPECT_EQ(pieces * 256, std::size_t{1} << 20);

  // A record in the last piece examined is still found; one piece later it is not.
  RecordBuilder b;
  const auto r = b.Build();
  // Both files are built at their full size and the record copied in: GCC 12 at -O3 takes a
  // vector range insert of this size for an out-of-bounds memcpy (a false -Warray-bounds).
  const auto recordAfter = [&r](std::size_t zeroPieces) {
    std::vector<std::uint8_t> file(zeroPieces * 256 + r.size(), 0);
    std::copy(r.begin(), r.end(), file.begin() + static_cast<std::ptrdiff_t>(zeroPieces * 256));
    return file;
  };
  EXPECT_EQ(Detect(recordAfter(kMaxPiecesExamined - 1)).recordLength, 512);
  EXPECT_EQ(Detect(recordAfter(kMaxPiecesExamined)).recordLength, -1);
}

TEST(RecordLength, Blockette1001RecognisedByItsType) {
  for (bool big : {true, false}) {
    RecordBuilder b;
    b.big = big;
    b.blocketteType = 1001;
    auto r = b.Build();
    r[53] = 0;  // microseconds: no longer taken for a word order
    EXPECT_EQ(Detect(r).recordLength, 4096) << big;
    // Linked to a blockette 1000 declaring 512.
    Put16(r, 50, 56, big);
    Put16(r, 56, 1000, big);
    r[60] = 11;
    r[61] = big ? 1 : 0;
    r[62] = 9;
    EXPECT_EQ(Detect(r).recordLength, 512) << big;
  }
}

}  // namespace
}  // namespace tarnvel::testing
