#include "gui/channel_table.h"

#include <cstdio>

#include "gui/text_fields.h"
#include "gui/utc_time.h"

namespace tarnvel::gui {

std::string ChannelCode(std::string_view text) {
  constexpr std::size_t kMaxCodeCharacters = 7;
  return std::string(FirstCharacters(text, kMaxCodeCharacters));
}

std::string TableTime(double epochSeconds) {
  const UtcFields t = UtcFieldsOf(epochSeconds);
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%02d/%02d/%04d %02d:%02d", t.day, t.month, t.year, t.hour,
                t.minute);
  return buffer;
}

std::string TableRate(double rate) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.2f", rate);
  return buffer;
}

std::string DatabaseCell(const ChannelInfo& info) {
  if (!info.inSitechan) return "Нет";
  if (info.sitechanRate > 0) return TableRate(info.sitechanRate);
  return "Есть";
}

}  // namespace tarnvel::gui
