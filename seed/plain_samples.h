// Samples stored as plain numbers: 16- and 32-bit integers, 32- and 64-bit floats, in either
// byte order. Pure functions: bytes in, samples and a count out; nothing is read outside `data`.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace tarnvel {

// Each fills `out` from the values at the start of `data` and returns how many values `data`
// held for it (at most out.size()); the slots beyond those are set to zero. Integers become the
// float nearest to them; a 64-bit float becomes the 32-bit float nearest to it (the store keeps
// single floats), one beyond the single range an infinity.
std::size_t DecodeInt16(std::span<const std::uint8_t> data, std::span<float> out, bool bigEndian);
std::size_t DecodeInt32(std::span<const std::uint8_t> data, std::span<float> out, bool bigEndian);
std::size_t DecodeFloat32(std::span<const std::uint8_t> data, std::span<float> out, bool bigEndian);
std::size_t DecodeFloat64(std::span<const std::uint8_t> data, std::span<float> out, bool bigEndian);

}  // namespace tarnvel
