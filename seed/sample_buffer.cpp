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
      chunks_.push_back(Chunk{AllocateChunk(capacity), capacity, 0});
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
  filings_.clear();
  filings_.shrink_to_fit();
  size_ = 0;
  filed_ = 0;
  released_ = 0;
  firstInMemory_ = 0;
}

void SampleBuffer::Release(std::size_t upTo, const std::shared_ptr<const SampleFile>& file,
                           off_t at) {
  if (!file) return;
  upTo = std::min(upTo, size_);
  if (upTo > filed_) {
    // A run that goes on in the same file at the same place grows; another starts anew.
    if (!filings_.empty() && filings_.back().file == file && filings_.back().at == at) {
      filings_.back().count += upTo - filed_;
    } else {
      filings_.push_back(Filing{filed_, upTo - filed_, file, at});
    }
    filed_ = upTo;
  }
  std::size_t chunkStart = released_;
  for (; firstInMemory_ < chunks_.size(); ++firstInMemory_) {
    Chunk& chunk = chunks_[firstInMemory_];
    // Only whole chunks: the last one may still be growing.
    if (chunk.used < chunk.capacity || chunkStart + chunk.used > filed_) break;
    chunk.data.reset();
    chunkStart += chunk.used;
    released_ += chunk.used;
  }
}

std::optional<SampleBuffer::FiledRun> SampleBuffer::FiledRunAt(std::size_t sample) const {
  if (sample >= filed_) return std::nullopt;
  const auto filing =
      std::upper_bound(filings_.begin(), filings_.end(), sample,
                       [](std::size_t at, const Filing& run) { return at < run.first; });
  if (filing == filings_.begin()) return std::nullopt;
  const Filing& run = *std::prev(filing);
  return FiledRun{run.file, run.at, run.first, run.count};
}

void SampleBuffer::Reclaim() {
  std::size_t chunkStart = released_;
  for (; firstInMemory_ > 0; --firstInMemory_) {
    Chunk& chunk = chunks_[firstInMemory_ - 1];
    chunkStart -= chunk.used;
    ChunkMemory data = AllocateChunk(chunk.capacity);
    ReadReleased(chunkStart, std::span<float>(data.get(), chunk.used));
    chunk.data = std::move(data);
    released_ -= chunk.used;
  }
  filings_.clear();
  filed_ = 0;
}

void SampleBuffer::ReadReleased(std::size_t first, std::span<float> out) const {
  auto filing =
      std::upper_bound(filings_.begin(), filings_.end(), first,
                       [](std::size_t sample, const Filing& run) { return sample < run.first; });
  if (filing == filings_.begin()) throw SampleReadError();
  --filing;
  auto* target = reinterpret_cast<char*>(out.data());
  std::size_t left = out.size();
  while (left > 0) {
    if (filing == filings_.end() || first < filing->first ||
        first >= filing->first + filing->count) {
      throw SampleReadError();
    }
    const std::size_t take = std::min(left, filing->first + filing->count - first);
    std::size_t bytes = take * sizeof(float);
    off_t from = filing->at + static_cast<off_t>(first * sizeof(float));
    while (bytes > 0) {
      const ssize_t n = ::pread(filing->file->fd(), target, bytes, from);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) throw SampleReadError();
      target += n;
      bytes -= static_cast<std::size_t>(n);
      from += n;
    }
    first += take;
    left -= take;
    ++filing;
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
