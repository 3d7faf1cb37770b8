#include "gui/channel_patterns.h"

#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <cstdio>
#include <vector>

#include "converter/filter_patterns.h"
#include "gui/messages.h"
#include "gui/run_limits.h"
#include "gui/text_fields.h"

namespace tarnvel::gui {
namespace {

bool FilterTakes(char c) {
  const auto byte = static_cast<unsigned char>(c);
  if (byte <= ' ' || byte >= 0x7f) return false;
  return filter_pattern::kEntrySeparators.find(c) == std::string_view::npos &&
         filter_pattern::kFieldSeparators.find(c) == std::string_view::npos;
}

std::string BadCharacterMessage(std::string_view box, std::string_view character) {
  const std::string name(box);
  const std::string shown(character);
  const int size =
      std::snprintf(nullptr, 0, text::kBadPatternCharacterFormat, shown.c_str(), name.c_str());
  std::vector<char> buffer(static_cast<std::size_t>(size) + 1);
  std::snprintf(buffer.data(), buffer.size(), text::kBadPatternCharacterFormat, shown.c_str(),
                name.c_str());
  return buffer.data();
}

}  // namespace

bool IsTypedPatternCharacter(QChar c) {
  const char16_t u = c.unicode();
  return (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') ||
         u == filter_pattern::kAnyRest || u == filter_pattern::kAnyOne;
}

QValidator* NewChannelPatternValidator(QObject* parent) {
  const QRegularExpression pattern(
      QStringLiteral("[A-Za-z0-9*?]{0,%1}").arg(filter_pattern::kMaxLength));
  return new QRegularExpressionValidator(pattern, parent);
}

std::optional<std::string> CheckChannelBoxes(const ChannelBoxes& boxes) {
  const struct {
    const char* name;
    const std::string& value;
  } named[] = {{text::kStationBox, boxes.station},
               {text::kChannelBox, boxes.channel},
               {text::kLocationBox, boxes.location}};
  for (const auto& box : named) {
    for (std::size_t at = 0; at < box.value.size(); ++at) {
      if (!FilterTakes(box.value[at])) {
        return BadCharacterMessage(box.name,
                                   FirstCharacters(std::string_view(box.value).substr(at), 1));
      }
    }
  }
  return CheckLengths({{text::kStationName, boxes.station, filter_pattern::kMaxLength},
                       {text::kChannelName, boxes.channel, filter_pattern::kMaxLength},
                       {text::kLocationName, boxes.location, filter_pattern::kMaxLength}});
}

ChannelBoxes WithEmptyBoxesAsAll(ChannelBoxes boxes) {
  for (std::string* box : {&boxes.station, &boxes.channel, &boxes.location}) {
    if (box->empty()) *box = "*";
  }
  return boxes;
}

}  // namespace tarnvel::gui
