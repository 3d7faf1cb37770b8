// One segment as StoreSegment receives it: the values that travel with every piece of it.
#pragma once

#include <cstdint>
#include <string>

#include "seed/channel_key.h"
#include "seed/sample_buffer.h"

namespace tarnvel {

// Its channel's codes (the location "??" for a blank one) first.
struct SegmentToStore : ChannelKey {
  const SampleBuffer* samples = nullptr;
  std::int64_t count = 0;
  std::string path;    // the data file path the driver composed, named in messages
  double start = 0.0;  // time of the first sample
  double end = 0.0;    // time just after the last sample
  double rate = 0.0;   // samples per second
  std::string creator;
  double calibration = 0.0;
  double calibrationPeriod = 0.0;
  std::uint64_t serial = 0;  // which StoreSegment call it came with
};

}  // namespace tarnvel
