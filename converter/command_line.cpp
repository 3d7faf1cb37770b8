#include "converter/command_line.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string_view>

#include "converter/console_wording.h"
#include "converter/filter_patterns.h"
#include "seed/time_conversion.h"
#include "settings/settings_reader.h"
#include "text/leading_number.h"
#include "text/text_case.h"

namespace tarnvel {
namespace {

constexpr std::size_t kMaxTimeValueLength = 31;
constexpr std::int64_t kBytesPerMegabyte = 1048576;

constexpr std::array<std::string_view, 10> kHelpArguments = {
    "--help", "-help", "/help", "help", "--h", "-h", "/h", "--?", "-?", "/?"};

constexpr const char* kBeginTimeMessage = "Incorrect begin time. Use: [hh:MM:ss-dd.mm.yyyy]\n";
constexpr const char* kEndTimeMessage = "Incorrect end time. Use: [hh:MM:ss-dd.mm.yyyy]\n";
constexpr const char* kTwoEndsMessage = "TEND and TQTY has been found\n";
constexpr const char* kQuantityWithoutBeginMessage = "TQTY without TBEGIN\n";

// The non-empty runs of `text` between any of the characters of `separators`.
std::vector<std::string_view> SplitSkippingEmpty(std::string_view text,
                                                 std::string_view separators) {
  std::vector<std::string_view> pieces;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t end = text.find_first_of(separators, pos);
    const std::size_t stop = end == std::string_view::npos ? text.size() : end;
    if (stop > pos) pieces.push_back(text.substr(pos, stop - pos));
    pos = stop + 1;
  }
  return pieces;
}

std::string TooLongMessage(const std::string& argument, std::size_t limit) {
  const int size =
      std::snprintf(nullptr, 0, "%s: %s (at most %d characters)\n", wording::kArgumentTooLong,
                    argument.c_str(), static_cast<int>(limit));
  std::string message(static_cast<std::size_t>(size) + 1, '\0');
  std::snprintf(message.data(), message.size(), "%s: %s (at most %d characters)\n",
                wording::kArgumentTooLong, argument.c_str(), static_cast<int>(limit));
  message.pop_back();
  return message;
}

ParseResult Error(std::string message) {
  return ParseResult{ParseOutcome::kArgumentError, std::move(message)};
}

// Parses the value of "beg=" or "end=" into `bound`; an error result when it is unusable.
std::optional<ParseResult> ParseWindowBound(const std::string& argument, const char* message,
                                            double& bound) {
  const std::string value = argument.substr(4);
  if (value.size() > kMaxTimeValueLength)
    return Error(TooLongMessage(argument, kMaxTimeValueLength));
  if (!ParseTimeValue(value, bound)) return Error(message);
  return std::nullopt;
}

}  // namespace

bool ParseTimeValue(const std::string& text, double& epoch) {
  const std::vector<std::string_view> tokens = SplitSkippingEmpty(text, ":-.");
  std::array<int, 6> fields = {0, 0, 0, 0, 0, 0};  // hour, minute, (second), day, month, year
  float second = 0.0f;
  const std::size_t used = std::min<std::size_t>(tokens.size(), fields.size());
  for (std::size_t i = 0; i < used; ++i) {
    if (i == 2) {
      second = static_cast<float>(LeadingDecimal(tokens[i]));
    } else {
      fields[i] = LeadingInteger(tokens[i]);
    }
  }
  const int hour = fields[0];
  const int minute = fields[1];
  const int day = fields[3];
  const int month = fields[4];
  const int year = fields[5];
  // The value is stored even when the check below then fails.
  epoch = CalendarToEpoch(year, month, day, hour, minute, second);
  return tokens.size() >= fields.size() && month >= 1 && month <= 12;
}

bool AppendChannelFilter(const std::string& spec, ChannelFilter& filter) {
  ChannelFilter entries;
  for (const std::string_view piece : SplitSkippingEmpty(spec, filter_pattern::kEntrySeparators)) {
    const std::vector<std::string_view> fields =
        SplitSkippingEmpty(piece, filter_pattern::kFieldSeparators);
    if (fields.empty()) continue;  // a piece of colons only names nothing
    ChannelFilterEntry entry{std::string(fields[0]), "*", "*"};
    if (fields.size() > 1) entry.channel = fields[1];
    if (fields.size() > 2) entry.location = fields[2];
    for (const std::string* pattern : {&entry.station, &entry.channel, &entry.location}) {
      if (pattern->size() > filter_pattern::kMaxLength) return false;
    }
    entries.push_back(std::move(entry));
  }
  filter.insert(filter.end(), entries.begin(), entries.end());
  return true;
}

ParseResult ParseCommandLine(const std::vector<std::string>& args, RunOptions& options,
                             TimeWindow& window, ChannelFilter& filter) {
  if (args.size() <= 1) return ParseResult{ParseOutcome::kHelp, {}};

  bool endGiven = false;
  for (std::size_t position = 1; position < args.size(); ++position) {
    const std::string& arg = args[position];
    if (IsSettingsArgument(arg)) {
      // Read by the settings reader.
    } else if (EqualsIgnoreCase(arg, "-i")) {
      options.infoMode = true;
    } else if (StartsWithIgnoreCase(arg, "-i=")) {
      options.infoMode = true;
      options.viewLimit =
          static_cast<std::int64_t>(LeadingInteger(arg.substr(3))) * kBytesPerMegabyte;
    } else if (StartsWithIgnoreCase(arg, "css")) {
      options.cssRequested = true;
    } else if (std::any_of(kHelpArguments.begin(), kHelpArguments.end(),
                           [&arg](std::string_view help) { return EqualsIgnoreCase(arg, help); })) {
      return ParseResult{ParseOutcome::kHelp, {}};
    } else if (StartsWithIgnoreCase(arg, "beg=")) {
      // The value is kept even when the check then fails.
      window.begin.emplace();
      if (auto error = ParseWindowBound(arg, kBeginTimeMessage, *window.begin)) return *error;
    } else if (StartsWithIgnoreCase(arg, "end=")) {
      if (endGiven) return Error(kTwoEndsMessage);
      endGiven = true;
      window.end.emplace();
      if (auto error = ParseWindowBound(arg, kEndTimeMessage, *window.end)) return *error;
    } else if (StartsWithIgnoreCase(arg, "qty=")) {
      if (endGiven) return Error(kTwoEndsMessage);
      endGiven = true;
      if (!window.begin) return Error(kQuantityWithoutBeginMessage);
      window.end = *window.begin + LeadingDecimal(std::string_view(arg).substr(4));
    } else if (position == 1) {
      if (arg != "?") options.seedPath = arg;
    } else if (!AppendChannelFilter(arg, filter)) {
      return Error(TooLongMessage(arg, filter_pattern::kMaxLength));
    }
  }
  return ParseResult{};
}

}  // namespace tarnvel
