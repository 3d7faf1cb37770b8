// One CSS 3.0 wfdisc line and the name of its .w data file, as pure functions.
#pragma once

#include <ctime>
#include <string>

#include "seed/trace_segment.h"

namespace tarnvel {

// The chan field: channel, followed by the location when it is neither "??" nor empty.
std::string WfdiscChannel(const TraceSegment& segment);

// "yyyymmddhhmmss-STA-CHAN.w" from the UTC calendar fields of the start (seconds cut),
// CHAN as WfdiscChannel. A `serial` above 0 gives "...-CHAN-<serial>.w".
std::string WfdiscDataFileName(const TraceSegment& segment, int serial = 0);

// The whole line with its "\n"; `loadDate` is the UTC moment written as lddate.
std::string FormatWfdiscLine(const TraceSegment& segment, const std::string& dataFileName,
                             const std::tm& loadDate);

}  // namespace tarnvel
