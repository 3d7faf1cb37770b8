// Reads the converter's information-mode output into the channel table.
#pragma once

#include <string>
#include <string_view>

#include "gui/channel_info.h"

namespace tarnvel::gui {

// Handles every line of `output` (split at line feeds, empty pieces dropped): channel lines
// ("STA::CH::LC begin - end rate") append a ChannelInfo, its codes cut to 7 characters, and
// their text plus "\r\n" to `resultsText`; "Not found in SITECHAN: " and "SPS differs from
// SITECHAN: " lines update the first listed channel they name. The converter's error lines and
// any other text are no channels and are passed over. A channel line without its later
// separators leaves the missing fields empty or 0.
void ParseListingOutput(std::string_view output, ChannelInfoList& channels,
                        std::string& resultsText);

}  // namespace tarnvel::gui
