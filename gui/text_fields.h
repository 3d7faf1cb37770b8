// Small text helpers shared by the output parsers: case-insensitive prefixes, fields up to a
// separator, numbers read from leading characters.
#pragma once

#include <cstddef>
#include <string_view>

namespace tarnvel::gui {

bool StartsWithNoCase(std::string_view text, std::string_view prefix);
bool EqualsNoCase(std::string_view a, std::string_view b);

// The text before the first `separator` in `rest`; `rest` moves past the separator. Without a
// separator the whole rest is the field and `rest` becomes empty.
std::string_view TakeField(std::string_view& rest, std::string_view separator);

// The longest leading decimal number after optional blanks, as the C library's atof reads it
// (but independent of the locale's decimal point); 0 when there is none.
double LeadingNumber(std::string_view text);

// Characters of a UTF-8 text (code points; a stray continuation byte counts as one).
std::size_t CharacterCount(std::string_view utf8);
// The first `count` characters of a UTF-8 text, never cutting one in half.
std::string_view FirstCharacters(std::string_view utf8, std::size_t count);

// The integer made of the leading decimal digits; 0 when there are none. Saturates at the
// largest int instead of overflowing.
int LeadingDigits(std::string_view text);

}  // namespace tarnvel::gui
