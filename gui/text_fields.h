// Small text helpers of the dialog program: fields up to a separator, UTF-8 characters.
#pragma once

#include <cstddef>
#include <string_view>

namespace tarnvel::gui {

// The text before the first `separator` in `rest`; `rest` moves past the separator. Without a
// separator the whole rest is the field and `rest` becomes empty.
std::string_view TakeField(std::string_view& rest, std::string_view separator);

// Characters of a UTF-8 text (code points; a stray continuation byte counts as one).
std::size_t CharacterCount(std::string_view utf8);
// The first `count` characters of a UTF-8 text, never cutting one in half.
std::string_view FirstCharacters(std::string_view utf8, std::size_t count);

}  // namespace tarnvel::gui
