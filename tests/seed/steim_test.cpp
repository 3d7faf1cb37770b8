// Steim1 and Steim2 decoding of hand-built frames: what a packer never writes.
#include "seed/steim.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/seed/record_builder.h"

namespace tarnvel::testing {
namespace {

// A data area of `frames` frames in the given byte order, filled through FrameWriter.
struct Area {
  explicit Area(int frames, bool bigEndian)
      : bytes(static_cast<std::size_t>(frames) * 64, 0), writer{bytes, 0, bigEndian} {}
  std::vector<std::uint8_t> bytes;
  FrameWriter writer;
};

std::vector<float> Run1(const Area& a, int frames, std::size_t announced,
                        SteimStatus* s = nullptr) {
  std::vector<float> out(announced, -1.0f);
  const SteimStatus status = DecodeSteim1(a.bytes, frames, out, a.writer.big);
  if (s != nullptr) *s = status;
  return out;
}

std::vector<float> Run2(const Area& a, int frames, std::size_t announced,
                        SteimStatus* s = nullptr) {
  std::vector<float> out(announced, -1.0f);
  const SteimStatus status = DecodeSteim2(a.bytes, frames, out, a.writer.big);
  if (s != nullptr) *s = status;
  return out;
}

class BothOrders : public ::testing::TestWithParam<bool> {};

TEST_P(BothOrders, Steim1EveryCodeWithX0) {
  Area a(2, GetParam());
  a.writer.X0(1000);
  a.writer.Xn(0);
  a.writer.Bytes(0, 3, 5, -3, 127, -128);  // first difference replaced by X0
  a.writer.Halves(0, 4, 32767, -32768);
  a.writer.Word(0, 5, 3, 0x80000001u);  // -2147483647
  a.writer.Word(0, 6, 0, 0xFFFFFFFFu);  // code 0: skipped whatever it holds
  a.writer.Bytes(1, 1, 1, 1, 1, 1);     // next frame continues the sum
  SteimStatus s;
  const auto out = Run1(a, 2, 11, &s);
  const std::vector<double> want = {1000.0,        997.0,         1124.0,        996.0,
                                    33763.0,       995.0,         -2147482652.0, -2147482651.0,
                                    -2147482650.0, -2147482649.0, -2147482648.0};
  ASSERT_EQ(out.size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(out[i], static_cast<float>(want[i])) << i;
  }
  EXPECT_EQ(s.produced, 11);
  EXPECT_FALSE(s.countMismatch);
}

TEST_P(BothOrders, Steim2EveryLayout) {
  Area a(1, GetParam());
  a.writer.X0(-7);
  a.writer.Bytes(0, 3, 2, 2, 2, 2);                                    // -7 -5 -3 -1
  a.writer.Word(0, 4, 2, Steim2Word(1, 30, {-(1 << 29)}));             // one 30-bit
  a.writer.Word(0, 5, 2, Steim2Word(2, 15, {16383, -16384}));          // two 15-bit
  a.writer.Word(0, 6, 2, Steim2Word(3, 10, {511, -512, 1}));           // three 10-bit
  a.writer.Word(0, 7, 3, Steim2Word(0, 6, {31, -32, 1, -1, 0}));       // five 6-bit
  a.writer.Word(0, 8, 3, Steim2Word(1, 5, {15, -16, 1, -1, 2, -2}));   // six 5-bit
  a.writer.Word(0, 9, 3, Steim2Word(2, 4, {7, -8, 1, -1, 3, -3, 0}));  // seven 4-bit
  a.writer.Word(0, 10, 2, Steim2Word(1, 30, {(1 << 29) - 1}));         // and back
  a.writer.Word(0, 11, 2, Steim2Word(0, 10, {1, 1, 1}));               // dnib 00: no data
  a.writer.Word(0, 12, 3, Steim2Word(3, 10, {1, 1, 1}));               // dnib 11: no data
  std::vector<std::int64_t> diffs = {
      2,  2,   2, 2,  -(1 << 29), 16383, -16384, 511, -512, 1,  31, -32, 1, -1,           0,
      15, -16, 1, -1, 2,          -2,    7,      -8,  1,    -1, 3,  -3,  0, (1 << 29) - 1};
  std::vector<double> want;
  std::int64_t acc = -7;
  want.push_back(-7.0);
  for (std::size_t i = 1; i < diffs.size(); ++i) {
    acc += diffs[i];
    want.push_back(static_cast<double>(acc));
  }
  a.writer.Xn(static_cast<std::int32_t>(acc));
  SteimStatus s;
  const auto out = Run2(a, 1, want.size(), &s);
  for (std::size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(out[i], static_cast<float>(want[i])) << i;
  }
  EXPECT_EQ(s.produced, static_cast<std::int64_t>(want.size()));
  EXPECT_FALSE(s.countMismatch);
  EXPECT_FALSE(s.badFinalValue);
}

INSTANTIATE_TEST_SUITE_P(ByteOrders, BothOrders, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& p) {
                           return p.param ? std::string("Big") : std::string("Little");
                         });

TEST(Steim, X0IsNotAppliedWhenWordThreeOfFrameZeroHoldsNothing) {
  for (bool steim2 : {false, true}) {
    Area a(1, true);
    a.writer.X0(5000);
    a.writer.Bytes(0, 4, 1, 2, 3, 4);  // word 3 has code 0
    const auto out = steim2 ? Run2(a, 1, 4) : Run1(a, 1, 4);
    EXPECT_EQ(out, (std::vector<float>{1, 3, 6, 10})) << steim2;
  }
}

TEST(Steim, WordsOneAndTwoOfFrameZeroCountAsDifferencesWhenCoded) {
  Area a(1, true);
  a.writer.Bytes(0, 1, 1, 1, 1, 1);  // where X0 would be
  a.writer.X0(0);                    // overwrite the word but keep its code 1
  a.writer.Bytes(0, 3, 9, 1, 1, 1);  // X0 (0) replaces the first difference of word 3
  const auto out = Run1(a, 1, 8);
  EXPECT_EQ(out, (std::vector<float>{0, 0, 0, 0, 0, 1, 2, 3}));
}

TEST(Steim, SurplusIsCountedButNotWritten) {
  Area a(1, true);
  a.writer.X0(10);
  a.writer.Bytes(0, 3, 0, 1, 1, 1);
  a.writer.Bytes(0, 4, 1, 1, 1, 1);
  a.writer.Bytes(0, 5, 1, 1, 1, 1);  // 12 differences for 10 slots
  SteimStatus s;
  const auto out = Run2(a, 1, 10, &s);
  EXPECT_EQ(out, (std::vector<float>{10, 11, 12, 13, 14, 15, 16, 17, 18, 19}));
  EXPECT_EQ(s.produced, 12);
  EXPECT_TRUE(s.countMismatch);
  CollectingDebugSink sink;
  ReportSteim2Diagnostics(s, 10, sink);
  ASSERT_EQ(sink.lines.size(), 3u);  // Xn was left 0
  EXPECT_EQ(sink.lines[0],
            "!!! WARNING !!!  Steim Decompression Sample Count Error at  Sample: 10\n");
  EXPECT_EQ(sink.lines[1], "Expected 10, found 12 samples... Extra values will be Truncated\n");
  EXPECT_EQ(sink.lines[2], "bad final value\n");
}

TEST(Steim, ShortfallIsZeroFilled) {
  Area a(1, false);
  a.writer.X0(-3);
  a.writer.Bytes(0, 3, 0, -1, -1, -1);
  a.writer.Bytes(0, 4, -1, -1, -1, -1);  // 8 differences for 10 slots
  for (bool steim2 : {false, true}) {
    SteimStatus s;
    const auto out = steim2 ? Run2(a, 1, 10, &s) : Run1(a, 1, 10, &s);
    EXPECT_EQ(out, (std::vector<float>{-3, -4, -5, -6, -7, -8, -9, -10, 0, 0}));
    EXPECT_EQ(s.produced, 8);
    EXPECT_TRUE(s.countMismatch);
    if (steim2) {
      a.writer.Xn(0);  // the padded last slot holds 0: no final-value complaint
      std::vector<float> slots(10);
      const SteimStatus again = DecodeSteim2(a.bytes, 1, slots, false);
      CollectingDebugSink sink;
      ReportSteim2Diagnostics(again, 10, sink);
      EXPECT_EQ(sink.lines, (std::vector<std::string>{
                                "!!! WARNING !!!  Steim2 Decompression Sample Count Error at "
                                "Sample: 10\n",
                                "Expected 10, found 8 samples... Lost values will be Padded with "
                                "Zeros\n"}));
    }
  }
}

TEST(Steim, ZeroAnnouncedSamplesWritesNothingAndSkipsTheFinalValueCheck) {
  Area a(1, true);
  a.writer.X0(1);
  a.writer.Xn(99);
  a.writer.Bytes(0, 3, 0, 0, 0, 0);
  std::vector<float> none;
  const SteimStatus s = DecodeSteim2(a.bytes, 1, none, true);
  EXPECT_EQ(s.produced, 4);
  EXPECT_FALSE(s.badFinalValue);
  CollectingDebugSink sink;
  ReportSteim2Diagnostics(s, 0, sink);
  EXPECT_EQ(sink.lines, (std::vector<std::string>{
                            "!!! WARNING !!!  Steim Decompression Sample Count Error at  Sample: "
                            "0\n",
                            "Expected 0, found 4 samples... Extra values will be Truncated\n"}));
  // An empty data area with samples announced: all zero, a shortfall, nothing read.
  std::vector<float> out(3, 7.0f);
  const SteimStatus empty = DecodeSteim1({}, 5, out, true);
  EXPECT_EQ(out, (std::vector<float>{0, 0, 0}));
  EXPECT_EQ(empty.produced, 0);
  EXPECT_TRUE(empty.countMismatch);
}

TEST(Steim, BadFinalValueAboveSinglePrecision) {
  // 2^24 + 1 cannot be held by a float: the integer sequence is right, the check still fails.
  Area a(1, true);
  a.writer.X0((1 << 24) + 1);
  a.writer.Xn((1 << 24) + 1);
  a.writer.Bytes(0, 3, 0, 0, 0, 0);
  SteimStatus s;
  const auto out = Run2(a, 1, 4, &s);
  EXPECT_EQ(out[3], 16777216.0f);
  EXPECT_TRUE(s.badFinalValue);
  EXPECT_FALSE(s.countMismatch);
  a.writer.X0(1 << 24);
  a.writer.Xn(1 << 24);
  Run2(a, 1, 4, &s);
  EXPECT_FALSE(s.badFinalValue);
}

TEST(Steim, OnlyWholeFramesInsideTheAreaAreRead) {
  // Three frames announced, but the area ends in the middle of the second.
  Area a(2, true);
  a.writer.X0(0);
  a.writer.Bytes(0, 3, 0, 1, 1, 1);
  a.writer.Bytes(1, 1, 1, 1, 1, 1);
  const std::vector<std::uint8_t> cut(a.bytes.begin(), a.bytes.begin() + 100);
  std::vector<float> out(8, -1.0f);
  const SteimStatus s = DecodeSteim1(cut, 3, out, true);
  EXPECT_EQ(s.produced, 4);
  EXPECT_EQ(out, (std::vector<float>{0, 1, 2, 3, 0, 0, 0, 0}));
  // A frame count below the area's frames limits the decoding too.
  const SteimStatus one = DecodeSteim1(a.bytes, 1, out, true);
  EXPECT_EQ(one.produced, 4);
  const SteimStatus none = DecodeSteim1(a.bytes, -2, out, true);
  EXPECT_EQ(none.produced, 0);
}

TEST(Steim, X0SubtractionWrapsAt32Bits) {
  // X0 - d overflows: the accumulator starts from the wrapped value, as a 32-bit subtraction.
  Area a(1, true);
  a.writer.X0(2147483647);
  a.writer.Word(0, 3, 3, static_cast<std::uint32_t>(-1));
  const auto out = Run1(a, 1, 1);
  EXPECT_EQ(out[0], static_cast<float>(-2147483648.0 - 1.0));
}

TEST(Steim, FrameCounts) {
  EXPECT_EQ(Steim1FrameCount(512), 7);
  EXPECT_EQ(Steim1FrameCount(4096), 63);
  EXPECT_EQ(Steim2FrameCount(4096, 64), 63);
  EXPECT_EQ(Steim2FrameCount(4096, 56), 63);
  EXPECT_EQ(Steim2FrameCount(512, 600), -1);
  EXPECT_EQ(Steim1FrameCount(32), 0);
}

}  // namespace
}  // namespace tarnvel::testing
