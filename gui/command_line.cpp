#include "gui/command_line.h"

#include <cstdio>

#include "text/text_case.h"

namespace tarnvel::gui {
namespace {

void AppendQuoted(CommandLine& line, std::string_view prefix, std::string_view value) {
  line.text.append(" ").append(prefix).append("\"").append(value).append("\"");
  line.shownText.append(" ").append(prefix).append("\"").append(value).append("\"");
  line.arguments.push_back(std::string(prefix) + std::string(value));
}

void AppendPlain(CommandLine& line, std::string_view piece) {
  line.text.append(" ").append(piece);
  line.shownText.append(" ").append(piece);
  line.arguments.emplace_back(piece);
}

std::string TimeValue(const PickerTime& time) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d-%02d.%02d.%02d", time.hour, time.minute, 0,
                time.day, time.month, time.year);
  return buffer;
}

void AppendTimes(CommandLine& line, const PickerTime& begin, const PickerTime& end) {
  if (begin.set) AppendQuoted(line, "beg=", TimeValue(begin));
  if (end.set) AppendQuoted(line, "end=", TimeValue(end));
}

bool IsAll(std::string_view pattern) {
  return EqualsIgnoreCase(pattern, "*");
}

}  // namespace

std::string TimeArgumentText(std::string_view key, const PickerTime& time) {
  if (!time.set) return {};
  return " " + std::string(key) + "=\"" + TimeValue(time) + "\"";
}

std::string ConverterPathIn(std::string_view guiFolder) {
  std::string path(guiFolder);
  if (!path.empty() && path.back() != '/' && path.back() != '\\') path.push_back('/');
  return path + std::string(kConverterName);
}

CommandLine BuildListingCommand(std::string_view converterPath, std::string_view seedPath,
                                const ChannelBoxes& boxes, const PickerTime& begin,
                                const PickerTime& end, int viewLimitMb) {
  CommandLine line;
  line.program = std::string(converterPath);
  line.text = line.program;
  line.shownText = line.program;
  AppendQuoted(line, "", seedPath);
  if (!IsAll(boxes.station)) {
    std::string filter = boxes.station;
    if (!IsAll(boxes.channel)) {
      filter += ":" + boxes.channel;
      if (!IsAll(boxes.location)) filter += ":" + boxes.location;
    }
    AppendPlain(line, filter);
  }
  AppendTimes(line, begin, end);
  AppendPlain(line, viewLimitMb > 0 ? "-i=" + std::to_string(viewLimitMb) : std::string("-i"));
  return line;
}

void AppendConnection(CommandLine& line, const ResolvedSettings& connection) {
  line.arguments.push_back("odbc=" + connection.odbc);
  line.arguments.push_back("user=" + connection.user);
  line.arguments.push_back("data=" + connection.dataDir.Setting());
  const std::string head = " odbc=" + connection.odbc + " user=" + connection.user;
  const std::string tail = " data=\"" + connection.dataDir.Setting() + "\"";
  line.text += head + tail;
  line.shownText += head + " password=***" + tail;
  line.password = connection.password;
}

CommandLine BuildConversionCommand(std::string_view converterPath, std::string_view seedPath,
                                   const std::optional<std::string>& wfdiscPath,
                                   const ChannelBoxes& boxes, const PickerTime& begin,
                                   const PickerTime& end, const ResolvedSettings& connection) {
  CommandLine line;
  line.program = std::string(converterPath);
  line.text = "\"" + line.program + "\"";
  line.shownText = line.text;
  AppendQuoted(line, "", seedPath);
  if (wfdiscPath) AppendQuoted(line, "css=", *wfdiscPath);
  AppendQuoted(line, "", boxes.station + ":" + boxes.channel + ":" + boxes.location);
  AppendTimes(line, begin, end);

  AppendConnection(line, connection);
  return line;
}

}  // namespace tarnvel::gui
