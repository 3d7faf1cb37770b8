// The converter's own lines in its output, progress left out: what a run's results show.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarnvel::gui {

// Whether a piece of output (between carriage returns and line feeds) is a progress entry
// "Converting File - NN%", "Writing to database - NN%" or "Writing to CSS-file - NN%", or the
// start of one still arriving.
bool IsProgressPiece(std::string_view piece);

// The pieces of `output` between carriage returns and line feeds that are neither empty nor
// progress, in the order printed. The store prints "Open Err: " on a line of its own with the
// path of the file it could not open on the next: the two come as one line "Open Err: <path>".
std::vector<std::string> ReportLines(std::string_view output);

}  // namespace tarnvel::gui
