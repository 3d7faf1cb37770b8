#include "gui/large_file.h"

#include <cstdio>

#include "gui/text_fields.h"

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
  return LeadingDigits(text);
}

}  // namespace tarnvel::gui
