#include "gui/failure_counter.h"

#include <algorithm>
#include <array>

namespace tarnvel::gui {
namespace {

constexpr std::array<std::string_view, 7> kErrorPhrases = {
    "Connection error", "File open error", "File read error",      "Delete error",
    "DB write error",   "Open Err",        "CSS file write error",
};

bool HoldsErrorPhrase(std::string_view line) {
  return std::any_of(kErrorPhrases.begin(), kErrorPhrases.end(),
                     [line](std::string_view phrase) { return line.find(phrase) != line.npos; });
}

}  // namespace

int CountFailureLines(std::string_view output) {
  int count = 0;
  while (!output.empty()) {
    const auto end = output.find_first_of("\r\n");
    const auto line = output.substr(0, end);
    if (HoldsErrorPhrase(line)) ++count;
    if (end == std::string_view::npos) break;
    output.remove_prefix(end + 1);
  }
  return count;
}

int RunFailures(std::string_view output, int exitCode, bool exitedNormally) {
  const int count = CountFailureLines(output);
  if ((exitCode != 0 || !exitedNormally) && count == 0) return 1;
  return count;
}

}  // namespace tarnvel::gui
