#include "gui/large_file.h"

#include <cstdio>

#include "text/leading_number.h"

namespace tarnvel::gui {

bool IsLargeFile(std::int64_t sizeBytes) {
  return sizeBytes >= kLargeFileBytes;
}

std::string MegabytesText(std::int64_t sizeBytes) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%ld МБайт", static_cast<long>(sizeBytes / 1048576));
  return buffer;
}

int ViewLimitFromText(std::string_view text) {
  return LeadingInteger(text);
}

}  // namespace tarnvel::gui
