// Length limits of what a run passes to the converter, in characters (a Cyrillic letter is one
// character, though two bytes of UTF-8). Values over a limit are refused with a message naming
// the value; nothing is shortened.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tarnvel::gui {

inline constexpr std::size_t kMaxSeedPath = 1023;
inline constexpr std::size_t kMaxListingCommand = 1023;
inline constexpr std::size_t kMaxConversionCommand = 4095;
inline constexpr std::size_t kMaxOdbc = 127;
inline constexpr std::size_t kMaxUser = 31;
inline constexpr std::size_t kMaxPassword = 31;
inline constexpr std::size_t kMaxDataDir = 1023;

struct NamedValue {
  std::string_view name;  // how the message names the value
  std::string_view value;
  std::size_t limit;  // in characters
};

// The message for the first value longer than its limit; empty when all fit.
std::optional<std::string> CheckLengths(std::initializer_list<NamedValue> values);

}  // namespace tarnvel::gui
