// A literal Steim1/Steim2 decoder to hold the real one against: one word and one difference at a
// time, a double accumulator, each rule in the order the format states it. Slow on purpose.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tarnvel::testing {

struct ReferenceSteim {
  std::vector<float> samples;  // the announced count, zero-padded
  std::int64_t produced = 0;
  bool badFinalValue = false;  // Steim2 only
};

inline ReferenceSteim ReferenceSteimDecode(bool steim2, std::span<const std::uint8_t> data,
                                           int frameCount, std::size_t announced, bool big) {
  const auto load = [&](std::size_t at, int bytes) {
    std::uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) {
      const std::uint32_t byte = data[at + static_cast<std::size_t>(i)];
      v |= byte << (big ? 8 * (bytes - 1 - i) : 8 * i);
    }
    return v;
  };
  ReferenceSteim r;
  r.samples.assign(announced, 0.0f);
  const std::size_t whole = data.size() / 64;
  const std::size_t frames =
      frameCount <= 0 ? 0 : std::min(static_cast<std::size_t>(frameCount), whole);
  const std::int32_t x0 = frames > 0 ? static_cast<std::int32_t>(load(4, 4)) : 0;
  double acc = 0.0;
  std::size_t written = 0;
  for (std::size_t f = 0; f < frames; ++f) {
    const std::uint32_t control = load(64 * f, 4);
    for (int k = 1; k < 16; ++k) {
      const std::size_t at = 64 * f + 4 * static_cast<std::size_t>(k);
      const unsigned code = (control >> (30 - 2 * k)) & 3u;
      std::int32_t diffs[7];
      int n = 0;
      if (code == 1) {
        for (std::size_t i = 0; i < 4; ++i) diffs[n++] = static_cast<std::int8_t>(data[at + i]);
      } else if (code != 0 && !steim2) {
        if (code == 2) {
          diffs[n++] = static_cast<std::int16_t>(load(at, 2));
          diffs[n++] = static_cast<std::int16_t>(load(at + 2, 2));
        } else {
          diffs[n++] = static_cast<std::int32_t>(load(at, 4));
        }
      } else if (code != 0) {
        // {bits, count} by dnib; dnib 00 of code 2 and dnib 11 of code 3 hold nothing.
        constexpr int kCode2[4][2] = {{0, 0}, {30, 1}, {15, 2}, {10, 3}};
        constexpr int kCode3[4][2] = {{6, 5}, {5, 6}, {4, 7}, {0, 0}};
        const std::uint32_t w = load(at, 4);
        const int* layout = code == 2 ? kCode2[w >> 30] : kCode3[w >> 30];
        const int bits = layout[0];
        const int count = layout[1];
        for (int i = 0; i < count; ++i) {
          const std::uint32_t field = (w >> (bits * (count - 1 - i))) & ((1u << bits) - 1);
          const bool negative = (field >> (bits - 1)) != 0;
          diffs[n++] = static_cast<std::int32_t>(
              negative ? static_cast<std::int64_t>(field) - (std::int64_t{1} << bits) : field);
        }
      }
      for (int i = 0; i < n; ++i) {
        if (f == 0 && k == 3 && i == 0) {
          acc = static_cast<std::int32_t>(static_cast<std::uint32_t>(x0) -
                                          static_cast<std::uint32_t>(diffs[i]));
        }
        acc += diffs[i];
        if (written < announced) r.samples[written++] = static_cast<float>(acc);
        ++r.produced;
      }
    }
  }
  if (steim2 && announced > 0 && data.size() >= 12) {
    r.badFinalValue = static_cast<double>(r.samples.back()) !=
                      static_cast<double>(static_cast<std::int32_t>(load(8, 4)));
  }
  return r;
}

}  // namespace tarnvel::testing
