#include "gui/listing_parser.h"

#include "converter/console_wording.h"
#include "gui/channel_table.h"
#include "gui/failure_counter.h"
#include "gui/text_fields.h"
#include "text/leading_number.h"
#include "text/text_case.h"

namespace tarnvel::gui {
namespace {

constexpr std::string_view kNotFoundPrefix = wording::kNotFoundInSitechan;
constexpr std::string_view kRateDiffersPrefix = wording::kSpsDiffersFromSitechan;
constexpr std::string_view kCodes = wording::kCodeSeparator;

// "STA::CH::LC ...": two "::" separators before the first blank.
bool IsChannelLine(std::string_view line) {
  const std::string_view codes = line.substr(0, line.find(' '));
  const auto first = codes.find(kCodes);
  return first != std::string_view::npos &&
         codes.find(kCodes, first + kCodes.size()) != std::string_view::npos;
}

ChannelInfo* FindChannel(ChannelInfoList& channels, const ChannelKey& key) {
  for (auto& info : channels) {
    if (SameChannelIgnoringCase(info, key)) return &info;
  }
  return nullptr;
}

// The codes "STA::CH::LC" at the start of `rest`, the location up to `locationEnd`.
ChannelKey TakeCodes(std::string_view& rest, std::string_view locationEnd) {
  ChannelKey key;
  key.station = TakeField(rest, kCodes);
  key.channel = TakeField(rest, kCodes);
  key.location = TakeField(rest, locationEnd);
  return key;
}

void HandleNotFound(std::string_view rest, ChannelInfoList& channels) {
  if (auto* info = FindChannel(channels, TakeCodes(rest, "\r"))) info->inSitechan = false;
}

void HandleRateDiffers(std::string_view rest, ChannelInfoList& channels) {
  if (auto* info = FindChannel(channels, TakeCodes(rest, " "))) {
    info->sitechanRate = LeadingDecimal(rest);
  }
}

void HandleChannelLine(std::string_view line, ChannelInfoList& channels, std::string& resultsText) {
  std::string_view shown = line;
  if (!shown.empty() && shown.back() == '\r') shown.remove_suffix(1);
  resultsText.append(shown);
  resultsText.append("\r\n");

  std::string_view rest = line;
  ChannelInfo info;
  info.station = ChannelCode(TakeField(rest, kCodes));
  info.channel = ChannelCode(TakeField(rest, kCodes));
  info.location = ChannelCode(TakeField(rest, " "));
  info.begin = LeadingDecimal(TakeField(rest, wording::kSpanSeparator));
  info.end = LeadingDecimal(TakeField(rest, " "));
  info.sampleRate = LeadingDecimal(rest);
  info.inSitechan = true;
  info.sitechanRate = -1.0;
  channels.push_back(std::move(info));
}

}  // namespace

void ParseListingOutput(std::string_view output, ChannelInfoList& channels,
                        std::string& resultsText) {
  std::string_view rest = output;
  while (!rest.empty()) {
    const std::string_view line = TakeField(rest, "\n");
    if (line.empty() || IsFailureLine(line)) continue;
    if (StartsWithIgnoreCase(line, kNotFoundPrefix)) {
      HandleNotFound(line.substr(kNotFoundPrefix.size()), channels);
    } else if (StartsWithIgnoreCase(line, kRateDiffersPrefix)) {
      HandleRateDiffers(line.substr(kRateDiffersPrefix.size()), channels);
    } else if (IsChannelLine(line)) {
      HandleChannelLine(line, channels, resultsText);
    }
  }
}

}  // namespace tarnvel::gui
