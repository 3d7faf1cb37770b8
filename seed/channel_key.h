// A channel's identity and the rules every part of the program applies to its codes.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
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

  // Byte for byte, as rows and files name a channel.
  friend bool operator==(const ChannelKey&, const ChannelKey&) = default;
  friend auto operator<=>(const ChannelKey&, const ChannelKey&) = default;
};

// The location code as it is held from decoding on: "??" for a blank one (empty, as a field
// without a code or a null column reads, or "??" already), any other code as it stands.
inline std::string HeldLocation(std::string_view location) {
  return std::string(IsBlankLocation(location) ? kBlankLocation : location);
}

// Channels compared without regard to the case of ASCII letters, as records are filed into
// one channel's segments and as the dialog finds a channel the converter names. Equality,
// order and hash below agree: keys equal here are neither less than the other and hash alike.
namespace channel_key_detail {

// <0, 0 or >0 as `a` sorts before, with or after `b`, letters compared in upper case.
constexpr int CompareCodes(std::string_view a, std::string_view b) {
  const std::size_t n = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < n; ++i) {
    const auto x = static_cast<unsigned char>(ToUpperAscii(a[i]));
    const auto y = static_cast<unsigned char>(ToUpperAscii(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

}  // namespace channel_key_detail

// Station first, then channel, then location.
constexpr int CompareIgnoringCase(const ChannelKey& a, const ChannelKey& b) {
  using channel_key_detail::CompareCodes;
  if (const int c = CompareCodes(a.station, b.station); c != 0) return c;
  if (const int c = CompareCodes(a.channel, b.channel); c != 0) return c;
  return CompareCodes(a.location, b.location);
}

inline bool SameChannelIgnoringCase(const ChannelKey& a, const ChannelKey& b) {
  return a.station.size() == b.station.size() && a.channel.size() == b.channel.size() &&
         a.location.size() == b.location.size() && CompareIgnoringCase(a, b) == 0;
}

struct ChannelKeyEqualIgnoringCase {
  bool operator()(const ChannelKey& a, const ChannelKey& b) const {
    return SameChannelIgnoringCase(a, b);
  }
};

struct ChannelKeyLessIgnoringCase {
  bool operator()(const ChannelKey& a, const ChannelKey& b) const {
    return CompareIgnoringCase(a, b) < 0;
  }
};

// FNV-1a over the codes in upper case, each closed by a unit separator so that codes that
// only join alike ("AB"+"C", "A"+"BC") do not collide by construction.
struct ChannelKeyHashIgnoringCase {
  std::size_t operator()(const ChannelKey& key) const noexcept {
    std::uint64_t hash = 14695981039346656037ull;
    const auto mix = [&hash](unsigned char byte) {
      hash ^= byte;
      hash *= 1099511628211ull;
    };
    for (const std::string* code : {&key.station, &key.channel, &key.location}) {
      for (const char c : *code) mix(static_cast<unsigned char>(ToUpperAscii(c)));
      mix(0x1f);
    }
    return static_cast<std::size_t>(hash);
  }
};

}  // namespace tarnvel
