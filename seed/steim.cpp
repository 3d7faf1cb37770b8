#include "seed/steim.h"

#include <algorithm>
#include <cstdio>
#include <type_traits>

#include "seed/byte_order.h"

namespace tarnvel {
namespace {

constexpr std::size_t kFrameBytes = 64;
constexpr int kWordsPerFrame = 16;

// Sign-extends the `bits`-wide field of `word` whose lowest bit is at `shift`.
template <int kBits>
inline std::int32_t Field(std::uint32_t word, int shift) {
  return static_cast<std::int32_t>(word << (32 - kBits - shift)) >> (32 - kBits);
}

// Differences of one data word; returns how many it holds (0 for a word without data).
template <bool kBig>
inline int Steim1Word(unsigned code, const std::uint8_t* p, std::int32_t* d) {
  switch (code) {
    case 1:
      d[0] = static_cast<std::int8_t>(p[0]);
      d[1] = static_cast<std::int8_t>(p[1]);
      d[2] = static_cast<std::int8_t>(p[2]);
      d[3] = static_cast<std::int8_t>(p[3]);
      return 4;
    case 2:
      d[0] = static_cast<std::int16_t>(Load16<kBig>(p));
      d[1] = static_cast<std::int16_t>(Load16<kBig>(p + 2));
      return 2;
    case 3:
      d[0] = static_cast<std::int32_t>(Load32<kBig>(p));
      return 1;
    default:
      return 0;
  }
}

// The kCount fields of kBits bits each in the low bits of `w`, most significant first.
template <int kBits, int kCount>
inline int Fields(std::uint32_t w, std::int32_t* d) {
  for (int i = 0; i < kCount; ++i) d[i] = Field<kBits>(w, kBits * (kCount - 1 - i));
  return kCount;
}

template <bool kBig>
inline int Steim2Word(unsigned code, const std::uint8_t* p, std::int32_t* d) {
  if (code == 1) return Steim1Word<kBig>(1, p, d);  // four 8-bit differences, as in Steim1
  if (code == 0) return 0;
  const std::uint32_t w = Load32<kBig>(p);
  const unsigned dnib = w >> 30;
  if (code == 2) {
    switch (dnib) {
      case 1:
        return Fields<30, 1>(w, d);
      case 2:
        return Fields<15, 2>(w, d);
      case 3:
        return Fields<10, 3>(w, d);
      default:
        return 0;
    }
  }
  switch (dnib) {  // code 3
    case 0:
      return Fields<6, 5>(w, d);
    case 1:
      return Fields<5, 6>(w, d);
    case 2:
      return Fields<4, 7>(w, d);
    default:
      return 0;
  }
}

struct Steim1Tag {};
struct Steim2Tag {};

// Integrates the `count` differences of `d` straight into `dst`.
inline void Integrate(const std::int32_t* d, int count, std::int64_t& acc, float* dst) {
  for (int i = 0; i < count; ++i) {
    acc += d[i];
    dst[i] = static_cast<float>(acc);
  }
}

// One whole frame after the first, when the output has room for every difference a frame can
// hold: no per-word room checks. Returns the differences decoded.
template <bool kBig, typename Tag>
inline int DecodeFrameWithRoom(const std::uint8_t* frame, std::int64_t& acc, float* dst) {
  const std::uint32_t control = Load32<kBig>(frame);
  int n = 0;
  std::int32_t d[8];
  for (int k = 1; k < kWordsPerFrame; ++k) {
    const unsigned code = (control >> (30 - 2 * k)) & 3u;
    int count;
    if constexpr (std::is_same_v<Tag, Steim1Tag>) {
      count = Steim1Word<kBig>(code, frame + 4 * k, d);
    } else {
      count = Steim2Word<kBig>(code, frame + 4 * k, d);
    }
    Integrate(d, count, acc, dst + n);
    n += count;
  }
  return n;
}

// Integrates the differences of every whole frame inside `data` into `out`. The accumulator is
// a 64-bit integer: it holds the same integer values a double would (sums of at most ~10^5
// 32-bit differences stay far below 2^53) and converts to float with the same rounding.
template <bool kBig, typename Tag>
SteimStatus DecodeFrames(std::span<const std::uint8_t> data, int frameCount, std::span<float> out) {
  SteimStatus status;
  const std::int64_t announced = static_cast<std::int64_t>(out.size());
  const std::int64_t whole = static_cast<std::int64_t>(data.size() / kFrameBytes);
  const std::int64_t frames = frameCount <= 0 ? 0 : std::min<std::int64_t>(frameCount, whole);
  const std::int32_t x0 = frames > 0 ? static_cast<std::int32_t>(Load32<kBig>(data.data() + 4)) : 0;

  float* const dst = out.data();
  std::int64_t written = 0;
  std::int64_t produced = 0;
  std::int64_t acc = 0;
  std::int32_t d[8];
  // Most differences a frame can hold: 15 words of 7 (Steim2) or 4 (Steim1).
  constexpr std::int64_t kFrameCapacity = std::is_same_v<Tag, Steim1Tag> ? 15 * 4 : 15 * 7;
  for (std::int64_t f = 0; f < frames; ++f) {
    const std::uint8_t* frame = data.data() + f * static_cast<std::int64_t>(kFrameBytes);
    if (f > 0 && announced - written >= kFrameCapacity) {
      const int n = DecodeFrameWithRoom<kBig, Tag>(frame, acc, dst + written);
      written += n;
      produced += n;
      continue;
    }
    const std::uint32_t control = Load32<kBig>(frame);
    for (int k = 1; k < kWordsPerFrame; ++k) {
      const unsigned code = (control >> (30 - 2 * k)) & 3u;
      int count;
      if constexpr (std::is_same_v<Tag, Steim1Tag>) {
        count = Steim1Word<kBig>(code, frame + 4 * k, d);
      } else {
        count = Steim2Word<kBig>(code, frame + 4 * k, d);
      }
      if (count == 0) continue;
      if (f == 0 && k == 3) {
        // Forward integration constant: the first sample comes out as exactly X0.
        acc = static_cast<std::int32_t>(static_cast<std::uint32_t>(x0) -
                                        static_cast<std::uint32_t>(d[0]));
      }
      produced += count;
      const std::int64_t room = std::min<std::int64_t>(count, announced - written);
      int i = 0;
      for (; i < room; ++i) {
        acc += d[i];
        dst[written + i] = static_cast<float>(acc);
      }
      if (room > 0) written += room;
      for (; i < count; ++i) acc += d[i];
    }
  }
  std::fill(dst + written, dst + announced, 0.0f);
  status.produced = produced;
  status.countMismatch = produced != announced;
  if constexpr (std::is_same_v<Tag, Steim2Tag>) {
    if (announced > 0 && data.size() >= 12) {
      const std::int32_t xn = static_cast<std::int32_t>(Load32<kBig>(data.data() + 8));
      status.badFinalValue = static_cast<double>(dst[announced - 1]) != static_cast<double>(xn);
    }
  }
  return status;
}

}  // namespace

SteimStatus DecodeSteim1(std::span<const std::uint8_t> data, int frameCount, std::span<float> out,
                         bool bigEndian) {
  return bigEndian ? DecodeFrames<true, Steim1Tag>(data, frameCount, out)
                   : DecodeFrames<false, Steim1Tag>(data, frameCount, out);
}

SteimStatus DecodeSteim2(std::span<const std::uint8_t> data, int frameCount, std::span<float> out,
                         bool bigEndian) {
  return bigEndian ? DecodeFrames<true, Steim2Tag>(data, frameCount, out)
                   : DecodeFrames<false, Steim2Tag>(data, frameCount, out);
}

int Steim1FrameCount(int recordLength) {
  return (recordLength - 64) / 64;
}

int Steim2FrameCount(int recordLength, int beginningOfData) {
  return (recordLength - beginningOfData) / 64;
}

void ReportSteim2Diagnostics(const SteimStatus& status, std::int64_t announced, DebugSink& sink) {
  char line[160];
  const long long n = announced;
  const long long p = status.produced;
  if (p > n) {
    std::snprintf(line, sizeof line,
                  "!!! WARNING !!!  Steim Decompression Sample Count Error at  Sample: %lld\n", n);
    sink.Write(line);
    std::snprintf(line, sizeof line,
                  "Expected %lld, found %lld samples... Extra values will be Truncated\n", n, p);
    sink.Write(line);
  } else if (p < n) {
    std::snprintf(line, sizeof line,
                  "!!! WARNING !!!  Steim2 Decompression Sample Count Error at Sample: %lld\n", n);
    sink.Write(line);
    std::snprintf(line, sizeof line,
                  "Expected %lld, found %lld samples... Lost values will be Padded with Zeros\n", n,
                  p);
    sink.Write(line);
  }
  if (status.badFinalValue) sink.Write("bad final value\n");
}

}  // namespace tarnvel
