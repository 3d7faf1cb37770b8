// The channel a path below the data directory belongs to, by the store's layout
// "<STA>/<hh>/<ddmmyyyy>-<hhmmss>-<CH>[-<n>].<STA>" (codes right-aligned in three characters), and
// the staged names ".<name>.new" new content is written under beside its file.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "check/problem.h"

namespace tarnvel::check {

// The station and channel of a waveform file's path or of its staged name; the location is
// left empty (the name does not tell it). std::nullopt for a path of another layout.
std::optional<ChannelName> ChannelOfPath(std::string_view path);

// The file a staged name stands for ("ABC/13/.x.new" -> "ABC/13/x"); std::nullopt for a path
// that is no staged name.
std::optional<std::string> StagedFor(std::string_view path);

// The station and channel a lock file's path (".lock/<STA>.<CH>.lock") stands for; std::nullopt
// for anything else.
std::optional<ChannelName> ChannelOfLockPath(std::string_view path);

}  // namespace tarnvel::check
