// SEED input for end-to-end tests, built with the independent packer, and the bytes the store
// is expected to hold for it.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/mseed_pack.h"

namespace tarnvel::testing {

inline std::string PackChannel(const std::string& station, const std::string& channel,
                               const std::string& location, double start, double rate,
                               const std::vector<std::int32_t>& samples, int recordLength = 512) {
  PackSpec spec;
  spec.station = station;
  spec.channel = channel;
  spec.location = location;
  spec.startEpoch = start;
  spec.sampleRate = rate;
  spec.recordLength = recordLength;
  return PackRecords(spec, samples);
}

// Samples as the little-endian floats of a waveform file.
inline std::string FloatBytes(const std::vector<std::int32_t>& samples) {
  std::string out(samples.size() * 4, '\0');
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const auto value = static_cast<float>(samples[i]);
    std::memcpy(out.data() + 4 * i, &value, 4);
  }
  return out;
}

// Counts the occurrences of `needle` in `text`.
inline std::size_t CountOf(const std::string& text, const std::string& needle) {
  std::size_t count = 0;
  for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) {
    ++count;
  }
  return count;
}

}  // namespace tarnvel::testing
