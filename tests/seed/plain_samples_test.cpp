// The plain-number decoders: both byte orders, extreme values, and data areas shorter than the
// announced count.
#include "seed/plain_samples.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace tarnvel {
namespace {

// `values` as bytes of `width` in the given order.
std::vector<std::uint8_t> Encode(const std::vector<std::uint64_t>& values, int width, bool big) {
  std::vector<std::uint8_t> out;
  for (const std::uint64_t v : values) {
    for (int i = 0; i < width; ++i) {
      const int shift = 8 * (big ? width - 1 - i : i);
      out.push_back(static_cast<std::uint8_t>(v >> shift));
    }
  }
  return out;
}

class PlainSamples : public ::testing::TestWithParam<bool> {};

TEST_P(PlainSamples, IntegersOfBothWidthsWithTheirExtremes) {
  const bool big = GetParam();
  const std::vector<std::uint64_t> int16 = {0x0000, 0x0001, 0xFFFF, 0x7FFF, 0x8000};
  std::vector<float> out(5);
  EXPECT_EQ(DecodeInt16(Encode(int16, 2, big), out, big), 5u);
  EXPECT_EQ(out, (std::vector<float>{0, 1, -1, 32767, -32768}));

  const std::vector<std::uint64_t> int32 = {0x7FFFFFFF, 0x80000000, 0x01000001, 0xFFFFFFFE};
  out.assign(4, 9.0f);
  EXPECT_EQ(DecodeInt32(Encode(int32, 4, big), out, big), 4u);
  // Beyond 2^24 the nearest float: 2^31 - 1 rounds to 2^31, 2^24 + 1 to 2^24.
  EXPECT_EQ(out, (std::vector<float>{2147483648.0f, -2147483648.0f, 16777216.0f, -2.0f}));
}

TEST_P(PlainSamples, FloatsKeepTheirValuesAndDoublesRoundToTheNearestFloat) {
  const bool big = GetParam();
  const float f[] = {1.5f, -0.0f, 3.4028235e38f, 1e-45f};
  std::vector<std::uint64_t> bits;
  for (const float v : f) bits.push_back(std::bit_cast<std::uint32_t>(v));
  bits.push_back(std::bit_cast<std::uint32_t>(std::numeric_limits<float>::quiet_NaN()));
  std::vector<float> out(5);
  EXPECT_EQ(DecodeFloat32(Encode(bits, 4, big), out, big), 5u);
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(std::bit_cast<std::uint32_t>(out[i]), bits[i]) << i;
  }
  EXPECT_TRUE(std::isnan(out[4]));

  const double d[] = {0.1, -123456789.123, 1e300, 16777217.0, -1e-320};
  bits.clear();
  for (const double v : d) bits.push_back(std::bit_cast<std::uint64_t>(v));
  EXPECT_EQ(DecodeFloat64(Encode(bits, 8, big), out, big), 5u);
  EXPECT_EQ(out[0], 0.1f);
  EXPECT_EQ(out[1], -123456789.123f);
  EXPECT_EQ(out[2], std::numeric_limits<float>::infinity());
  EXPECT_EQ(out[3], 16777216.0f);  // halfway: to even
  EXPECT_EQ(out[4], -0.0f);
}

TEST_P(PlainSamples, ShortDataGivesWhatItHoldsAndZeros) {
  const bool big = GetParam();
  // Seven bytes: three 16-bit values and half of one; one 32-bit value; no 64-bit value.
  const std::vector<std::uint8_t> data(7, 0x01);
  std::vector<float> out(4, 5.0f);
  EXPECT_EQ(DecodeInt16(data, out, big), 3u);
  EXPECT_EQ(out, (std::vector<float>{257, 257, 257, 0}));
  out.assign(4, 5.0f);
  EXPECT_EQ(DecodeInt32(data, out, big), 1u);
  EXPECT_EQ(out, (std::vector<float>{16843009.0f, 0, 0, 0}));
  out.assign(4, 5.0f);
  EXPECT_EQ(DecodeFloat32(data, out, big), 1u);
  EXPECT_EQ(out[1], 0.0f);
  out.assign(4, 5.0f);
  EXPECT_EQ(DecodeFloat64(data, out, big), 0u);
  EXPECT_EQ(out, std::vector<float>(4, 0.0f));
  // More data than slots: only the slots are written.
  out.assign(2, 5.0f);
  EXPECT_EQ(DecodeInt16(std::vector<std::uint8_t>(100, 0), out, big), 2u);
}

INSTANTIATE_TEST_SUITE_P(ByteOrders, PlainSamples, ::testing::Values(true, false),
                         [](const auto& p) { return p.param ? "Big" : "Little"; });

}  // namespace
}  // namespace tarnvel
