// A channel's samples, held in chunks so that growing a long channel never copies what it
// already holds and never keeps more than one partly filled chunk of slack.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace tarnvel {

class SampleBuffer {
 public:
  // Smallest first chunk; chunks double from the first append's size up to the largest, whose
  // size and alignment match a huge page so that a long channel costs few page faults.
  static constexpr std::size_t kFirstChunk = 16;
  static constexpr std::size_t kLargestChunk = std::size_t{1} << 19;  // 2 MiB of floats

  SampleBuffer() = default;
  SampleBuffer(SampleBuffer&&) noexcept = default;
  SampleBuffer& operator=(SampleBuffer&&) noexcept = default;
  SampleBuffer(const SampleBuffer&) = delete;
  SampleBuffer& operator=(const SampleBuffer&) = delete;

  void Append(std::span<const float> values);
  // Appends `count` samples that fill(std::span<float>) writes straight into the buffer, when
  // the last chunk has room for all of them and fill returns true (false: what it wrote is not
  // kept); false, calling nothing, when they would need a new chunk.
  template <typename Fill>
  bool AppendInPlace(std::size_t count, Fill&& fill) {
    if (chunks_.empty() || chunks_.back().capacity - chunks_.back().used < count) return false;
    Chunk& chunk = chunks_.back();
    if (!fill(std::span<float>(chunk.data.get() + chunk.used, count))) return true;
    chunk.used += count;
    size_ += count;
    return true;
  }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  float operator[](std::size_t index) const;
  void Clear();

  // Calls visit(std::span<const float>) for consecutive pieces covering [first, first + count).
  template <typename Visit>
  void ForEachSpan(std::size_t first, std::size_t count, Visit&& visit) const {
    std::size_t chunkStart = 0;
    for (const Chunk& chunk : chunks_) {
      if (count == 0) break;
      const std::size_t chunkEnd = chunkStart + chunk.used;
      if (first < chunkEnd) {
        const std::size_t offset = first - chunkStart;
        const std::size_t take = std::min(count, chunk.used - offset);
        visit(std::span<const float>(chunk.data.get() + offset, take));
        first += take;
        count -= take;
      }
      chunkStart = chunkEnd;
    }
  }

  std::vector<float> ToVector() const;

 private:
  // Chunk memory comes from one aligned allocation per chunk; this frees it with the same
  // alignment.
  struct ChunkRelease {
    std::size_t alignment = alignof(float);
    void operator()(float* data) const noexcept;
  };
  using ChunkMemory = std::unique_ptr<float[], ChunkRelease>;
  static ChunkMemory AllocateChunk(std::size_t capacity);

  struct Chunk {
    ChunkMemory data;
    std::size_t capacity = 0;
    std::size_t used = 0;
  };
  std::vector<Chunk> chunks_;
  std::size_t size_ = 0;
};

}  // namespace tarnvel
