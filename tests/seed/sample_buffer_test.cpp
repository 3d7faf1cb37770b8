// The chunked sample array: appends of every size land in order, and ranges read back across
// chunk boundaries exactly.
#include "seed/sample_buffer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
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

// Whole chunks whose samples a file holds leave memory and read back from the file, in blocks,
// exactly; Reclaim brings them back; a file that lost them fails the read loudly.
TEST(SampleBufferTest, ReleasedChunksReadBackFromTheirFileAndCanBeReclaimed) {
  SampleBuffer buffer;
  std::vector<float> expected(1500000);
  std::iota(expected.begin(), expected.end(), -7.0f);
  for (std::size_t at = 0; at < expected.size(); at += 1000) {
    buffer.Append(std::span<const float>(expected).subspan(at, 1000));
  }
  // The file holds the samples behind 100 bytes of something else.
  char name[] = "/tmp/tarnvel-samples-test-XXXXXX";
  const int fd = ::mkstemp(name);
  ASSERT_GE(fd, 0);
  ::unlink(name);
  auto file = std::make_shared<const SampleFile>(fd);
  const SampleFile kept(::dup(fd));  // the test's own hold on the file
  const std::string lead(100, 'x');
  ASSERT_EQ(::pwrite(fd, lead.data(), lead.size(), 0), 100);
  const auto bytes = static_cast<ssize_t>(expected.size() * sizeof(float));
  ASSERT_EQ(::pwrite(fd, expected.data(), static_cast<std::size_t>(bytes), 100), bytes);

  // Only whole chunks below the bound go; the last, still growing, stays.
  buffer.Release(1200000, file, 100);
  EXPECT_LT(buffer.InMemory(), 500000u);
  EXPECT_GT(buffer.InMemory(), 300000u);
  file.reset();  // the buffer keeps it open
  EXPECT_EQ(buffer.ToVector(), expected);
  EXPECT_EQ(buffer[12345], expected[12345]);
  std::vector<float> got;
  buffer.ForEachSpan(999, 600001, [&](std::span<const float> piece) {
    EXPECT_LE(piece.size(), std::size_t{1} << 18);
    got.insert(got.end(), piece.begin(), piece.end());
  });
  EXPECT_EQ(got, std::vector<float>(expected.begin() + 999, expected.begin() + 601000));
  // Appends go on after a release, and a later release takes the chunks written since.
  buffer.Append(std::span<const float>(expected).first(10));
  EXPECT_EQ(buffer.size(), expected.size() + 10);
  EXPECT_EQ(buffer[expected.size() + 9], expected[9]);

  buffer.Reclaim();
  EXPECT_EQ(buffer.InMemory(), buffer.size());
  EXPECT_EQ(buffer[0], expected[0]);

  buffer.Release(1200000, std::make_shared<const SampleFile>(::dup(kept.fd())), 100);
  ASSERT_EQ(::ftruncate(kept.fd(), 4000), 0);  // the file lost what it held
  EXPECT_THROW(buffer.ToVector(), SampleReadError);
  EXPECT_EQ(buffer[500], expected[500]);  // still within the file
}

// Runs of samples filed one after another in files of their own (hour pieces, each behind room
// for a header) read back across the files' borders; each sample's run names its file and its
// extent, and a file is claimed for a name once only.
TEST(SampleBufferTest, SamplesFiledInSeveralFilesReadBackAcrossThem) {
  SampleBuffer buffer;
  std::vector<float> expected(1300000);
  std::iota(expected.begin(), expected.end(), 3.0f);
  buffer.Append(expected);
  // Pieces of 360,000 samples, each in its own file from byte 512 on.
  constexpr std::size_t kPiece = 360000;
  std::vector<std::shared_ptr<const SampleFile>> files;
  for (std::size_t first = 0; first < expected.size(); first += kPiece) {
    char name[] = "/tmp/tarnvel-piece-test-XXXXXX";
    const int fd = ::mkstemp(name);
    ASSERT_GE(fd, 0);
    ::unlink(name);
    const std::size_t count = std::min(kPiece, expected.size() - first);
    const auto bytes = static_cast<ssize_t>(count * sizeof(float));
    ASSERT_EQ(::pwrite(fd, expected.data() + first, static_cast<std::size_t>(bytes), 512), bytes);
    files.push_back(std::make_shared<const SampleFile>(fd));
    const off_t at = 512 - static_cast<off_t>(first * sizeof(float));
    // Filed in two steps: the run grows in its file.
    buffer.Release(first + count / 2, files.back(), at);
    buffer.Release(first + count, files.back(), at);
  }
  EXPECT_EQ(buffer.Filed(), expected.size());
  EXPECT_LT(buffer.InMemory(), std::size_t{1} << 19);
  EXPECT_EQ(buffer.ToVector(), expected);
  EXPECT_EQ(buffer[kPiece - 1], expected[kPiece - 1]);
  EXPECT_EQ(buffer[kPiece], expected[kPiece]);

  const auto second = buffer.FiledRunAt(kPiece + 17);
  ASSERT_TRUE(second.has_value());
  EXPECT_EQ(second->file, files[1]);
  EXPECT_EQ(second->first, kPiece);
  EXPECT_EQ(second->count, kPiece);
  EXPECT_EQ(second->at + static_cast<off_t>(kPiece * sizeof(float)), 512);
  const auto last = buffer.FiledRunAt(expected.size() - 1);
  ASSERT_TRUE(last.has_value());
  EXPECT_EQ(last->first, 3 * kPiece);
  EXPECT_EQ(last->count, expected.size() - 3 * kPiece);
  EXPECT_FALSE(buffer.FiledRunAt(expected.size()).has_value());
  EXPECT_TRUE(second->file->ClaimForName());
  EXPECT_FALSE(second->file->ClaimForName());

  // Reclaimed, every sample is in memory again and nothing is offered from a file.
  files.clear();
  buffer.Reclaim();
  EXPECT_EQ(buffer.InMemory(), buffer.size());
  EXPECT_EQ(buffer.Filed(), 0u);
  EXPECT_FALSE(buffer.FiledRunAt(kPiece).has_value());
  EXPECT_EQ(buffer.ToVector(), expected);
}

}  // namespace
}  // namespace tarnvel
