// Cell texts of the channel table.
#pragma once

#include <string>

#include "gui/channel_info.h"

namespace tarnvel::gui {

// "dd/mm/yyyy hh:mm" of the UTC time, cut to whole seconds.
std::string TableTime(double epochSeconds);
// "%.2f".
std::string TableRate(double rate);
// The SITECHAN column: "Нет" for a channel missing there, the SITECHAN rate when it was
// reported as different and above 0, "Есть" otherwise.
std::string DatabaseCell(const ChannelInfo& info);

}  // namespace tarnvel::gui
