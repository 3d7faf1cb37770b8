// CRC-32C against the check values of its definition and against the plain bit-by-bit model,
// for every length and alignment, with and without the processor's CRC instruction.
#include "seed/crc32c.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <random>
#include <string_view>
#include <vector>

#include "tests/support/mseed3_writer.h"

namespace tarnvel::testing {
namespace {

std::span<const std::uint8_t> Bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

TEST(Crc32c, CheckValuesOfItsDefinition) {
  // The check value of the CRC catalogues and the four 32-byte examples of RFC 3720, B.4.
  std::vector<std::uint8_t> zeros(32, 0), ones(32, 0xFF), up(32), down(32);
  std::iota(up.begin(), up.end(), std::uint8_t{0});
  std::iota(down.rbegin(), down.rend(), std::uint8_t{0});
  for (const auto crc : {Crc32cExtend, Crc32cExtendPortable}) {
    EXPECT_EQ(crc(0, Bytes("123456789")), 0xE3069283u);
    EXPECT_EQ(crc(0, zeros), 0x8A9136AAu);
    EXPECT_EQ(crc(0, ones), 0x62A8AB43u);
    EXPECT_EQ(crc(0, up), 0x46DD794Eu);
    EXPECT_EQ(crc(0, down), 0x113FDB5Cu);
    EXPECT_EQ(crc(0, {}), 0u);
  }
}

TEST(Crc32c, EveryLengthOffsetAndSplitAgreesWithTheBitwiseModel) {
  std::mt19937 random(3309);
  std::vector<std::uint8_t> buffer(3000);
  for (auto& b : buffer) b = static_cast<std::uint8_t>(random());
  // Lengths across the three-lane blocks (768 bytes) and their tails, at every alignment.
  for (std::size_t length = 0; length <= 2400; length += length < 64 ? 1 : 37) {
    for (std::size_t offset = 0; offset < 8; ++offset) {
      const std::span<const std::uint8_t> bytes(buffer.data() + offset, length);
      const std::uint32_t want = BitwiseCrc32c(bytes);
      ASSERT_EQ(Crc32c(bytes), want) << length << " at " << offset;
      ASSERT_EQ(Crc32cExtendPortable(0, bytes), want) << length << " at " << offset;
      const std::size_t split = length == 0 ? 0 : random() % (length + 1);
      ASSERT_EQ(Crc32cExtend(Crc32cExtend(0, bytes.first(split)), bytes.subspan(split)), want);
      ASSERT_EQ(
          Crc32cExtendPortable(Crc32cExtendPortable(0, bytes.first(split)), bytes.subspan(split)),
          want);
    }
  }
}

TEST(Crc32c, AFieldTakenAsZerosAgreesWithTheBitwiseModelOfTheZeroedBytes) {
  std::mt19937 random(3720);
  std::vector<std::uint8_t> buffer(1200);
  for (auto& b : buffer) b = static_cast<std::uint8_t>(random());
  for (std::size_t length = 4; length <= 1100; length += length < 80 ? 1 : 53) {
    for (const std::size_t field : {std::size_t{0}, std::size_t{28}, length / 2, length - 4}) {
      if (field + 4 > length) continue;
      const std::span<const std::uint8_t> bytes(buffer.data() + length % 8, length);
      std::vector<std::uint8_t> zeroed(bytes.begin(), bytes.end());
      std::fill_n(zeroed.begin() + static_cast<std::ptrdiff_t>(field), 4, std::uint8_t{0});
      const std::uint32_t before = static_cast<std::uint32_t>(random());
      ASSERT_EQ(Crc32cExtendZeroingField(0, bytes, field), BitwiseCrc32c(zeroed))
          << length << " field at " << field;
      ASSERT_EQ(Crc32cExtendZeroingField(before, bytes, field),
                Crc32cExtendPortable(before, zeroed))
          << length << " field at " << field;
    }
  }
}

}  // namespace
}  // namespace tarnvel::testing
