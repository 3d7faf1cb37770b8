// The converter's command lines for a listing run and a conversion run. Each line is kept in
// two forms built side by side: the text as an operator would type it (quoted pieces, used for
// the length limits and the results summary) and the argument list the converter receives
// (the same pieces with their quotes removed, so values holding blanks stay whole). The
// database password is never an argument: any user of the machine can read a process's
// arguments, so it travels in the converter's environment, and the shown text holds
// "password=***" in its place.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "settings/resolved_settings.h"

namespace tarnvel::gui {

inline constexpr std::string_view kConverterName = "tarnvel";

// A date and time from the pickers, UTC, whole minutes.
struct PickerTime {
  bool set = false;  // the checkbox beside the pickers is ticked
  int year = 1970;
  int month = 1;
  int day = 1;
  int hour = 0;
  int minute = 0;
};

struct ChannelBoxes {
  std::string station;
  std::string channel;
  std::string location;
};

struct CommandLine {
  std::string text;       // the whole line the converter receives, program first
  std::string shownText;  // the same with " password=***" among the connection values
  std::string program;
  std::vector<std::string> arguments;
  std::string password;  // for the converter's environment
};

// " beg=\"hh:mm:00-dd.mm.yyyy\"" for key "beg"; empty when the time is not set.
std::string TimeArgumentText(std::string_view key, const PickerTime& time);

// The converter beside the GUI: `guiFolder` is the GUI's own folder with or without its
// trailing separator; an empty folder gives the bare name.
std::string ConverterPathIn(std::string_view guiFolder);

// "{folder}tarnvel \"{seed}\"", the channel filter unquoted (station, then channel, then
// location, each only while the one before is not "*"), the time arguments, then " -i" or
// " -i=N" for a view limit N above 0.
CommandLine BuildListingCommand(std::string_view converterPath, std::string_view seedPath,
                                const ChannelBoxes& boxes, const PickerTime& begin,
                                const PickerTime& end, int viewLimitMb);

// " odbc=%s user=%s data=\"%s\"" on the line, " odbc=%s user=%s password=*** data=\"%s\"" in
// the shown text, and the password kept for the environment.
void AppendConnection(CommandLine& line, const ResolvedSettings& connection);

// "\"{converter}\" \"{seed}\"", [" css=\"{wfdisc}\""], " \"STA:CH:LC\"", the time arguments,
// then the connection values.
CommandLine BuildConversionCommand(std::string_view converterPath, std::string_view seedPath,
                                   const std::optional<std::string>& wfdiscPath,
                                   const ChannelBoxes& boxes, const PickerTime& begin,
                                   const PickerTime& end, const ResolvedSettings& connection);

}  // namespace tarnvel::gui
