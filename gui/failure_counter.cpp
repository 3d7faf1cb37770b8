#include "gui/failure_counter.h"

#include <algorithm>

#include "converter/console_wording.h"

namespace tarnvel::gui {

// "Argument too long" is among them: the converter refused its command line (a station typed in
// Cyrillic letters, for one) and did nothing, though it ends with code 0.
bool IsFailureLine(std::string_view line) {
  const auto& phrases = wording::kErrorPhrases;
  return std::any_of(phrases.begin(), phrases.end(),
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
