#include "check/disk_checks.h"

#include <unistd.h>

#include <cstring>

#include "check/row_checks.h"
#include "check/waveform_names.h"
#include "seed/seed_record.h"
#include "store/channel_lock.h"

namespace tarnvel::check {
namespace {

// The location code an unregistered file's header gives, when its station and channel are the
// ones its name gives; "*" otherwise.
std::string LocationOfHeader(const StoreFiles& files, const std::string& path,
                             const ChannelName& channel) {
  const FileDescriptor fd = files.OpenForReading(path);
  if (!fd) return "*";
  char bytes[kDataOffset] = {};
  const ssize_t got = ::pread(fd.get(), bytes, sizeof bytes - 1, 0);
  if (got <= 0) return "*";
  const std::string header(bytes, ::strnlen(bytes, static_cast<std::size_t>(got)));
  auto value = [&header](std::string_view key) {
    return HeaderField(header, key).value_or(std::string());
  };
  if (value("Station") != channel.station || value("Channel") != channel.channel) return "*";
  const std::string location = value("LCODE");
  return location.empty() ? "*" : location;
}

Finding DiskFinding(ProblemKind kind, const ChannelName& channel, const std::string& path,
                    const DataDirectory& directory, std::string detail = {}) {
  Finding finding;
  finding.problem = Problem{kind, channel, directory.ToAbsolutePath(path), std::move(detail)};
  finding.relative = path;
  return finding;
}

}  // namespace

std::string BusyKey(std::string_view station, std::string_view channel) {
  return std::string(station) + "." + std::string(channel);
}

bool Selected(const ChannelFilter& filter, const ChannelName& channel) {
  if (filter.empty()) return true;
  if (channel.location != "*") {
    return PassesChannelFilter(filter, channel);
  }
  ChannelFilter anyLocation = filter;
  for (ChannelFilterEntry& entry : anyLocation) entry.location = "*";
  return PassesChannelFilter(anyLocation, channel);
}

void FindDiskProblems(const StoreFiles& files, const std::vector<DiskEntry>& disk,
                      const std::set<std::string>& registered, const ChannelFilter& filter,
                      const std::set<std::string>& busy, std::vector<Finding>& findings,
                      Totals& totals) {
  const DataDirectory& directory = files.Directory();
  const std::string lockFolder = std::string(ChannelLock::kFolder) + "/";
  for (const DiskEntry& entry : disk) {
    const bool inLockFolder = entry.path.rfind(lockFolder, 0) == 0;
    // A registered path is its row's to check; the lock files are the lock checks'.
    if (entry.kind != DiskEntry::Kind::kUnreadable && registered.contains(entry.path)) continue;
    if (entry.kind == DiskEntry::Kind::kFile && inLockFolder) continue;
    std::optional<ChannelName> channel = ChannelOfPath(entry.path);
    if (!filter.empty() &&
        !(channel && Selected(filter, ChannelName{{channel->station, channel->channel, "*"}}))) {
      continue;
    }
    ChannelName name = channel.value_or(ChannelName{});
    switch (entry.kind) {
      case DiskEntry::Kind::kFile:
        if (StagedFor(entry.path) && channel) {
          if (busy.contains(BusyKey(name.station, name.channel))) continue;
          name.location = "*";
          findings.push_back(DiskFinding(ProblemKind::kStaged, name, entry.path, directory,
                                         std::to_string(entry.size) + " bytes"));
        } else {
          if (channel) name.location = LocationOfHeader(files, entry.path, name);
          findings.push_back(DiskFinding(ProblemKind::kUnregistered, name, entry.path, directory,
                                         std::to_string(entry.size) + " bytes"));
        }
        ++totals.files;
        totals.bytes += entry.size;
        break;
      case DiskEntry::Kind::kLink:
        if (channel) name.location = "*";
        findings.push_back(
            DiskFinding(ProblemKind::kLink, name, entry.path, directory, "-> " + entry.target));
        break;
      case DiskEntry::Kind::kOther:
        if (channel) name.location = "*";
        findings.push_back(DiskFinding(ProblemKind::kUnregistered, name, entry.path, directory,
                                       "not a regular file"));
        break;
      case DiskEntry::Kind::kUnreadable:
        if (channel) name.location = "*";
        findings.push_back(DiskFinding(ProblemKind::kUnreadable, name, entry.path, directory,
                                       std::strerror(entry.error)));
        break;
    }
  }
}

}  // namespace tarnvel::check
