// The values the settings reader resolves: what the store connects with, and the converter's
// own values.
#pragma once

#include <optional>
#include <string>

#include "settings/css_request.h"
#include "settings/data_directory.h"

namespace tarnvel {

struct ResolvedSettings {
  std::string odbc;
  std::string user;
  std::string password;
  DataDirectory dataDir{""};
  bool useTend = false;
  // Whether the store syncs its files before committing their rows, and a CSS conversion its
  // data files and wfdisc file (off only with TARNVEL_NO_SYNC=1, for tests).
  bool syncFiles = true;
};

// What the converter runs with, resolved once.
struct ConverterSettings {
  ResolvedSettings connection;
  // "BLOCK_SIZE" of tarnvel.ini: the length every record is read at, or std::nullopt (the
  // default, -1) to detect it from the file. Other numbers are taken as they stand: one below 1
  // or from 65000 leaves the run without records.
  std::optional<int> recordLength;
  CssRequest css;
};

}  // namespace tarnvel
