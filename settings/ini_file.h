// Private-profile ini lookups: sections and keys compared without regard to case, blanks and
// surrounding quotes removed from values, first match wins, the caller's buffer size honoured.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tarnvel {

// The value of key in section of the file at path, or `fallback` when the file, section or key
// is missing. The result is cut to bufferSize - 1 characters, as a fixed buffer would hold it.
std::string GetProfileString(std::string_view section, std::string_view key,
                             std::string_view fallback, std::size_t bufferSize,
                             const std::string& path);

// The leading decimal digits of the value (optionally signed) as an integer; `fallback` when
// the file, section or key is missing; 0 for a value without leading digits.
int GetProfileInt(std::string_view section, std::string_view key, int fallback,
                  const std::string& path);

}  // namespace tarnvel
