// Cell texts of the channel table.
#pragma once

#include <string>
#include <string_view>

#include "gui/channel_info.h"

namespace tarnvel::gui {

// A station, channel or location as a ChannelInfo and a choice hold it: its first 7 characters.
std::string ChannelCode(std::string_view text);

// "dd/mm/yyyy hh:mm" of the UTC time, cut to whole seconds.
std::string TableTime(double epochSeconds);
// "%.2f".
std::string TableRate(double rate);
// The SITECHAN column: "Нет" for a channel missing there, the SITECHAN rate when it was
// reported as different and above 0, "Есть" otherwise.
std::string DatabaseCell(const ChannelInfo& info);

}  // namespace tarnvel::gui
