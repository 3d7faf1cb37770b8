#include "seed/sample_buffer.h"

#include <algorithm>
#include <cstring>

namespace tarnvel {

void SampleBuffer::Append(std::span<const float> values) {
  while (!values.empty()) {
    if (chunks_.empty() || chunks_.back().used == chunks_.back().capacity) {
      // The first chunk holds exactly the first append (a short segment between gaps costs no
      // more than its samples); later chunks double up to the largest size.
      const std::size_t previous = chunks_.empty() ? 0 : chunks_.back().capacity;
      const std::size_t capacity = previous == 0
                                       ? std::clamp(values.size(), kFirstChunk, kLargestChunk)
                                       : std::min(previous * 2, kLargestChunk);
      chunks_.push_back(Chunk{std::make_unique_for_overwrite<float[]>(capacity), capacity, 0});
    }
    Chunk& chunk = chunks_.back();
    const std::size_t take = std::min(values.size(), chunk.capacity - chunk.used);
    std::memcpy(chunk.data.get() + chunk.used, values.data(), take * sizeof(float));
    chunk.used += take;
    size_ += take;
    values = values.subspan(take);
  }
}

float SampleBuffer::operator[](std::size_t index) const {
  for (const Chunk& chunk : chunks_) {
    if (index < chunk.used) return chunk.data[index];
    index -= chunk.used;
  }
  return 0.0f;
}

void SampleBuffer::Clear() {
  chunks_.clear();
  chunks_.shrink_to_fit();
  size_ = 0;
}

std::vector<float> SampleBuffer::ToVector() const {
  std::vector<float> out;
  out.reserve(size_);
  ForEachSpan(0, size_, [&](std::span<const float> piece) {
    out.insert(out.end(), piece.begin(), piece.end());
  });
  return out;
}

}  // namespace tarnvel
