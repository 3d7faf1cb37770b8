// A channel's samples, held in chunks so that growing a long channel never copies what it
// already holds and never keeps more than one partly filled chunk of slack.
//
// Whole chunks whose samples files already hold can be released from memory (Release): they are
// read back from those files, a block at a time, whenever they are visited. So a run keeps in
// memory only the samples not yet written anywhere, however long its channels are. The samples
// may lie in one file or, one run after another, in several (the hour files of the store, each
// holding its own run of samples behind room for a header).
#pragma once

#include <sys/types.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <vector>

namespace tarnvel {

// A file holding released samples as 4-byte floats in the machine's order (little-endian
// machines only), open for reading: closed when the last buffer and writer using it let go.
class SampleFile {
 public:
  explicit SampleFile(int fd) : fd_(fd) {}
  ~SampleFile();
  SampleFile(const SampleFile&) = delete;
  SampleFile& operator=(const SampleFile&) = delete;
  int fd() const { return fd_; }

  // For a file that is to get a name of its own (an unnamed file that may become a waveform
  // file): true the first time only, so that no file is ever given two names.
  bool ClaimForName() const {
    if (claimed_) return false;
    claimed_ = true;
    return true;
  }

 private:
  int fd_ = -1;
  mutable bool claimed_ = false;
};

// Released samples could not be read back from their file.
class SampleReadError : public std::runtime_error {
 public:
  SampleReadError() : std::runtime_error("released samples cannot be read back") {}
};

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
  // Released samples are read back a block at a time; SampleReadError when that fails (the
  // spans visited before it stand). A span is valid only during its call.
  template <typename Visit>
  void ForEachSpan(std::size_t first, std::size_t count, Visit&& visit) const {
    std::size_t chunkStart = 0;
    std::vector<float> block;  // released samples read back
    for (const Chunk& chunk : chunks_) {
      if (count == 0) break;
      const std::size_t chunkEnd = chunkStart + chunk.used;
      if (first < chunkEnd) {
        const std::size_t offset = first - chunkStart;
        const std::size_t take = std::min(count, chunk.used - offset);
        if (chunk.data) {
          visit(std::span<const float>(chunk.data.get() + offset, take));
        } else {
          for (std::size_t done = 0; done < take;) {
            const std::size_t part = std::min(take - done, kReadBlock);
            block.resize(part);
            ReadReleased(chunkStart + offset + done, block);
            visit(std::span<const float>(block));
            done += part;
          }
        }
        first += take;
        count -= take;
      }
      chunkStart = chunkEnd;
    }
  }

  std::vector<float> ToVector() const;

  // The samples from Filed() up to `upTo` are in `file` as floats, sample i at byte at + 4 i
  // (`at` may be negative for a file holding a later run of samples): every whole chunk among the
  // samples filed so far leaves memory. The buffer keeps the file open while it needs it.
  void Release(std::size_t upTo, const std::shared_ptr<const SampleFile>& file, off_t at);
  // Samples [0, Filed()) lie in files.
  std::size_t Filed() const { return filed_; }
  // The run of filed samples holding `sample`: the file, where its samples lie in it (sample i
  // at byte at + 4 i) and which of the buffer's samples it holds, [first, first + count); none
  // for a sample not filed.
  struct FiledRun {
    std::shared_ptr<const SampleFile> file;
    off_t at = 0;
    std::size_t first = 0;
    std::size_t count = 0;
  };
  std::optional<FiledRun> FiledRunAt(std::size_t sample) const;
  // Reads every released chunk back into memory and lets go of the files (SampleReadError,
  // std::bad_alloc: what was read back so far stays in memory).
  void Reclaim();
  // Samples held in memory (the rest were released).
  std::size_t InMemory() const { return size_ - released_; }

 private:
  // Chunk memory comes from one aligned allocation per chunk; this frees it with the same
  // alignment.
  struct ChunkRelease {
    std::size_t alignment = alignof(float);
    void operator()(float* data) const noexcept;
  };
  using ChunkMemory = std::unique_ptr<float[], ChunkRelease>;
  static ChunkMemory AllocateChunk(std::size_t capacity);

  // Samples read back from a file at a time (1 MiB of floats).
  static constexpr std::size_t kReadBlock = std::size_t{1} << 18;

  struct Chunk {
    ChunkMemory data;  // empty once released
    std::size_t capacity = 0;
    std::size_t used = 0;
  };
  // A run of filed samples: [first, first + count) in `file`, sample i at byte at + 4 i.
  struct Filing {
    std::size_t first = 0;
    std::size_t count = 0;
    std::shared_ptr<const SampleFile> file;
    off_t at = 0;
  };
  // Reads out.size() filed samples from sample `first` on.
  void ReadReleased(std::size_t first, std::span<float> out) const;

  std::vector<Chunk> chunks_;
  std::vector<Filing> filings_;  // in order, each starting where the one before ends
  std::size_t size_ = 0;
  std::size_t filed_ = 0;          // samples in files
  std::size_t released_ = 0;       // samples of released chunks
  std::size_t firstInMemory_ = 0;  // chunks before it are released
};

}  // namespace tarnvel
