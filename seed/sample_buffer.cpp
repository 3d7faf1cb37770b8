#include "seed/sample_buffer.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>
#include <cstring>
#include <new>

namespace tarnvel {

namespace {
constexpr std::size_t kHugePage = std::size_t{2} << 20;
}  // namespace

void SampleBuffer::ChunkRelease::operator()(float* data) const noexcept {
  ::operator delete (data, std::align_val_t{alignment});
}

// The one place sample memory is allocated. Chunks of a huge page or more are aligned to one
// and marked for huge pages, which the kernel then uses where it is configured to.
SampleBuffer::ChunkMemory SampleBuffer::AllocateChunk(std::size_t capacity) {
  const std::size_t bytes = capacity * sizeof(float);
  const std::size_t alignment = bytes >= kHugePage ? kHugePage : alignof(std::max_align_t);
  void* memory = ::operator new (bytes, std::align_val_t{alignment});
#ifdef MADV_HUGEPAGE
  if (alignment == kHugePage) madvise(memory, bytes, MADV_HUGEPAGE);
#endif
  return ChunkMemory(static_cast<float*>(memory), ChunkRelease{alignment});
}

void SampleBuffer::Append(std::span<const float> values) {
  while (!values.empty()) {
    if (chunks_.empty() || chunks_.back().used == chunks_.back().capacity) {
      // The first chunk holds exactly the first append (a short segment between gaps costs no
      // more than its samples); later chunks double up to the largest size.
      const std::size_t previous = chunks_.empty() ? 0 : chunks_.back().capacity;
      const std::size_t capacity = previous == 0
                                       ? std::clamp(values.size(), kFirstChunk, kLargestChunk)
                                       : std::min(previous * 2, kLargestChunk);
      chunks_.push_back(Chunk{AllocateChunk(capacity), capacity, 0, nullptr, 0});
    }
    Chunk& chunk = chunks_.back();
    const std::size_t take = std::min(values.size(), chunk.capacity - chunk.used);
    std::memcpy(chunk.data.get() + chunk.used, values.data(), take * sizeof(float));
    chunk.used += take;
    size_ += take;
    values = values.subspan(take);
  }
}

SampleFile::~SampleFile() {
  if (fd_ >= 0) ::close(fd_);
}

float SampleBuffer::operator[](std::size_t index) const {
  float value = 0.0f;
  if (index < size_) ForEachSpan(index, 1, [&](std::span<const float> one) { value = one[0]; });
  return value;
}

void SampleBuffer::Clear() {
  chunks_.clear();
  chunks_.shrink_to_fit();
  size_ = 0;
  released_ = 0;
  firstInMemory_ = 0;
}

void SampleBuffer::Release(std::size_t upTo, const std::shared_ptr<const SampleFile>& file,
                           off_t at) {
  if (!file) return;
  std::size_t chunkStart = released_;
  for (; firstInMemory_ < chunks_.size(); ++firstInMemory_) {
    Chunk& chunk = chunks_[firstInMemory_];
    // Only whole chunks: the last one may still be growing.
    if (chunk.used < chunk.capacity || chunkStart + chunk.used > upTo) break;
    chunk.data.reset();
    chunk.file = file;
    chunk.at = at + static_cast<off_t>(chunkStart * sizeof(float));
    chunkStart += chunk.used;
    released_ += chunk.used;
  }
}

void SampleBuffer::Reclaim() {
  for (; firstInMemory_ > 0; --firstInMemory_) {
    Chunk& chunk = chunks_[firstInMemory_ - 1];
    ChunkMemory data = AllocateChunk(chunk.capacity);
    ReadReleased(chunk, 0, std::span<float>(data.get(), chunk.used));
    chunk.data = std::move(data);
    chunk.file.reset();
    released_ -= chunk.used;
  }
}

void SampleBuffer::ReadReleased(const Chunk& chunk, std::size_t offset, std::span<float> out) {
  auto* target = reinterpret_cast<char*>(out.data());
  std::size_t left = out.size_bytes();
  off_t from = chunk.at + static_cast<off_t>(offset * sizeof(float));
  while (left > 0) {
    const ssize_t n = ::pread(chunk.file->fd(), target, left, from);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw SampleReadError();
    target += n;
    left -= static_cast<std::size_t>(n);
    from += n;
  }
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
