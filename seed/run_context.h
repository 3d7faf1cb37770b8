// The state one converter run shares between its parts: what the command line asked for, the
// decoders' status and the segments gathered from the file. One object per run, passed on.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "seed/debug_sink.h"
#include "seed/segment_list.h"
#include "seed/source_codes_memo.h"

namespace tarnvel {

// The bounds the command line gave, in epoch seconds. Any value is a time (0.0 and negative
// values are instants at or before 1970), so a bound that was not given is empty.
struct TimeWindow {
  std::optional<double> begin;
  std::optional<double> end;
};

struct ChannelFilterEntry {
  std::string station;  // patterns of at most 7 characters each
  std::string channel;
  std::string location;
};
using ChannelFilter = std::vector<ChannelFilterEntry>;

// Told of every record's samples filed into a segment while a file is read, right after they
// were added (the CSS output writes long segments' data files while reading goes on).
class SegmentGrowth {
 public:
  virtual void Grew(const TraceSegment& segment) = 0;

 protected:
  ~SegmentGrowth() = default;
};

struct RunContext {
  SegmentList segments;
  TimeWindow window;
  ChannelFilter filter;
  bool decodeOk = true;
  // A record's samples on their way into a new chunk or entry, reused from record to record.
  std::vector<float> scratch;
  // The codes of the last miniSEED 3 identifier read, reused while the records repeat it.
  SourceCodesMemo sourceCodes;
  DebugSink* debug = &DefaultDebugSink();
  SegmentGrowth* growth = nullptr;
  // Records ignored, for the lines after the reading:
  // - a station, channel or location code could not be used safely as part of a file name
  //   (control bytes, separators, "." or ".."; a miniSEED 3 identifier whose codes the store
  //   cannot keep);
  std::uint64_t unsafeNameRecords = 0;
  // - miniSEED 3 records whose CRC-32C or length is wrong;
  std::uint64_t damagedRecords = 0;
  // - miniSEED 3 records with samples but a rate that places none of them in time;
  std::uint64_t noRateRecords = 0;
  // - records with samples, in the window and the filter, of an encoding the decoders do not
  //   know, by its code.
  std::array<std::uint64_t, 256> undecodedRecords{};
};

}  // namespace tarnvel
