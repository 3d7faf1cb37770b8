#include "gui/failure_counter.h"

#include <algorithm>
#include <array>

namespace tarnvel::gui {
namespace {

// "Argument too long" is the converter refusing its command line (a station typed in Cyrillic
// letters, for one): nothing was done, though it ends with code 0.
constexpr std::array<std::string_view, 8> kErrorPhrases = {
    "Connection error", "File open error", "File read error",      "Delete error",
    "DB write error",   "Open Err",        "CSS file write error", "Argument too long",
};

}  // namespace

bool IsFailureLine(std::string_view line) {
  return std::any_of(kErrorPhrases.begin(), kErrorPhrases.end(),
                     [line](std::string_view phrase) { return line.find(phrase) != line.npos; });
}

std::vector<std::string_view> FailureLines(std::string_view output) {
  std::vector<std::string_view> lines;
  while (!output.empty()) {
    const auto end = output.find_first_of("\r\n");
    const auto line = output.substr(0, end);
    if (IsFailureLine(line)) lines.push_back(line);
    if (end == std::string_view::npos) break;
    output.remove_prefix(end + 1);
  }
  return lines;
}

int CountFailureLines(std::string_view output) {
  return static_cast<int>(FailureLines(output).size());
}

int RunFailures(std::string_view output, int exitCode, bool exitedNormally) {
  const int count = CountFailureLines(output);
  if ((exitCode != 0 || !exitedNormally) && count == 0) return 1;
  return count;
}

}  // namespace tarnvel::gui
