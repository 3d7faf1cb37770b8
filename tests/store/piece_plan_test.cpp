// What happens to each piece of a segment, decided from the piece, the channel's rows and the
// sizes of their files alone.
#include "store/piece_plan.h"

#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace tarnvel {
namespace {

using Kind = StoreFiles::Kind;

constexpr double kBegin = 1237640700.0;  // 2009-03-21 13:05:00 UTC

// A row of `samples` samples at `rate` from kBegin, as the store writes it, with a file of
// `fileBytes` bytes behind it (-1: no file).
ChannelFile Row(std::int64_t samples, double rate, std::int64_t fileBytes, bool withEnd = true) {
  ChannelFile file;
  file.cpath = "ABC/13/21032009-130500-BHZ.ABC";
  file.offset = kDataOffset;
  file.begin = kBegin;
  file.quantity = AsStoredDuration(RowDuration(samples, rate));
  if (withEnd) file.end = AsStoredTime(kBegin + RowDuration(samples, rate));
  file.rate = RowRate(rate);
  file.disk = fileBytes < 0 ? StoreFiles::Entry{Kind::kMissing, 0}
                            : StoreFiles::Entry{Kind::kRegularFile, fileBytes};
  return file;
}

std::int64_t Bytes(std::int64_t samples) {
  return kDataOffset + 4 * samples;
}

// The row with the TEND it had at `samples` samples.
ChannelFile StaleEnd(ChannelFile file, std::int64_t samples) {
  file.end = AsStoredTime(file.begin + RowDuration(samples, file.rate));
  return file;
}

TEST(PiecePlanTest, RatesAreWhatTwoDecimalsCarry) {
  EXPECT_EQ(RowRate(20.0), 20.0);
  EXPECT_EQ(RowRate(62.5), 62.5);
  EXPECT_EQ(RowRate(1.0 / 7.0), 0.14);
  EXPECT_EQ(RowRate(0.005), 0.01);
  EXPECT_EQ(RowRate(1.0 / 300.0), 0.0);  // not storable
  EXPECT_TRUE(SameRowRate(40.0, 40.001));
  EXPECT_FALSE(SameRowRate(40.0, 100.0));
  // TQTY × SPS is the sample count, whatever the rate.
  EXPECT_NEAR(RowDuration(514, 1.0 / 7.0) * 0.14, 514.0, 1e-9);
  EXPECT_EQ(RowDuration(72000, 20.0), 3600.0);
  // How many samples a row's SPS places within half an interval of their times.
  EXPECT_EQ(SamplesARowPlaces(20.0), std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(SamplesARowPlaces(62.5), std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(SamplesARowPlaces(1.0 / 7.0), 25);  // 24 × 0.0204 < 0.5
  EXPECT_EQ(SamplesARowPlaces(0.005), 1);       // SPS 0.01: the second sample 100 s early
}

TEST(PiecePlanTest, SegmentsAreCutOnWholeSamples) {
  struct Case {
    double rate;
    std::int64_t count;
    std::vector<std::int64_t> lengths;
  };
  const std::vector<Case> cases = {
      {20.0, 180000, {72000, 72000, 36000}},
      {20.0, 72000, {72000}},
      {62.5, 300000, {225000, 75000}},
      {0.3, 2200, {1080, 1080, 40}},
      // SPS 0.14 places 25 samples of one every 7 s within half an interval (of 514 an hour).
      {1.0 / 7.0, 60, {25, 25, 10}},
      {33.333333, 12000, {5000, 5000, 2000}},  // SPS 33.33
      {0.0002, 3, {1, 1, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rate);
    const std::vector<Piece> pieces = CutIntoPieces(kBegin, c.rate, c.count);
    ASSERT_EQ(pieces.size(), c.lengths.size());
    std::int64_t first = 0;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
      EXPECT_EQ(pieces[i].first, first);
      EXPECT_EQ(pieces[i].count, c.lengths[i]);
      // Each piece starts at the time of its first sample.
      EXPECT_DOUBLE_EQ(pieces[i].start, kBegin + static_cast<double>(first) / c.rate);
      first += c.lengths[i];
    }
    EXPECT_EQ(first, c.count);
  }
}

TEST(PiecePlanTest, FilesAreJudgedAgainstTheirRows) {
  struct Case {
    const char* name;
    ChannelFile file;
    FileState state;
    std::int64_t samples;
    std::int64_t keepBytes;
  };
  ChannelFile link = Row(24000, 20.0, 0);
  link.disk.kind = Kind::kOther;
  const std::vector<Case> cases = {
      {"as registered", Row(24000, 20.0, Bytes(24000)), FileState::kMatches, 24000, 0},
      {"samples of an unfinished append", Row(24000, 20.0, Bytes(24025)), FileState::kLonger, 24000,
       Bytes(24000)},
      {"part of a sample", Row(24000, 20.0, Bytes(24000) + 2), FileState::kLonger, 24000,
       Bytes(24000)},
      {"cut short", Row(24000, 20.0, Bytes(23000)), FileState::kShorter, 23000, 0},
      {"no header", Row(24000, 20.0, 100), FileState::kShorter, 0, 0},
      {"gone", Row(24000, 20.0, -1), FileState::kMissing, 0, 0},
      {"a link", link, FileState::kNotAFile, 0, 0},
      {"a slow channel", Row(514, 1.0 / 7.0, Bytes(514)), FileState::kMatches, 514, 0},
      // Without TEND, TQTY's hundredths leave 2000 sps ten samples either way.
      {"2000 sps by TQTY", Row(12345, 2000.0, Bytes(12345), false), FileState::kMatches, 12345, 0},
      {"2000 sps beyond TQTY", Row(12345, 2000.0, Bytes(12400), false), FileState::kLonger, 12340,
       Bytes(12340)},
      {"2000 sps by TEND", Row(12345, 2000.0, Bytes(12346)), FileState::kLonger, 12345,
       Bytes(12345)},
      // A run without the end-time switch extended TQTY and left TEND behind: TQTY counts.
      {"a stale TEND", StaleEnd(Row(18000, 20.0, Bytes(18000)), 12000), FileState::kMatches, 18000,
       0},
      {"a stale TEND, samples beyond TQTY", StaleEnd(Row(18000, 20.0, Bytes(18500)), 12000),
       FileState::kLonger, 18000, Bytes(18000)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const FileCheck check = CheckFileAgainstRow(c.file);
    EXPECT_EQ(check.state, c.state);
    EXPECT_EQ(check.samples, c.samples);
    if (c.state == FileState::kLonger) {
      EXPECT_EQ(check.keepBytes, c.keepBytes);
    }
  }
}

TEST(PiecePlanTest, APieceContinuesTheLatestFileOnlyWhenItsRowAndFileAllowIt) {
  struct Case {
    const char* name;
    std::optional<ChannelFile> latest;
    double start;  // of a piece of 12000 samples at 20 sps
    PieceAction action;
    std::int64_t fileSamples;
    std::int64_t keepBytes;
    PieceNotice notice;
  };
  const double end = kBegin + 1200.0;  // of a 24000-sample file
  ChannelFile link = Row(24000, 20.0, 0);
  link.disk.kind = Kind::kOther;
  ChannelFile noHeader = Row(24000, 20.0, Bytes(24000));
  noHeader.offset = 0;
  const std::vector<Case> cases = {
      {"no file yet", std::nullopt, end, PieceAction::kNewFile, 0, -1, PieceNotice::kNone},
      {"seamless", Row(24000, 20.0, Bytes(24000)), end, PieceAction::kAppend, 24000, -1,
       PieceNotice::kNone},
      {"1.4 intervals late", Row(24000, 20.0, Bytes(24000)), end + 0.07, PieceAction::kAppend,
       24000, -1, PieceNotice::kNone},
      {"2 intervals late", Row(24000, 20.0, Bytes(24000)), end + 0.1, PieceAction::kNewFile, 0, -1,
       PieceNotice::kNone},
      {"another rate", Row(48000, 40.0, Bytes(48000)), end, PieceAction::kNewFile, 0, -1,
       PieceNotice::kNone},
      {"a full hour", Row(72000, 20.0, Bytes(72000)), kBegin + 3600.0, PieceAction::kNewFile, 0, -1,
       PieceNotice::kNone},
      {"no 512-byte header", noHeader, end, PieceAction::kNewFile, 0, -1, PieceNotice::kNone},
      {"longer than its row", Row(24000, 20.0, Bytes(24010)), end, PieceAction::kAppend, 24000,
       Bytes(24000), PieceNotice::kNone},
      {"shorter than its row", Row(24000, 20.0, Bytes(20000)), end, PieceAction::kNewFile, 0, -1,
       PieceNotice::kFileShorterThanRow},
      {"gone", Row(24000, 20.0, -1), end, PieceAction::kNewFile, 0, -1, PieceNotice::kFileMissing},
      {"gone, and not continued anyway", Row(24000, 20.0, -1), end + 60.0, PieceAction::kNewFile, 0,
       -1, PieceNotice::kNone},
      {"a link", link, end, PieceAction::kRefuse, 0, -1, PieceNotice::kNone},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const PieceDecision decision = DecidePiece(Piece{0, 12000, c.start}, 20.0, c.latest);
    EXPECT_EQ(decision.action, c.action);
    EXPECT_EQ(decision.notice, c.notice);
    if (c.action == PieceAction::kAppend) {
      EXPECT_EQ(decision.fileSamples, c.fileSamples);
      EXPECT_EQ(decision.keepBytes, c.keepBytes);
    }
  }
}

TEST(PiecePlanTest, AFastChannelsFileEndsWhereItsSamplesDo) {
  // At 1000 sps TQTY's hundredths leave ten samples open: 9997 and 10003 samples both give
  // TQTY 10.00. The file's size tells where its samples end.
  const double rate = 1000.0;
  const ChannelFile shorter = Row(9997, rate, Bytes(9997), false);
  const ChannelFile longer = Row(10003, rate, Bytes(10003), false);
  ASSERT_EQ(shorter.quantity, longer.quantity);
  EXPECT_EQ(DecidePiece(Piece{0, 10, kBegin + 9.997}, rate, shorter).action, PieceAction::kAppend);
  EXPECT_EQ(DecidePiece(Piece{0, 10, kBegin + 10.0}, rate, shorter).action, PieceAction::kNewFile);
  const PieceDecision after = DecidePiece(Piece{0, 10, kBegin + 10.003}, rate, longer);
  EXPECT_EQ(after.action, PieceAction::kAppend);
  EXPECT_EQ(after.fileSamples, 10003);
  // A piece starting among the last samples is one the file holds.
  const Neighbours near = FindNeighbours(Piece{0, 10, kBegin + 10.001}, rate, {longer});
  ASSERT_TRUE(near.covering);
  EXPECT_FALSE(FindNeighbours(Piece{0, 10, kBegin + 9.998}, rate, {shorter}).covering);
}

TEST(PiecePlanTest, AnAppendStoppedBeforeItsRowGoesBackToTheSizeBeforeIt) {
  // 1001 samples at 200 sps: TQTY 5.00 registers 999 to 1001 of them; 400 more were appended.
  const ChannelFile file = Row(1001, 200.0, Bytes(1401), false);
  EXPECT_EQ(CheckFileAgainstRow(file).keepBytes, Bytes(1000));  // the row alone cannot tell
  FileCheck check = CheckAppendedFile(file, Bytes(1001));
  EXPECT_EQ(check.state, FileState::kLonger);
  EXPECT_EQ(check.samples, 1001);
  EXPECT_EQ(check.keepBytes, Bytes(1001));
  // A size before the append that the row does not register is no guide.
  check = CheckAppendedFile(file, Bytes(1200));
  EXPECT_EQ(check.keepBytes, Bytes(1000));
  check = CheckAppendedFile(file, Bytes(1001) + 2);
  EXPECT_EQ(check.keepBytes, Bytes(1000));
  // The row was extended before the kill: the file matches it and stays.
  EXPECT_EQ(CheckAppendedFile(Row(1401, 200.0, Bytes(1401), false), Bytes(1001)).state,
            FileState::kMatches);
}

TEST(PiecePlanTest, ASlowChannelsFileEndsWhereItsSamplesDo) {
  // 20 samples at 1/7 sps: TQTY is 20 / 0.14 s, the samples end 140 s after the start.
  const double rate = 1.0 / 7.0;
  const ChannelFile file = Row(20, rate, Bytes(20));
  const PieceDecision next = DecidePiece(Piece{0, 10, kBegin + 140.0}, rate, file);
  EXPECT_EQ(next.action, PieceAction::kAppend);
  EXPECT_EQ(next.count, 5);  // the row places 25 samples at their times, no more
  EXPECT_EQ(DecidePiece(Piece{0, 10, kBegin + 154.0}, rate, file).action, PieceAction::kNewFile);
  // 25 samples fill a file.
  EXPECT_EQ(DecidePiece(Piece{0, 10, kBegin + 175.0}, rate, Row(25, rate, Bytes(25))).action,
            PieceAction::kNewFile);
  // A rate the row carries appends the whole piece.
  EXPECT_EQ(
      DecidePiece(Piece{0, 12000, kBegin + 600.0}, 20.0, Row(12000, 20.0, Bytes(12000))).count,
      12000);
}

TEST(PiecePlanTest, StoredFilesAroundAPieceAreFoundByTheirSampleTimes) {
  ChannelFile early = Row(36000, 20.0, Bytes(36000));        // 13:05-13:35
  ChannelFile late = Row(12000, 20.0, Bytes(12000), false);  // 13:45-13:55
  late.begin = kBegin + 2400.0;
  ChannelFile otherRate = Row(60000, 100.0, Bytes(60000), false);
  otherRate.begin = kBegin + 1000.0;
  const std::vector<ChannelFile> files = {early, late, otherRate};

  // A piece starting inside the early file, running past the late one's start.
  Neighbours near = FindNeighbours(Piece{0, 36000, kBegin + 1200.0}, 20.0, files);
  ASSERT_TRUE(near.covering);
  EXPECT_EQ(near.covering->begin, kBegin);
  ASSERT_TRUE(near.nextBegin);
  EXPECT_EQ(*near.nextBegin, kBegin + 2400.0);
  // Starting where the early file ends: nothing holds its first sample.
  near = FindNeighbours(Piece{0, 100, kBegin + 1800.0}, 20.0, files);
  EXPECT_FALSE(near.covering);
  EXPECT_FALSE(near.nextBegin);
  // Within half an interval of the late file's start, the late file holds it.
  near = FindNeighbours(Piece{0, 100, kBegin + 2399.98}, 20.0, files);
  ASSERT_TRUE(near.covering);
  EXPECT_EQ(near.covering->begin, kBegin + 2400.0);

  // New samples stop before the next file's first sample.
  EXPECT_EQ(SamplesBefore(Piece{0, 36000, kBegin + 1800.0}, 20.0, kBegin + 2400.0), 12000);
  EXPECT_EQ(SamplesBefore(Piece{0, 36000, kBegin + 1800.0}, 20.0, kBegin + 1800.01), 1);
}

TEST(PiecePlanTest, OffsetsInAFileAreTriedNearestFirstAndPinnedOnlyWhenExact) {
  // 0.04 s late at 20 sps: an append placed it 0.8 intervals early.
  EXPECT_EQ(CandidateOffsets(kBegin + 1200.04, 20.0, kBegin, 36000),
            (std::vector<std::int64_t>{24001, 24000, 24002}));
  EXPECT_EQ(ExactOffset(kBegin + 1200.04, 20.0, kBegin, 36000), std::nullopt);
  EXPECT_EQ(ExactOffset(kBegin + 1200.0, 20.0, kBegin, 36000), 24000);
  EXPECT_EQ(ExactOffset(kBegin + 1200.0001, 20.0, kBegin, 36000), 24000);
  EXPECT_EQ(ExactOffset(kBegin + 1200.01, 20.0, kBegin, 36000), std::nullopt);
  // Never before the file's first sample or past its last.
  EXPECT_EQ(CandidateOffsets(kBegin - 0.02, 20.0, kBegin, 36000),
            (std::vector<std::int64_t>{0, 1}));
  EXPECT_EQ(CandidateOffsets(kBegin + 1799.99, 20.0, kBegin, 36000),
            (std::vector<std::int64_t>{35999}));
  EXPECT_EQ(ExactOffset(kBegin + 1800.0, 20.0, kBegin, 36000), std::nullopt);
}

}  // namespace
}  // namespace tarnvel
