#include "seed/steim.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>

#include "seed/byte_order.h"
#include "seed/crc32c.h"

// SSE2 is part of every x86-64 processor. TARNVEL_STEIM_PORTABLE builds the plain C++ variant of
// the two vector steps instead, as other processors get it (the tests build it that way too).
#if (defined(__SSE2__) || defined(_M_X64)) && !defined(TARNVEL_STEIM_PORTABLE)
#define TARNVEL_STEIM_SSE2 1
#include <emmintrin.h>
#else
#define TARNVEL_STEIM_SSE2 0
#endif

// The CRC-32C instruction, written out so that the decoder needs no other instruction set: the
// frames' CRC is then taken as they are decoded, its instructions filling gaps of the decoding
// instead of a pass of their own. Run only where Crc32cInstructionAvailable().
#if TARNVEL_STEIM_SSE2 && defined(__GNUC__) && defined(__x86_64__)
#define TARNVEL_STEIM_CRC 1
#else
#define TARNVEL_STEIM_CRC 0
#endif

namespace tarnvel {
namespace {

// Decoding takes a run of frames in two passes. The first turns every data word into its
// differences without branching on the word's layout: neighbouring words change layout with the
// signal, which defeats branch prediction, so one multiply-and-shift, driven by a table, serves
// every layout. The second integrates the differences into samples, eight at a time.

constexpr std::size_t kFrameBytes = 64;
constexpr int kWordsPerFrame = 16;
constexpr int kDataWordsPerFrame = kWordsPerFrame - 1;
constexpr int kChunkFrames = 32;  // frames per pass: 13 KiB of Steim2 differences at most

// One layout of a data word for an extractor of kLanes slots. Slot i receives
// (int32)(word * factor_i) >> shift: the factor 2^k lifts field i (in the order the word holds its
// differences) to the top bits and the arithmetic shift brings it back sign-extended. Slots past
// the word's count have factor 0 and receive 0. Aligned to its own size, a power of two, so that
// a layout is found by shifting its index.
template <int kLanes>
struct alignas(16 * kLanes) WordLayout {
  // In the order SSE2's 32x32->64-bit multiply takes them: for each four slots the vectors
  // {f0, 0, f1, 0} and {f2, 0, f3, 0}.
  std::uint32_t factors[2 * kLanes];
  std::uint64_t shift[2];  // a shift-count vector: the count in the low 64 bits
  std::int64_t bound;      // greatest magnitude any partial sum of the word's differences reaches
  std::int32_t count;
};

// Where the factor of `slot` lies in WordLayout::factors.
constexpr int FactorIndex(int slot) {
  const int within = slot % 4;
  return (2 * (slot / 4) + within / 2) * 4 + 2 * (within % 2);
}

// `count` fields of `bits` bits: from the most significant down, or, for `ascending`, from the
// least significant up (bytes and halves held in memory order, read from a little-endian word).
template <int kLanes>
constexpr WordLayout<kLanes> Layout(int count, int bits, bool ascending = false) {
  WordLayout<kLanes> layout{};
  layout.count = count;
  if (count == 0) return layout;
  layout.shift[0] = static_cast<std::uint64_t>(32 - bits);
  layout.bound = count * (std::int64_t{1} << (bits - 1));
  for (int i = 0; i < count; ++i) {
    const int lowest = ascending ? bits * i : bits * (count - 1 - i);
    layout.factors[FactorIndex(i)] = std::uint32_t{1} << (32 - bits - lowest);
  }
  return layout;
}

template <bool kBig>
struct Steim1 {
  static constexpr bool kBigEndian = kBig;
  static constexpr bool kChecksFinalValue = false;
  static constexpr int kLanes = 4;
  static constexpr int kMostPerWord = 4;
  static constexpr WordLayout<kLanes> kLayouts[4] = {
      Layout<kLanes>(0, 32), Layout<kLanes>(4, 8, !kBig),  // bytes in memory order
      Layout<kLanes>(2, 16, !kBig),                        // halves in memory order
      Layout<kLanes>(1, 32)};

  static const WordLayout<kLanes>& LayoutOf(unsigned code, std::uint32_t /*word*/) {
    return kLayouts[code];
  }

  // A frame whose 15 data words share code 1 or 2, the common case (the 8-, 16- and 32-bit
  // tiers are coarse, so a signal tends to stay in one), as one straight loop. Returns the
  // differences written, or -1 for any other frame.
  static int UniformFrame(std::uint32_t control, const std::uint8_t* words, std::int32_t* d,
                          std::int64_t& bound) {
    const std::uint32_t codes = control & 0x3FFFFFFFu;
    if (codes == 0x15555555u) {
      for (int i = 0; i < 4 * kDataWordsPerFrame; ++i) d[i] = static_cast<std::int8_t>(words[i]);
      bound += kDataWordsPerFrame * kLayouts[1].bound;
      return 4 * kDataWordsPerFrame;
    }
    if (codes == 0x2AAAAAAAu) {
      for (int i = 0; i < 2 * kDataWordsPerFrame; ++i) {
        d[i] = static_cast<std::int16_t>(Load16<kBig>(words + 2 * i));
      }
      bound += kDataWordsPerFrame * kLayouts[2].bound;
      return 2 * kDataWordsPerFrame;
    }
    return -1;
  }
};

template <bool kBig>
struct Steim2 {
  static constexpr bool kBigEndian = kBig;
  static constexpr bool kChecksFinalValue = true;
  static constexpr int kLanes = 8;
  static constexpr int kMostPerWord = 7;
  // Indexed by code and dnib: code 0 and dnib-less words hold nothing; code 1 holds bytes in
  // memory order whatever its top bits.
  static constexpr WordLayout<kLanes> kLayouts[16] = {
      Layout<kLanes>(0, 32),       Layout<kLanes>(0, 32),       Layout<kLanes>(0, 32),
      Layout<kLanes>(0, 32),       Layout<kLanes>(4, 8, !kBig), Layout<kLanes>(4, 8, !kBig),
      Layout<kLanes>(4, 8, !kBig), Layout<kLanes>(4, 8, !kBig), Layout<kLanes>(0, 32),
      Layout<kLanes>(1, 30),       Layout<kLanes>(2, 15),       Layout<kLanes>(3, 10),
      Layout<kLanes>(5, 6),        Layout<kLanes>(6, 5),        Layout<kLanes>(7, 4),
      Layout<kLanes>(0, 32)};

  static const WordLayout<kLanes>& LayoutOf(unsigned code, std::uint32_t word) {
    return kLayouts[(code << 2) | (word >> 30)];
  }

  // Steim2 words change layout too often for whole frames of one layout to pay.
  static int UniformFrame(std::uint32_t, const std::uint8_t*, std::int32_t*, std::int64_t&) {
    return -1;
  }
};

#if TARNVEL_STEIM_CRC
// Extends the register (not inverted) over the eight bytes at p.
inline void CrcOfEight(std::uint64_t& reg, const std::uint8_t* p) {
  std::uint64_t bytes;
  std::memcpy(&bytes, p, 8);
  asm("crc32q %1, %0" : "+r"(reg) : "rm"(bytes));
}

// Extends the register over the 64 bytes of a frame.
inline void FrameCrc(std::uint64_t& reg, const std::uint8_t* frame) {
#pragma GCC unroll 8
  for (std::size_t i = 0; i < kFrameBytes; i += 8) CrcOfEight(reg, frame + i);
}
#endif

#if TARNVEL_STEIM_SSE2
// Four slots: two 32x32->64-bit multiplies lift two fields each, their low halves are gathered
// in slot order, and one arithmetic shift sign-extends all four.
inline __m128i FourFields(__m128i word, const std::uint32_t* factors, __m128i shift) {
  const __m128i a = _mm_mul_epu32(word, _mm_load_si128(reinterpret_cast<const __m128i*>(factors)));
  const __m128i b =
      _mm_mul_epu32(word, _mm_load_si128(reinterpret_cast<const __m128i*>(factors + 4)));
  const __m128i gathered = _mm_castps_si128(
      _mm_shuffle_ps(_mm_castsi128_ps(a), _mm_castsi128_ps(b), _MM_SHUFFLE(2, 0, 2, 0)));
  return _mm_sra_epi32(gathered, shift);
}
#endif

// Writes all kLanes slots of `word` to d; the first layout.count of them are its differences.
template <int kLanes>
inline void WordDifferences(std::uint32_t word, const WordLayout<kLanes>& layout, std::int32_t* d) {
#if TARNVEL_STEIM_SSE2
  const __m128i w = _mm_set1_epi32(static_cast<int>(word));
  const __m128i shift = _mm_load_si128(reinterpret_cast<const __m128i*>(layout.shift));
  for (int group = 0; group < kLanes / 4; ++group) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 4 * group),
                     FourFields(w, layout.factors + 8 * group, shift));
  }
#else
  for (int i = 0; i < kLanes; ++i) {
    d[i] = static_cast<std::int32_t>(word * layout.factors[FactorIndex(i)]) >> layout.shift[0];
  }
#endif
}

// The differences of data words [first, last) of `frame`, written from d on; returns how many.
// `bound` grows by the most their partial sums can reach. With kCrc, the CRC register `crc` is
// extended over the frame's bytes as its words are read, eight bytes at every odd word (with the
// word before it): spread among the decoding, the CRC instructions cost less than in a run of
// their own. Word ranges that start at an odd word leave out no bytes.
template <typename Code, bool kCrc>
inline int WordsDifferences(const std::uint8_t* frame, std::uint32_t control, int first, int last,
                            std::int32_t* d, std::int64_t& bound,
                            [[maybe_unused]] std::uint64_t& crc) {
  int n = 0;
#pragma GCC unroll 15
  for (int k = first; k < last; ++k) {
#if TARNVEL_STEIM_CRC
    if constexpr (kCrc) {
      if (k % 2 == 1) CrcOfEight(crc, frame + 4 * (k - 1));
    }
#endif
    const std::uint32_t word = Load32<Code::kBigEndian>(frame + 4 * k);
    const auto& layout = Code::LayoutOf((control >> (30 - 2 * k)) & 3u, word);
    WordDifferences(word, layout, d + n);
    n += layout.count;
    bound += layout.bound;
  }
  return n;
}

inline void IntegrateOneByOne(const std::int32_t* d, std::int64_t count, std::int64_t& acc,
                              float* out) {
  for (std::int64_t i = 0; i < count; ++i) {
    acc += d[i];
    out[i] = static_cast<float>(acc);
  }
}

// Integrates `count` differences into `out`, continuing from `acc`. No partial sum of d exceeds
// `bound` in magnitude: while acc stays that far inside 32 bits, every running sum is exact in
// 32-bit lanes, and eight are formed at a time, the carry from one eight to the next costing a
// single addition; beyond (no digitizer gets there, but a record may claim it) they are formed one
// at a time in 64 bits. Either way each sample is the exact sum rounded once to float.
inline void Integrate(const std::int32_t* d, std::int64_t count,
                      [[maybe_unused]] std::int64_t bound, std::int64_t& acc, float* out) {
  std::int64_t i = 0;
#if TARNVEL_STEIM_SSE2
  constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
  constexpr std::int64_t kMin = std::numeric_limits<std::int32_t>::min();
  if (acc <= kMax - bound && acc >= kMin + bound && count >= 8) {
    const auto last = [](__m128i v) { return _mm_shuffle_epi32(v, _MM_SHUFFLE(3, 3, 3, 3)); };
    __m128i running = _mm_set1_epi32(static_cast<std::int32_t>(acc));
    for (; i + 8 <= count; i += 8) {
      __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + i));
      __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + i + 4));
      low = _mm_add_epi32(low, _mm_slli_si128(low, 4));
      high = _mm_add_epi32(high, _mm_slli_si128(high, 4));
      low = _mm_add_epi32(low, _mm_slli_si128(low, 8));
      high = _mm_add_epi32(high, _mm_slli_si128(high, 8));
      high = _mm_add_epi32(high, last(low));
      _mm_storeu_ps(out + i, _mm_cvtepi32_ps(_mm_add_epi32(low, running)));
      _mm_storeu_ps(out + i + 4, _mm_cvtepi32_ps(_mm_add_epi32(high, running)));
      running = _mm_add_epi32(running, last(high));
    }
    acc = _mm_cvtsi128_si32(running);
  }
#endif
  IntegrateOneByOne(d + i, count - i, acc, out + i);
}

// Decodes every whole frame inside `data` (at most frameCount) into `out`. The accumulator is a
// 64-bit integer: it holds the same integer values a double would (sums of at most ~10^5 32-bit
// differences stay far below 2^53) and converts to float with the same rounding.
// With kCrc, the frames' CRC is extended from crcBefore as they are read (the CRC instruction
// must be available); the bytes after the last whole frame decoded are added at the end.
template <typename Code, bool kCrc>
SteimStatus DecodeFrames(std::span<const std::uint8_t> data, int frameCount, std::span<float> out,
                         std::uint32_t crcBefore) {
  constexpr bool kBig = Code::kBigEndian;
  SteimStatus status;
  const std::int64_t announced = static_cast<std::int64_t>(out.size());
  const std::int64_t whole = static_cast<std::int64_t>(data.size() / kFrameBytes);
  const std::int64_t frames = frameCount <= 0 ? 0 : std::min<std::int64_t>(frameCount, whole);

  float* const dst = out.data();
  [[maybe_unused]] std::uint64_t crc = ~crcBefore;  // the register
  std::int64_t written = 0;
  std::int64_t produced = 0;
  std::int64_t acc = 0;
  // Each word writes all its slots, so room for the last word's spare ones.
  std::int32_t d[kChunkFrames * kDataWordsPerFrame * Code::kMostPerWord + Code::kLanes];
  for (std::int64_t first = 0; first < frames; first += kChunkFrames) {
    const std::int64_t end = std::min<std::int64_t>(frames, first + kChunkFrames);
    int n = 0;
    std::int64_t bound = 0;
    int x0At = -1;  // where the first difference of word 3 of frame 0 lies, when it has one
    for (std::int64_t f = first; f < end; ++f) {
      const std::uint8_t* frame = data.data() + f * static_cast<std::int64_t>(kFrameBytes);
      const std::uint32_t control = Load32<kBig>(frame);
      if (f == 0) {
        n += WordsDifferences<Code, kCrc>(frame, control, 1, 3, d + n, bound, crc);
        if (Code::LayoutOf((control >> 24) & 3u, Load32<kBig>(frame + 12)).count > 0) x0At = n;
        n += WordsDifferences<Code, kCrc>(frame, control, 3, kWordsPerFrame, d + n, bound, crc);
        continue;
      }
      const int uniform = Code::UniformFrame(control, frame + 4, d + n, bound);
      if (uniform >= 0) {
#if TARNVEL_STEIM_CRC
        if constexpr (kCrc) FrameCrc(crc, frame);
#endif
        n += uniform;
      } else {
        n += WordsDifferences<Code, kCrc>(frame, control, 1, kWordsPerFrame, d + n, bound, crc);
      }
    }
    produced += n;
    const std::int64_t room = std::min<std::int64_t>(n, announced - written);
    if (room <= 0) continue;  // surplus differences are counted, not written
    float* const at = dst + written;
    if (x0At >= 0 && x0At < room) {
      // Forward integration constant: the first sample comes out as exactly X0 (as a 32-bit
      // subtraction, wrapping).
      Integrate(d, x0At, bound, acc, at);
      const std::uint32_t x0 = Load32<kBig>(data.data() + 4);
      acc = static_cast<std::int32_t>(x0 - static_cast<std::uint32_t>(d[x0At]));
      Integrate(d + x0At, room - x0At, bound, acc, at + x0At);
    } else {
      Integrate(d, room, bound, acc, at);
    }
    written += room;
  }
  std::fill(dst + written, dst + announced, 0.0f);
  if constexpr (kCrc) {
    status.crc = Crc32cExtend(~static_cast<std::uint32_t>(crc),
                              data.subspan(static_cast<std::size_t>(frames) * kFrameBytes));
  }
  status.produced = produced;
  status.countMismatch = produced != announced;
  if constexpr (Code::kChecksFinalValue) {
    if (announced > 0 && data.size() >= 12) {
      const std::int32_t xn = static_cast<std::int32_t>(Load32<kBig>(data.data() + 8));
      status.badFinalValue = static_cast<double>(dst[announced - 1]) != static_cast<double>(xn);
    }
  }
  return status;
}

// Decodes as Code, taking the CRC beside the decoding where the instruction is there and after
// it elsewhere.
template <typename Code>
SteimStatus Decode(std::span<const std::uint8_t> data, int frameCount, std::span<float> out,
                   std::optional<std::uint32_t> crcBefore) {
  if (!crcBefore) return DecodeFrames<Code, false>(data, frameCount, out, 0);
#if TARNVEL_STEIM_CRC
  if (Crc32cInstructionAvailable()) {
    return DecodeFrames<Code, true>(data, frameCount, out, *crcBefore);
  }
#endif
  SteimStatus status = DecodeFrames<Code, false>(data, frameCount, out, 0);
  status.crc = Crc32cExtend(*crcBefore, data);
  return status;
}

}  // namespace

SteimStatus DecodeSteim1(std::span<const std::uint8_t> data, int frameCount, std::span<float> out,
                         bool bigEndian, std::optional<std::uint32_t> crcBefore) {
  return bigEndian ? Decode<Steim1<true>>(data, frameCount, out, crcBefore)
                   : Decode<Steim1<false>>(data, frameCount, out, crcBefore);
}

SteimStatus DecodeSteim2(std::span<const std::uint8_t> data, int frameCount, std::span<float> out,
                         bool bigEndian, std::optional<std::uint32_t> crcBefore) {
  return bigEndian ? Decode<Steim2<true>>(data, frameCount, out, crcBefore)
                   : Decode<Steim2<false>>(data, frameCount, out, crcBefore);
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
