// One channel's continuous run of samples.
#pragma once

#include <cstdint>

#include "seed/channel_key.h"
#include "seed/sample_buffer.h"

namespace tarnvel {

struct TraceSegment : ChannelKey {
  // Whole samples per second (the nominal rate truncated toward zero): only the listing's rate
  // column shows it.
  std::uint32_t rate = 0;
  // The record's nominal rate from its factor and multiplier. Every span, every joining of
  // records, every cut into pieces and every rate and end time written uses it.
  double nominalRate = 0.0;
  SampleBuffer samples;    // empty in entries made by RegisterRecordSpan
  double start = 0.0;      // epoch seconds of the first sample
  double end = 0.0;        // start + count / nominalRate: time of the sample after the last
  std::int64_t count = 0;  // samples held (info mode: samples counted)
};

}  // namespace tarnvel
