// Reading 16- and 32-bit values of a given byte order from unaligned bytes.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace tarnvel {

constexpr std::uint16_t ByteSwap16(std::uint16_t v) {
  return static_cast<std::uint16_t>((v >> 8) | (v << 8));
}

constexpr std::uint32_t ByteSwap32(std::uint32_t v) {
  return (v >> 24) | ((v >> 8) & 0x0000FF00u) | ((v << 8) & 0x00FF0000u) | (v << 24);
}

// A 16- or 32-bit value stored in the given byte order.
template <bool kBigEndian, typename T>
inline T LoadOrdered(const std::uint8_t* p) {
  static_assert(sizeof(T) == 2 || sizeof(T) == 4);
  T v;
  std::memcpy(&v, p, sizeof v);
  if constexpr (kBigEndian != (std::endian::native == std::endian::big)) {
    if constexpr (sizeof(T) == 2) {
      v = ByteSwap16(v);
    } else {
      v = ByteSwap32(v);
    }
  }
  return v;
}

template <bool kBigEndian>
inline std::uint32_t Load32(const std::uint8_t* p) {
  return LoadOrdered<kBigEndian, std::uint32_t>(p);
}

template <bool kBigEndian>
inline std::uint16_t Load16(const std::uint8_t* p) {
  return LoadOrdered<kBigEndian, std::uint16_t>(p);
}

inline std::uint32_t Load32(const std::uint8_t* p, bool bigEndian) {
  return bigEndian ? Load32<true>(p) : Load32<false>(p);
}

inline std::uint16_t Load16(const std::uint8_t* p, bool bigEndian) {
  return bigEndian ? Load16<true>(p) : Load16<false>(p);
}

}  // namespace tarnvel
