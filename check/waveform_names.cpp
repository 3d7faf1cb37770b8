#include "check/waveform_names.h"

#include <cctype>
#include <vector>

#include "seed/channel_key.h"
#include "store/channel_lock.h"
#include "store/lock_note.h"

namespace tarnvel::check {
namespace {

std::vector<std::string_view> Components(std::string_view path) {
  std::vector<std::string_view> parts;
  for (std::size_t at = 0;;) {
    const std::size_t slash = path.find('/', at);
    parts.push_back(path.substr(at, slash == std::string_view::npos ? slash : slash - at));
    if (slash == std::string_view::npos) return parts;
    at = slash + 1;
  }
}

std::string_view TrimLeadingSpaces(std::string_view code) {
  while (!code.empty() && code.front() == ' ') code.remove_prefix(1);
  return code;
}

bool Digits(std::string_view text, std::size_t from, std::size_t count) {
  if (text.size() < from + count) return false;
  for (std::size_t i = from; i < from + count; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
  }
  return true;
}

}  // namespace

std::optional<std::string> StagedFor(std::string_view path) {
  constexpr std::string_view kSuffix = ".new";
  const std::size_t slash = path.rfind('/');
  const std::string_view folder = slash == std::string_view::npos ? "" : path.substr(0, slash + 1);
  const std::string_view leaf = slash == std::string_view::npos ? path : path.substr(slash + 1);
  if (leaf.size() <= 1 + kSuffix.size() || leaf.front() != '.' ||
      leaf.substr(leaf.size() - kSuffix.size()) != kSuffix) {
    return std::nullopt;
  }
  std::string target =
      std::string(folder) + std::string(leaf.substr(1, leaf.size() - 1 - kSuffix.size()));
  // The store's own rule names it.
  if (StagedPathOf(target) != path) return std::nullopt;
  return target;
}

std::optional<ChannelName> ChannelOfPath(std::string_view path) {
  std::string target;
  if (const auto staged = StagedFor(path)) {
    target = *staged;
    path = target;
  }
  const std::vector<std::string_view> parts = Components(path);
  if (parts.size() != 3 || !Digits(parts[1], 0, 2) || parts[1].size() != 2) return std::nullopt;
  const std::string_view name = parts[2];
  // "ddmmyyyy-hhmmss-" then "<CH>[-<n>].<STA>".
  if (!Digits(name, 0, 8) || name.size() < 16 || name[8] != '-' || !Digits(name, 9, 6) ||
      name[15] != '-') {
    return std::nullopt;
  }
  const std::string_view rest = name.substr(16);
  const std::size_t dot = rest.rfind('.');
  if (dot == std::string_view::npos) return std::nullopt;
  const std::string_view station = TrimLeadingSpaces(rest.substr(dot + 1));
  std::string_view channel = rest.substr(0, dot);
  if (const std::size_t dash = channel.rfind('-');
      dash != std::string_view::npos && dash + 1 < channel.size() &&
      Digits(channel, dash + 1, channel.size() - dash - 1)) {
    channel = channel.substr(0, dash);
  }
  channel = TrimLeadingSpaces(channel);
  if (station != parts[0] || !IsSafeCode(station) || !IsSafeCode(channel)) return std::nullopt;
  return ChannelName{{std::string(station), std::string(channel), {}}};
}

std::optional<ChannelName> ChannelOfLockPath(std::string_view path) {
  const std::string folder = std::string(ChannelLock::kFolder) + "/";
  if (path.substr(0, folder.size()) != folder) return std::nullopt;
  const auto channel = ChannelLock::ChannelOfFile(path.substr(folder.size()));
  if (!channel) return std::nullopt;
  return ChannelName{{channel->first, channel->second, "*"}};
}

}  // namespace tarnvel::check
