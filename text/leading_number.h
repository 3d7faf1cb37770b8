// Numbers read from the leading characters of a text, as the C library's atoi and atof read
// them, but independent of the locale and without words such as "inf".
#pragma once

#include <string_view>

namespace tarnvel {

// The leading decimal integer: optional blanks and sign, then digits; 0 when there are no
// digits. Values beyond the int range saturate.
int LeadingInteger(std::string_view text);

// The leading plain decimal number: optional blanks and sign, digits with an optional fraction
// and exponent; 0 when there is none. Words such as "inf" or "nan" and hexadecimal forms are not
// numbers here; a value beyond the double range gives an infinity (or 0 when too small).
double LeadingDecimal(std::string_view text);

}  // namespace tarnvel
