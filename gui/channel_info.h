// One channel of a SEED file as a listing run of the converter reports it, and the row the
// operator picks from the channel table.
#pragma once

#include <string>
#include <vector>

namespace tarnvel::gui {

struct ChannelInfo {
  std::string station;
  std::string channel;
  std::string location;
  double begin = 0.0;  // epoch seconds, UTC
  double end = 0.0;
  double sampleRate = 0.0;
  double sitechanRate = -1.0;  // the rate SITECHAN holds when it differs; -1.0 otherwise
  bool inSitechan = true;
};

using ChannelInfoList = std::vector<ChannelInfo>;

struct ChannelChoice {
  std::string station;
  std::string channel;
  std::string location;
  double begin = 0.0;
  double end = 0.0;
};

}  // namespace tarnvel::gui
