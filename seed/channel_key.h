// A channel's identity and the rules every part of the program applies to its codes.
#pragma once

#include <string>
#include <string_view>

namespace tarnvel {

// How a blank location code is held from decoding on. ("?\?" keeps "??" from reading as a
// trigraph to the compiler's warnings.)
inline constexpr std::string_view kBlankLocation = "?\?";

// A location that names none: empty or "??". Statements match such a location to "??" and to
// NULL alike.
constexpr bool IsBlankLocation(std::string_view location) {
  return location.empty() || location == kBlankLocation;
}

// True for a code usable as one file name component: printable ASCII other than separators and
// ':' (a drive on some systems), neither empty nor "." or "..".
bool IsSafeCode(std::string_view code);

// Station and channel safe codes, the location blank or safe.
bool HasSafeCodes(std::string_view station, std::string_view channel, std::string_view location);

struct ChannelKey {
  std::string station;   // at most 5 characters
  std::string channel;   // at most 3 characters
  std::string location;  // at most 2 characters, "??" for a blank location

  bool HasLocation() const { return !IsBlankLocation(location); }
  bool HasSafeCodes() const { return tarnvel::HasSafeCodes(station, channel, location); }
  // ASCII letters of every code to upper case, as the store and CSS files name channels.
  void ToUpperCase();
};

}  // namespace tarnvel
