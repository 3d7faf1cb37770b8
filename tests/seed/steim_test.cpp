// Steim1 and Steim2 decoding of hand-built frames: what a packer never writes.
#include "seed/steim.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <random>
#include <vector>

#include "seed/crc32c.h"
#include "tests/seed/record_builder.h"
#include "tests/seed/steim_reference.h"

namespace tarnvel::testing {
namespace {

// A data area of `frames` frames in the given byte order, filled through FrameWriter.
struct Area {
  explicit Area(int frames, bool bigEndian)
      : bytes(static_cast<std::size_t>(frames) * 64, 0), writer{bytes, 0, bigEndian} {}
  std::vector<std::uint8_t> bytes;
  FrameWriter writer;
};

// Decodes `frames` frames of `a` with Steim2 or Steim1 into `announced` slots preset to -1.
std::vector<float> Decode(bool steim2, const Area& a, int frames, std::size_t announced,
                          SteimStatus* s = nullptr) {
  std::vector<float> out(announced, -1.0f);
  const SteimStatus status = steim2 ? DecodeSteim2(a.bytes, frames, out, a.writer.big)
                                    : DecodeSteim1(a.bytes, frames, out, a.writer.big);
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
  const auto out = Decode(false, a, 2, 11, &s);
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
  // The sums of X0 and the differences above (the first difference replaced by X0).
  const std::vector<double> want = {-7,         -5,         -3,         -1,         -536870913,
                                    -536854530, -536870914, -536870403, -536870915, -536870914,
                                    -536870883, -536870915, -536870914, -536870915, -536870915,
                                    -536870900, -536870916, -536870915, -536870916, -536870914,
                                    -536870916, -536870909, -536870917, -536870916, -536870917,
                                    -536870914, -536870917, -536870917, -6};
  a.writer.Xn(-6);
  SteimStatus s;
  const auto out = Decode(true, a, 1, want.size(), &s);
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
    const auto out = Decode(steim2, a, 1, 4);
    EXPECT_EQ(out, (std::vector<float>{1, 3, 6, 10})) << steim2;
  }
}

TEST(Steim, WordsOneAndTwoOfFrameZeroCountAsDifferencesWhenCoded) {
  Area a(1, true);
  a.writer.Bytes(0, 1, 1, 1, 1, 1);  // where X0 would be
  a.writer.X0(0);                    // overwrite the word but keep its code 1
  a.writer.Bytes(0, 3, 9, 1, 1, 1);  // X0 (0) replaces the first difference of word 3
  const auto out = Decode(false, a, 1, 8);
  EXPECT_EQ(out, (std::vector<float>{0, 0, 0, 0, 0, 1, 2, 3}));
}

TEST(Steim, SurplusIsCountedButNotWritten) {
  Area a(1, true);
  a.writer.X0(10);
  a.writer.Bytes(0, 3, 0, 1, 1, 1);
  a.writer.Bytes(0, 4, 1, 1, 1, 1);
  a.writer.Bytes(0, 5, 1, 1, 1, 1);  // 12 differences for 10 slots
  SteimStatus s;
  const auto out = Decode(true, a, 1, 10, &s);
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
    const auto out = Decode(steim2, a, 1, 10, &s);
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
  const auto out = Decode(true, a, 1, 4, &s);
  EXPECT_EQ(out[3], 16777216.0f);
  EXPECT_TRUE(s.badFinalValue);
  EXPECT_FALSE(s.countMismatch);
  a.writer.X0(1 << 24);
  a.writer.Xn(1 << 24);
  Decode(true, a, 1, 4, &s);
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
  const auto out = Decode(false, a, 1, 1);
  EXPECT_EQ(out[0], static_cast<float>(-2147483648.0 - 1.0));
}

TEST(Steim, SumsPastThirtyTwoBitsStayExact) {
  // Small differences carry the running sum across 2^31 and back below -2^31: every sample is
  // still the exact sum, rounded once to float.
  for (const bool steim2 : {false, true}) {
    for (const std::int32_t x0 : {INT32_MAX - 40, INT32_MIN + 40}) {
      const int step = x0 > 0 ? 7 : -8;
      Area a(40, false);
      a.writer.X0(x0);
      for (int f = 0; f < 40; ++f) {
        for (int k = f == 0 ? 3 : 1; k < 16; ++k) {
          if (steim2) {
            a.writer.Word(f, k, 3, Steim2Word(2, 4, {step, step, step, step, step, step, step}));
          } else {
            const auto b = static_cast<std::int8_t>(step);
            a.writer.Bytes(f, k, b, b, b, b);
          }
        }
      }
      const int perWord = steim2 ? 7 : 4;
      const std::size_t n = static_cast<std::size_t>((13 + 39 * 15) * perWord);
      SteimStatus s;
      const auto out = Decode(steim2, a, 40, n, &s);
      ASSERT_EQ(s.produced, static_cast<std::int64_t>(n));
      for (std::size_t i = 0; i < n; ++i) {
        const std::int64_t want = x0 + static_cast<std::int64_t>(i) * step;
        ASSERT_EQ(out[i], static_cast<float>(want)) << steim2 << " " << x0 << " " << i;
      }
    }
  }
}

// Frames of random words against the literal decoder: every code and layout in any mixture,
// Steim1 frames of one code throughout, sums beyond 32 bits, any announced count, frame count
// and area length, in both byte orders.
TEST(Steim, AgreesWithTheLiteralDecoderOnRandomFrames) {
  std::mt19937 random(20240611);
  const auto next = [&] { return static_cast<std::uint32_t>(random()); };
  const auto below = [&](std::uint32_t n) { return static_cast<int>(next() % n); };
  for (int round = 0; round < 2000; ++round) {
    const bool steim2 = (round & 1) != 0;
    const bool big = (round & 2) != 0;
    const int frames = 1 + below(70);
    std::vector<std::uint8_t> area(static_cast<std::size_t>(frames) * 64 +
                                   static_cast<std::size_t>(below(4) == 0 ? below(64) : 0));
    for (auto& byte : area) byte = static_cast<std::uint8_t>(next());
    FrameWriter writer{area, 0, big};
    // Three kinds of round: wild words, whose sums soon leave 32 bits; small differences in
    // every layout; and narrow layouts only (Steim1: frames of one code throughout), whose sums
    // stay within 32 bits unless X0 starts them near an edge.
    const int kind = below(3);
    const int roundCode = below(3);  // Steim1 narrow rounds: all code 1, all code 2, or mixed
    for (int f = 0; f < frames && kind != 0; ++f) {
      // Codes are set word by word below; the control word's own code means nothing.
      Put32(area, static_cast<std::size_t>(f) * 64, next() & 0xC0000000u, big);
      const unsigned frameCode = 1 + static_cast<unsigned>(roundCode < 2 ? roundCode : below(2));
      for (int k = 1; k < 16; ++k) {
        unsigned code = static_cast<unsigned>(below(4));
        if (kind == 2) code = !steim2 ? frameCode : below(2) == 0 ? 1u : 3u;
        std::uint32_t word = next();
        if (steim2 && code == 2) word = (word & 0x3FFFFFFFu) | (2u + (next() & 1u)) << 30;
        if (steim2 && code == 3) word = (word & 0x3FFFFFFFu) | (next() % 3u) << 30;
        if (!steim2 && code == 3) word = static_cast<std::uint32_t>(below(2001) - 1000);
        // Now and then a Steim2 word without data: dnib 00 under code 2, 11 under code 3.
        if (steim2 && code >= 2 && below(50) == 0) {
          word = code == 2 ? word & 0x3FFFFFFFu : word | 0xC0000000u;
        }
        writer.Word(f, k, code, word);
      }
    }
    if (below(3) == 0) writer.X0(below(2) == 0 ? INT32_MAX - below(2000) : INT32_MIN + below(2000));
    const int frameCount = below(8) == 0 ? below(frames + 3) - 1 : frames;
    const auto full = ReferenceSteimDecode(steim2, area, frameCount, 0, big);
    // Mostly the count the frames hold; else any count up to a few past it, or a very small one.
    const auto produced = static_cast<std::uint32_t>(full.produced);
    const int which = below(6);
    const auto announced = static_cast<std::size_t>(which == 0   ? below(produced + 50)
                                                    : which == 1 ? below(16)
                                                                 : produced);
    const auto want = ReferenceSteimDecode(steim2, area, frameCount, announced, big);
    std::vector<float> out(announced, -1.0f);
    const SteimStatus s = steim2 ? DecodeSteim2(area, frameCount, out, big)
                                 : DecodeSteim1(area, frameCount, out, big);
    SCOPED_TRACE(::testing::Message()
                 << "round " << round << " steim2 " << steim2 << " big " << big << " frames "
                 << frames << " count " << frameCount << " announced " << announced);
    ASSERT_EQ(s.produced, want.produced);
    ASSERT_EQ(s.countMismatch, want.produced != static_cast<std::int64_t>(announced));
    ASSERT_EQ(s.badFinalValue, want.badFinalValue);
    ASSERT_EQ(out.size(), want.samples.size());
    for (std::size_t i = 0; i < out.size(); ++i) {
      ASSERT_EQ(std::memcmp(&out[i], &want.samples[i], sizeof(float)), 0)
          << "slot " << i << ": " << out[i] << " against " << want.samples[i];
    }
    // The CRC taken while decoding: the same samples and status, and the CRC of the whole area
    // (frames decoded or not, and the bytes after the last whole frame) from the one before.
    const std::uint32_t before = next();
    std::vector<float> checked(announced, -1.0f);
    const SteimStatus c = steim2 ? DecodeSteim2(area, frameCount, checked, big, before)
                                 : DecodeSteim1(area, frameCount, checked, big, before);
    ASSERT_EQ(c.crc, Crc32cExtendPortable(before, area));
    ASSERT_FALSE(s.crc);
    ASSERT_EQ(c.produced, s.produced);
    ASSERT_EQ(c.badFinalValue, s.badFinalValue);
    ASSERT_GE(checked.size(), out.size());
    // Bit for bit (NaN samples too); an empty case has no data to compare.
    if (!out.empty()) {
      ASSERT_EQ(std::memcmp(checked.data(), out.data(), out.size() * sizeof(float)), 0);
    }
  }
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
