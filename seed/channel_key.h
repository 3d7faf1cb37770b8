// A channel's identity and the rules every part of the program applies to its codes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "text/text_case.h"

namespace tarnvel {

// How a blank location code is held from decoding on ("?\?": no trigraph warning).
inline constexpr std::string_view kBlankLocation = "?\?";

// A location that names none: empty or "??". Statements match it to "??" and to NULL alike.
constexpr bool IsBlankLocation(std::string_view location) {
  return location.empty() || location == kBlankLocation;
}

// A code usable as one file name component: printable ASCII other than separators and ':' (a
// drive on some systems) and '.', not empty.
constexpr bool IsSafeCode(std::string_view code) {
  // No '.' either: the lock file "<STA>.<CH>.lock" must name one channel only.
  if (code.empty()) return false;
  for (const char c : code) {
    if (c <= ' ' || c >= '\x7f' || c == '/' || c == '\\' || c == ':' || c == '.') return false;
  }
  return true;
}

// Station and channel safe codes, the location blank or safe.
constexpr bool HasSafeCodes(std::string_view station, std::string_view channel,
                            std::string_view location) {
  return IsSafeCode(station) && IsSafeCode(channel) && (location.empty() || IsSafeCode(location));
}

// The longest codes the store keeps: the widths of SEED 2's header fields, which FILELIST,
// SITECHAN, the waveform files and the wfdisc lines are made for.
inline constexpr std::size_t kLongestStation = 5;
inline constexpr std::size_t kLongestChannel = 3;
inline constexpr std::size_t kLongestLocation = 2;

// Safe codes no longer than the store keeps them.
constexpr bool HasStorableCodes(std::string_view station, std::string_view channel,
                                std::string_view location) {
  return HasSafeCodes(station, channel, location) && station.size() <= kLongestStation &&
         channel.size() <= kLongestChannel && location.size() <= kLongestLocation;
}

struct ChannelKey {
  std::string station;   // at most 5 characters
  std::string channel;   // at most 3 characters
  std::string location;  // at most 2 characters, "??" for a blank location

  bool HasLocation() const { return !IsBlankLocation(location); }
  bool HasSafeCodes() const { return tarnvel::HasSafeCodes(station, channel, location); }
  // ASCII letters to upper case, as the store and CSS files name channels.
  void ToUpperCase() {
    for (std::string* code : {&station, &channel, &location}) *code = ToUpperAscii(*code);
  }
};

}  // namespace tarnvel
