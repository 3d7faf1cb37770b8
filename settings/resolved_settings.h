// The values the settings reader resolves: what the store connects with, and the converter's
// own values.
#pragma once

#include <string>

namespace tarnvel {

struct ResolvedSettings {
  std::string odbc;
  std::string user;
  std::string password;
  std::string dataDir;  // always with '/' separators
  bool useTend = false;
  // Whether the store syncs its files before committing their rows, and a CSS conversion its
  // data files and wfdisc file (off only with TARNVEL_NO_SYNC=1, for tests).
  bool syncFiles = true;
};

// What the converter runs with, resolved once.
struct ConverterSettings {
  ResolvedSettings connection;
  std::string blockSize;   // "BLOCK_SIZE" of tarnvel.ini, at most three characters; "-1" when none
  std::string cssRequest;  // the "CSS" value: see ResolveCssRequest
};

}  // namespace tarnvel
