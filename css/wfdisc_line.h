// CSS 3.0 wfdisc lines and the name of their .w data file, as pure functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

#include "seed/trace_segment.h"

namespace tarnvel {

// Characters of a wfdisc line before its "\n" when every field keeps its width.
inline constexpr std::size_t kWfdiscLineLength = 283;
// Width of the dfile field: a longer data file name cannot be written whole.
inline constexpr std::size_t kWfdiscDataFileNameWidth = 32;
// Most samples one line can describe (nsamp is eight characters wide).
inline constexpr std::int64_t kWfdiscMaxSamples = 99999999;

// The chan field: channel, followed by the location when it is neither "??" nor empty.
std::string WfdiscChannel(const TraceSegment& segment);

// "yyyymmddhhmmss-STA-CHAN.w" from the UTC calendar fields of the start (seconds cut),
// CHAN as WfdiscChannel. A `serial` above 0 gives "...-CHAN-<serial>.w".
std::string WfdiscDataFileName(const TraceSegment& segment, int serial = 0);

// The lines describing the segment's data file, each with its "\n": one line, or, for more
// samples than one line can count, one line per kWfdiscMaxSamples samples with its byte offset
// into the same file. Every field keeps its width (times and samprate with fewer decimals where
// theirs do not fit); empty when a value cannot be written in its field at all, the data file
// name included. `loadDate` is the UTC moment written as lddate.
std::string FormatWfdiscLines(const TraceSegment& segment, const std::string& dataFileName,
                              const std::tm& loadDate);

}  // namespace tarnvel
