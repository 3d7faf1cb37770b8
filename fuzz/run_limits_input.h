// The run limits both record fuzzers take off the front of their input: a flag byte's bits ask
// for a time window's begin and end and for a channel filter entry, read in that order.
#pragma once

#include "fuzz/fuzz_input.h"
#include "seed/run_context.h"

namespace tarnvel::fuzz {

inline constexpr unsigned kListing = 1u << 0;  // the listing routine instead of the conversion
inline constexpr unsigned kWindowBegin = 1u << 1;
inline constexpr unsigned kWindowEnd = 1u << 2;
inline constexpr unsigned kFilter = 1u << 3;

// Sets the window and the filter of `context` as `flags` ask, from `input`.
inline void TakeRunLimits(FuzzInput& input, unsigned flags, RunContext& context) {
  if (flags & kWindowBegin) context.window.begin = static_cast<double>(input.U32());
  if (flags & kWindowEnd) context.window.end = static_cast<double>(input.U32());
  if (flags & kFilter) {
    ChannelFilterEntry entry;
    entry.station = input.Text(7);
    entry.channel = input.Text(7);
    entry.location = input.Text(7);
    context.filter.push_back(entry);
  }
}

}  // namespace tarnvel::fuzz
