// The patterns of a channel filter argument "STA:CH:LC[,STA:CH:LC...]" as the converter takes
// them: the dialog program builds that argument from its three boxes and keeps to the same rules.
#pragma once

#include <cstddef>
#include <string_view>

namespace tarnvel::filter_pattern {

// Bytes of each station, channel and location pattern; a longer one refuses the argument.
inline constexpr std::size_t kMaxLength = 7;

// "*": the characters before it must begin a longer code; "?": any one character of a station
// or channel code (in a location it stands for itself, as in a blank location "??").
inline constexpr char kAnyRest = '*';
inline constexpr char kAnyOne = '?';

// Between the entries of one argument, and between the three fields of an entry.
inline constexpr std::string_view kEntrySeparators = ",;";
inline constexpr std::string_view kFieldSeparators = ":";

}  // namespace tarnvel::filter_pattern
