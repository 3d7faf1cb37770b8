// Numbers read from the leading characters of a text, as the C library's atoi and atof read
// them, but independent of the locale and without words such as "inf".
#pragma once

#include <string_view>

namespace tarnvel {

// Optional blanks and sign, then digits; 0 without digits; saturates at the int range.
int LeadingInteger(std::string_view text);

// Optional blanks and sign, digits with an optional fraction and exponent; 0 without digits
// (so also for "inf", "nan" and hexadecimal forms). Out of range: an infinity, or 0 when tiny.
double LeadingDecimal(std::string_view text);

}  // namespace tarnvel
