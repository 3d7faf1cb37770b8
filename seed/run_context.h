// The state one converter run shares between its parts: what the command line asked for, the
// decoders' status and the segments gathered from the file. One object per run, passed on.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "seed/debug_sink.h"
#include "seed/segment_list.h"

namespace tarnvel {

struct TimeWindow {
  double begin = -1.0;  // -1.0: not set
  double end = -1.0;
};

struct ChannelFilterEntry {
  std::string station;   // patterns of at most 7 characters each
  std::string channel;
  std::string location;
};
using ChannelFilter = std::vector<ChannelFilterEntry>;

struct RunContext {
  SegmentList segments;
  TimeWindow window;
  ChannelFilter filter;
  bool decodeOk = true;
  DebugSink* debug = &DefaultDebugSink();
  std::FILE* console = stdout;  // "\rIncorrect encoding format\n" goes here
  // Records ignored because a station, channel or location code could not be used safely as
  // part of a file name (control bytes, separators, "." or "..").
  std::uint64_t unsafeNameRecords = 0;
};

}  // namespace tarnvel
