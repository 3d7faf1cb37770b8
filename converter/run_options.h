// What the converter's command line yields, and the run's whole configuration.
#pragma once

#include <cstdint>
#include <string>

#include "converter/wfdisc_path.h"
#include "settings/resolved_settings.h"

namespace tarnvel {

struct RunOptions {
  std::string seedPath;
  bool infoMode = false;
  std::int64_t viewLimit = 10485760;  // bytes; wider than 32 bits so -i=2048 and more fit
  bool cssRequested = false;
};

// Everything a run is configured with, settled before the database is contacted.
struct RunConfiguration {
  RunOptions options;
  ConverterSettings settings;
  WfdiscTarget wfdisc;
};

}  // namespace tarnvel
