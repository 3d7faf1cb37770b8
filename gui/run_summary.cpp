#include "gui/run_summary.h"

#include <cstdio>

#include "gui/messages.h"

namespace tarnvel::gui {

std::string ConversionSummary(const std::string& shownCommandLine) {
  return std::string(text::kSummaryPrefix) + shownCommandLine + "\r\n";
}

std::string CompletionMessage(int failures) {
  if (failures <= 0) return text::kSuccess;
  char buffer[128];
  std::snprintf(buffer, sizeof buffer, text::kFailureFormat, failures);
  return buffer;
}

}  // namespace tarnvel::gui
