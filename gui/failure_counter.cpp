#include "gui/failure_counter.h"

#include <algorithm>
#include <cstdio>

#include "converter/console_wording.h"
#include "gui/messages.h"
#include "gui/report_lines.h"

namespace tarnvel::gui {

// "Argument too long" is among them: the converter refused its command line and did nothing,
// though it ends with code 0.
bool IsFailureLine(std::string_view line) {
  const auto& phrases = wording::kErrorPhrases;
  return std::any_of(phrases.begin(), phrases.end(),
                     [line](std::string_view phrase) { return line.find(phrase) != line.npos; });
}

std::vector<std::string> FailureLines(std::string_view output) {
  std::vector<std::string> lines = ReportLines(output);
  std::erase_if(lines, [](const std::string& line) { return !IsFailureLine(line); });
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

std::string ExitDescription(int exitCode, bool exitedNormally) {
  if (!exitedNormally) return text::kConverterCrashed;
  if (exitCode == 0) return {};
  // The converter's codes are -1, -2 and -3; the exit status keeps their low eight bits.
  const int code = exitCode > 127 ? exitCode - 256 : exitCode;
  const char* meaning = code == -1   ? text::kExitConnection
                        : code == -2 ? text::kExitFileOpen
                        : code == -3 ? text::kExitFileRead
                                     : nullptr;
  char buffer[256];
  if (meaning != nullptr) {
    std::snprintf(buffer, sizeof buffer, text::kExitCodeMeaningFormat, code, meaning);
  } else {
    std::snprintf(buffer, sizeof buffer, text::kExitCodeFormat, code);
  }
  return buffer;
}

}  // namespace tarnvel::gui
