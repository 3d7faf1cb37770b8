// What the station, channel and location boxes may hold: the converter's channel filter takes
// ASCII codes of at most seven bytes with the wildcards "*" and "?". A letter that only looks
// Latin (a Cyrillic "С" for "C") would pass the filter a code no file holds, and a Cyrillic
// letter is two bytes the converter counts against the limit: the boxes take neither.
#pragma once

#include <QString>
#include <optional>
#include <string>

#include "gui/command_line.h"

class QValidator;
class QObject;

namespace tarnvel::gui {

// The characters an operator may type: ASCII letters and digits, "*" and "?".
bool IsTypedPatternCharacter(QChar c);

// A validator admitting only typed pattern characters, at most the filter's length; a box that
// has it refuses any other key or pasted text as it is typed.
QValidator* NewChannelPatternValidator(QObject* parent);

// The message refusing a run whose boxes the converter's filter cannot take as they stand (a
// row of the channel table may bring codes with other printable ASCII, which pass): a character
// outside printable ASCII or one of the filter's separators, or a pattern longer than the
// filter's limit. Empty when all three pass.
std::optional<std::string> CheckChannelBoxes(const ChannelBoxes& boxes);

// An empty box stands for "*", as it would when left out of the filter argument: passed on
// empty, the next field would slide into its place.
ChannelBoxes WithEmptyBoxesAsAll(ChannelBoxes boxes);

}  // namespace tarnvel::gui
