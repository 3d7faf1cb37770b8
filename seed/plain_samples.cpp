#include "seed/plain_samples.h"

#include <algorithm>
#include <bit>

#include "seed/byte_order.h"

namespace tarnvel {
namespace {

// The values `data` holds, each of `width` bytes, turned into floats by `convert(bytes)`.
template <std::size_t kWidth, typename Convert>
std::size_t DecodeEach(std::span<const std::uint8_t> data, std::span<float> out,
                       Convert&& convert) {
  const std::size_t held = std::min(out.size(), data.size() / kWidth);
  const std::uint8_t* p = data.data();
  for (std::size_t i = 0; i < held; ++i, p += kWidth) out[i] = convert(p);
  std::fill(out.begin() + static_cast<std::ptrdiff_t>(held), out.end(), 0.0f);
  return held;
}

template <bool kBig>
std::uint64_t Load64(const std::uint8_t* p) {
  const std::uint64_t first = Load32<kBig>(p);
  const std::uint64_t second = Load32<kBig>(p + 4);
  return kBig ? (first << 32 | second) : (second << 32 | first);
}

template <bool kBig>
std::size_t Int16(std::span<const std::uint8_t> data, std::span<float> out) {
  return DecodeEach<2>(data, out, [](const std::uint8_t* p) {
    return static_cast<float>(static_cast<std::int16_t>(Load16<kBig>(p)));
  });
}

template <bool kBig>
std::size_t Int32(std::span<const std::uint8_t> data, std::span<float> out) {
  return DecodeEach<4>(data, out, [](const std::uint8_t* p) {
    return static_cast<float>(static_cast<std::int32_t>(Load32<kBig>(p)));
  });
}

template <bool kBig>
std::size_t Float32(std::span<const std::uint8_t> data, std::span<float> out) {
  return DecodeEach<4>(data, out,
                       [](const std::uint8_t* p) { return std::bit_cast<float>(Load32<kBig>(p)); });
}

template <bool kBig>
std::size_t Float64(std::span<const std::uint8_t> data, std::span<float> out) {
  return DecodeEach<8>(data, out, [](const std::uint8_t* p) {
    return static_cast<float>(std::bit_cast<double>(Load64<kBig>(p)));
  });
}

}  // namespace

std::size_t DecodeInt16(std::span<const std::uint8_t> data, std::span<float> out, bool bigEndian) {
  return bigEndian ? Int16<true>(data, out) : Int16<false>(data, out);
}

std::size_t DecodeInt32(std::span<const std::uint8_t> data, std::span<float> out, bool bigEndian) {
  return bigEndian ? Int32<true>(data, out) : Int32<false>(data, out);
}

std::size_t DecodeFloat32(std::span<const std::uint8_t> data, std::span<float> out,
                          bool bigEndian) {
  return bigEndian ? Float32<true>(data, out) : Float32<false>(data, out);
}

std::size_t DecodeFloat64(std::span<const std::uint8_t> data, std::span<float> out,
                          bool bigEndian) {
  return bigEndian ? Float64<true>(data, out) : Float64<false>(data, out);
}

}  // namespace tarnvel
