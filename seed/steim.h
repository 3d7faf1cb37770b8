// Steim1 and Steim2 decompression of a SEED data area. Pure functions: bytes in, samples and a
// status out; nothing is read outside `data`.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "seed/debug_sink.h"

namespace tarnvel {

struct SteimStatus {
  std::int64_t produced = 0;   // differences decoded, including those beyond the announced count
  bool countMismatch = false;  // produced != announced: the caller clears DecodeOk
  bool badFinalValue = false;  // Steim2 only: Xn differs from the last written sample
  std::optional<std::uint32_t> crc;  // when asked for: `crcBefore` extended over all of `data`
};

// `data` is the data area (from the beginning of data to the end of the record).
// `frameCount` frames are decoded, limited to the whole frames `data` holds.
// `out` has exactly the announced number of slots; it is zero-filled beyond what was produced.
// `bigEndian` is the record's swap flag.
// `crcBefore`, when given, is the CRC-32C of the bytes before `data`; it is extended over every
// byte of `data`, each frame as it is decoded (the CRC instruction then runs beside the
// decoding instead of in a pass of its own), and returned in the status.
SteimStatus DecodeSteim1(std::span<const std::uint8_t> data, int frameCount, std::span<float> out,
                         bool bigEndian, std::optional<std::uint32_t> crcBefore = std::nullopt);
SteimStatus DecodeSteim2(std::span<const std::uint8_t> data, int frameCount, std::span<float> out,
                         bool bigEndian, std::optional<std::uint32_t> crcBefore = std::nullopt);

// Frame counts as the record layout defines them: Steim1 from the fixed 64-byte offset,
// Steim2 from the beginning of data.
int Steim1FrameCount(int recordLength);
int Steim2FrameCount(int recordLength, int beginningOfData);

// Writes the Steim2 sample-count and final-value diagnostics for `status` to `sink`.
void ReportSteim2Diagnostics(const SteimStatus& status, std::int64_t announced, DebugSink& sink);

}  // namespace tarnvel
