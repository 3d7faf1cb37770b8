// One channel's continuous run of samples.
#pragma once

#include <cstdint>
#include <string>

#include "seed/sample_buffer.h"

namespace tarnvel {

struct TraceSegment {
  std::uint32_t rate = 0;    // whole samples per second: nominal rate truncated toward zero
  double nominalRate = 0.0;  // the record's nominal rate as decoded
  SampleBuffer samples;      // empty in entries made by RegisterRecordSpan
  double start = 0.0;        // epoch seconds of the first sample
  double end = 0.0;          // start + count / SpanRate(): time of the sample after the last
  std::int64_t count = 0;    // samples held (info mode: samples counted)
  std::string channel;       // at most 3 characters
  std::string station;       // at most 5 characters
  std::string location;      // at most 2 characters, "??" for a blank location

  // The rate used for span arithmetic. Channels below 1 sample per second have a whole rate of
  // 0; they keep their spans with the nominal rate instead of dividing by zero.
  double SpanRate() const { return rate >= 1 ? static_cast<double>(rate) : nominalRate; }
};

}  // namespace tarnvel
