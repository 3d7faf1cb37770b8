#include "gui/run_summary.h"

#include <cstdio>

#include "gui/failure_counter.h"
#include "gui/messages.h"

namespace tarnvel::gui {

std::string ConversionSummary(const std::string& shownCommandLine) {
  return std::string(text::kSummaryPrefix) + shownCommandLine + "\r\n";
}

std::string FailureLinesText(std::string_view output) {
  std::string text;
  for (const std::string_view line : FailureLines(output)) text.append(line).append("\r\n");
  return text;
}

std::string CompletionMessage(int failures) {
  if (failures <= 0) return text::kSuccess;
  char buffer[128];
  std::snprintf(buffer, sizeof buffer, text::kFailureFormat, failures);
  return buffer;
}

}  // namespace tarnvel::gui
