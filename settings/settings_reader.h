// Connection values, data directory and the converter's own values, resolved from the command
// line, tarnvel.ini beside the program (or, where there is none, the system folder's) and the
// QOR system's qor.ini, in that order.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "settings/resolved_settings.h"

namespace tarnvel {

// The database password may come from this environment variable instead of the command line,
// where every user of the machine could read it. It ranks after "PASSWORD=" and before the ini
// files.
inline constexpr char kPasswordVariable[] = "TARNVEL_PASSWORD";
// "1" switches the store's syncing off: for tests only, a power cut can then take away stored
// data.
inline constexpr char kNoSyncVariable[] = "TARNVEL_NO_SYNC";

// True for the arguments the reader takes from the command line ("ODBC=", "USER=", "PASSWORD=",
// "DATA=", "-use_tend", "/use_tend"), which are therefore no SEED path and no channel filter.
bool IsSettingsArgument(std::string_view arg);

class SettingsReader {
 public:
  // Reads an environment variable; std::nullopt when it is not set.
  using Environment = std::function<std::optional<std::string>(const char*)>;

  // args: the program's own arguments, args[0] being the program path as invoked.
  // systemFolder: where an installed program's tarnvel.ini lies when there is none beside the
  // program, and where qor.ini is looked for when neither QOR nor WINDIR names a folder.
  explicit SettingsReader(std::vector<std::string> args, Environment environment = {},
                          std::string systemFolder = "/etc");

  // The connection values and the data directory, resolved afresh from the command line and
  // both ini files at every call, so that edited files take effect.
  ResolvedSettings LoadAndGetSettings();
  // The same, with the converter's own values: the record length and the CSS request.
  ConverterSettings LoadConverterSettings();

  const std::string& LocalIniPath() const { return localIniPath_; }
  const std::string& QorIniPath() const { return qorIniPath_; }

 private:
  std::vector<std::string> args_;
  Environment environment_;
  std::string localIniPath_;
  std::string qorIniPath_;
  // Once a load has found the end-time switch on, later loads that do not decide it keep it on.
  bool useTend_ = false;
};

}  // namespace tarnvel
