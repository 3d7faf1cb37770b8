#include "check/check_options.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "converter/command_line.h"
#include "converter/filter_patterns.h"
#include "settings/settings_reader.h"
#include "text/text_case.h"

namespace tarnvel::check {

const char kUsage[] =
    "Usage: tarnvel-check [ODBC=dsn] [USER=user] [PASSWORD=pw] [DATA=dir]\n"
    "                     [BEG=hh:MM:ss-dd.mm.yyyy] [END=...|QTY=seconds] [STA:CH:LC ...]\n"
    "                     [--repair] [--register-orphans] [--coverage] [--json]\n"
    "Checks every FILELIST row of the selection against its waveform file, and what lies\n"
    "below the data directory. Exit: 0 clean, 1 problems, 2 wrong arguments, 255 connection\n"
    "failed, 254 data directory unreadable. See tarnvel-check(1).\n";

namespace {

constexpr std::array<std::string_view, 6> kHelpArguments = {"--help", "-help", "-h",
                                                            "/h",     "-?",    "/?"};

ParseResult Error(std::string message) {
  return ParseResult{ParseOutcome::kArgumentError, std::move(message)};
}

}  // namespace

ParseResult ParseCheckCommandLine(const std::vector<std::string>& args, CheckOptions& options) {
  bool endGiven = false;
  for (std::size_t position = 1; position < args.size(); ++position) {
    const std::string& arg = args[position];
    if (IsSettingsArgument(arg)) {
      // Read by the settings reader.
    } else if (std::any_of(kHelpArguments.begin(), kHelpArguments.end(),
                           [&arg](std::string_view help) { return EqualsIgnoreCase(arg, help); })) {
      return ParseResult{ParseOutcome::kHelp, {}};
    } else if (arg == "--repair") {
      options.repair = true;
    } else if (arg == "--register-orphans") {
      options.repair = true;
      options.registerOrphans = true;
    } else if (arg == "--coverage") {
      options.coverage = true;
    } else if (arg == "--json") {
      options.json = true;
    } else if (arg.rfind("-", 0) == 0) {
      return Error("Unknown option: " + arg + "\n");
    } else if (IsWindowArgument(arg)) {
      if (auto error = ApplyWindowArgument(arg, options.window, endGiven)) {
        return Error(error->message);
      }
    } else if (!AppendChannelFilter(arg, options.filter)) {
      return Error(TooLongMessage(arg, filter_pattern::kMaxLength));
    }
  }
  return ParseResult{};
}

}  // namespace tarnvel::check
