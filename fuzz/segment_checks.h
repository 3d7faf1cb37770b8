// Properties every gathered segment has, whatever bytes the records held. A violation aborts so
// that the fuzzer keeps the input.
#pragma once

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "seed/segment_list.h"

namespace tarnvel::fuzz {

[[noreturn]] inline void Fail(const char* what) {
  std::fprintf(stderr, "invariant violated: %s\n", what);
  std::abort();
}

inline void Require(bool condition, const char* what) {
  if (!condition) Fail(what);
}

// A name part that can stand in a file name: not empty, within its width, no separators or
// control bytes, not "." or "..".
inline bool UsableName(std::string_view name, std::size_t maxLength) {
  if (name.empty() || name.size() > maxLength || name == "." || name == "..") return false;
  for (const char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7f || c == '/' || c == '\\' || c == ' ') return false;
  }
  return true;
}

inline void CheckSegments(const SegmentList& segments, bool withSamples) {
  for (const TraceSegment& s : segments) {
    Require(UsableName(s.station, 5), "station code unusable");
    Require(UsableName(s.channel, 3), "channel code unusable");
    Require(UsableName(s.location, 2), "location code unusable");
    Require(s.count >= 0, "negative sample count");
    if (withSamples) {
      Require(s.samples.size() == static_cast<std::size_t>(s.count),
              "sample array and count disagree");
    } else {
      Require(s.samples.empty(), "listing entry holds samples");
    }
    Require(std::isfinite(s.start) && std::isfinite(s.end), "span not finite");
    Require(std::isfinite(s.nominalRate) && s.nominalRate > 0.0, "span rate not positive");
    Require(s.end >= s.start, "segment ends before it starts");
  }
}

inline bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// The listing keeps one entry per channel, names compared without regard to case.
inline void CheckOneEntryPerChannel(const SegmentList& segments) {
  for (std::size_t i = 0; i < segments.size(); ++i) {
    for (std::size_t j = i + 1; j < segments.size(); ++j) {
      const TraceSegment& a = segments[i];
      const TraceSegment& b = segments[j];
      Require(!(SameName(a.station, b.station) && SameName(a.channel, b.channel) &&
                SameName(a.location, b.location)),
              "listing holds a channel twice");
    }
  }
}

inline std::int64_t TotalSamples(const SegmentList& segments) {
  std::int64_t total = 0;
  for (const TraceSegment& s : segments) total += s.count;
  return total;
}

}  // namespace tarnvel::fuzz
