// CRC-32C (Castagnoli, polynomial 0x1EDC6F41 as RFC 3309 and RFC 3720 use it), the check value
// of a miniSEED 3 record. Pure functions over byte spans.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace tarnvel {

// The CRC of the bytes whose CRC is `crc` followed by `bytes` (0 for no bytes before), so a
// message can be checked piece by piece: Crc32cExtend(Crc32cExtend(0, a), b) is the CRC of a
// and b joined.
std::uint32_t Crc32cExtend(std::uint32_t crc, std::span<const std::uint8_t> bytes);

// The same with the four bytes from `field` taken as zeros (a record's own CRC field, which its
// CRC does not cover); they must lie within `bytes`.
std::uint32_t Crc32cExtendZeroingField(std::uint32_t crc, std::span<const std::uint8_t> bytes,
                                       std::size_t field);

inline std::uint32_t Crc32c(std::span<const std::uint8_t> bytes) {
  return Crc32cExtend(0, bytes);
}

// Whether the processor has the CRC-32C instruction (x86-64 with SSE4.2), which Crc32cExtend
// uses then and callers may use inline.
bool Crc32cInstructionAvailable();

// The same without the processor's CRC instruction, as processors without one compute it (the
// tests hold both against each other).
std::uint32_t Crc32cExtendPortable(std::uint32_t crc, std::span<const std::uint8_t> bytes);

}  // namespace tarnvel
