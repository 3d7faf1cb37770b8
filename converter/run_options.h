// What the converter's command line yields.
#pragma once

#include <cstdint>
#include <string>

namespace tarnvel {

struct RunOptions {
  std::string seedPath;
  std::string odbc;  // final values come from the settings reader
  std::string user;
  std::string password;
  std::string dataDir;
  bool infoMode = false;
  std::int64_t viewLimit = 10485760;  // bytes; wider than 32 bits so -i=2048 and more fit
  bool cssRequested = false;
  bool useTend = false;
};

}  // namespace tarnvel
