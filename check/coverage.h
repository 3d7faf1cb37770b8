// What the store holds of each channel: the spans its files' samples cover and the gaps between
// them, from the rows of the selection and what their files hold.
#pragma once

#include <vector>

#include "check/report.h"
#include "check/row_checks.h"
#include "seed/run_context.h"

namespace tarnvel::check {

// Per channel (in order of station, channel, location), its spans and gaps in time order. Rows
// join one span where each starts at the sample time after the one before it ends (or earlier);
// a gap's samples are the sample times missing. With a window, gaps reach to its bounds.
std::vector<CoverageSpan> ChannelCoverage(const std::vector<CheckedRow>& rows,
                                          const TimeWindow& window);

}  // namespace tarnvel::check
