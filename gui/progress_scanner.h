// Follows the converter's progress lines: the newest "Converting File - NN%" entry drives the
// reading bar, the newest "Writing to database - NN%" or "Writing to CSS-file - NN%" entry the
// writing bar.
#pragma once

#include <optional>
#include <string_view>

namespace tarnvel::gui {

struct ProgressReading {
  std::optional<int> reading;  // percent, 0..100; empty when no entry was seen
  std::optional<int> writing;
};

// Looks at the whole output from its end, so the result follows what the converter printed
// last however much it printed before. An entry whose number has not fully arrived yet (no
// "%" after its digits) is passed over in favour of the one before it.
ProgressReading ScanProgress(std::string_view output);

}  // namespace tarnvel::gui
