// The chunked sample array: appends of every size land in order, and ranges read back across
// chunk boundaries exactly.
#include "seed/sample_buffer.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

namespace tarnvel {
namespace {

TEST(SampleBufferTest, AppendsOfMixedSizesReadBackInOrderAcrossChunks) {
  SampleBuffer buffer;
  std::vector<float> expected;
  float next = 0.0f;
  // Sizes around the chunk sizes, so appends straddle chunk ends.
  for (const std::size_t size : {1u, 15u, 17u, 400u, 4096u, 70000u, 300000u, 3u}) {
    std::vector<float> piece(size);
    for (float& v : piece) v = next++;
    buffer.Append(piece);
    expected.insert(expected.end(), piece.begin(), piece.end());
  }
  ASSERT_EQ(buffer.size(), expected.size());
  EXPECT_EQ(buffer.ToVector(), expected);
  EXPECT_EQ(buffer[expected.size() - 1], expected.back());
  EXPECT_EQ(buffer[70000], expected[70000]);

  // Any range comes back whole, in order, in pieces that never overlap.
  for (const auto& [first, count] : {std::pair<std::size_t, std::size_t>{0, 1},
                                     {10, 400},
                                     {4000, 300000},
                                     {expected.size() - 5, 5},
                                     {expected.size(), 0}}) {
    std::vector<float> got;
    buffer.ForEachSpan(first, count, [&](std::span<const float> piece) {
      EXPECT_FALSE(piece.empty());
      got.insert(got.end(), piece.begin(), piece.end());
    });
    EXPECT_EQ(got, std::vector<float>(expected.begin() + static_cast<long>(first),
                                      expected.begin() + static_cast<long>(first + count)));
  }
}

TEST(SampleBufferTest, ClearReleasesEverything) {
  SampleBuffer buffer;
  std::vector<float> values(5000);
  std::iota(values.begin(), values.end(), 1.0f);
  buffer.Append(values);
  buffer.Clear();
  EXPECT_TRUE(buffer.empty());
  EXPECT_TRUE(buffer.ToVector().empty());
  buffer.Append(std::span<const float>(values).first(3));
  EXPECT_EQ(buffer.ToVector(), (std::vector<float>{1.0f, 2.0f, 3.0f}));
}

}  // namespace
}  // namespace tarnvel
