// What the store checker finds: one problem of one kind at one path, of one channel where a
// channel can be named.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "seed/channel_key.h"

namespace tarnvel::check {

enum class ProblemKind {
  kMissing,       // a row whose file is gone
  kNotAFile,      // a row whose path holds a link, a folder or a device
  kForeignPath,   // a row whose CPATH the store never opens (absolute, "..", empty)
  kLonger,        // a file holding more than its row registers
  kShorter,       // a file holding less than its row registers (cut short)
  kHeader,        // a header that disagrees with its row
  kTwice,         // a path registered by more than one row
  kOverlap,       // rows of one channel storing the same sample times
  kUnregistered,  // a file below the data directory that no row registers
  kStaged,        // a staged file ".<name>.new" left by a run that did not finish
  kUnsettled,     // notes of unfinished work left in a channel lock
  kLink,          // a symbolic link below the data directory
  kUnreadable,    // a folder or file below the data directory that cannot be read
};
inline constexpr std::size_t kProblemKinds = 13;

// The kind's name as the report writes it ("missing", "not-a-file", ...): one word.
std::string_view KindName(ProblemKind kind);

// A channel as the report names it: "STA::CH::LC"; "STA::CH::*" for every location code of a
// channel (its lock); "-" when no channel can be named.
struct ChannelName : ChannelKey {
  std::string Text() const;
  bool known() const { return !station.empty() || !channel.empty(); }
};

struct Problem {
  ProblemKind kind = ProblemKind::kMissing;
  ChannelName channel;
  std::string path;    // on disk
  std::string detail;  // may be empty
};

// Problems counted by kind.
using KindCounts = std::array<long long, kProblemKinds>;

}  // namespace tarnvel::check
