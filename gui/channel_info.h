// One channel of a SEED file as a listing run of the converter reports it, and the row the
// operator picks from the channel table.
#pragma once

#include <string>
#include <vector>

#include "seed/channel_key.h"

namespace tarnvel::gui {

// Its codes as the converter printed them (found again without regard to case).
struct ChannelInfo : ChannelKey {
  double begin = 0.0;  // epoch seconds, UTC
  double end = 0.0;
  double sampleRate = 0.0;
  double sitechanRate = -1.0;  // the rate SITECHAN holds when it differs; -1.0 otherwise
  bool inSitechan = true;
};

using ChannelInfoList = std::vector<ChannelInfo>;

struct ChannelChoice : ChannelKey {
  double begin = 0.0;
  double end = 0.0;
};

}  // namespace tarnvel::gui
