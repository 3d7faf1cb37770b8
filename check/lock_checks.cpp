#include "check/lock_checks.h"

#include "check/disk_checks.h"
#include "check/waveform_names.h"
#include "store/channel_lock.h"

namespace tarnvel::check {

void CheckLocks(const StoreFiles& files, const std::vector<DiskEntry>& disk,
                const ChannelFilter& filter, LockSettler* settler, Report* report,
                std::set<std::string>& busy, std::vector<Finding>& findings) {
  const DataDirectory& directory = files.Directory();
  for (const DiskEntry& entry : disk) {
    if (entry.kind != DiskEntry::Kind::kFile || entry.size == 0) continue;
    const std::optional<ChannelName> channel = ChannelOfLockPath(entry.path);
    if (!channel || !Selected(filter, *channel)) continue;
    Finding finding;
    finding.problem =
        Problem{ProblemKind::kUnsettled, *channel, directory.ToAbsolutePath(entry.path), {}};
    finding.relative = entry.path;

    ChannelLock lock;
    switch (lock.TryAcquire(files, channel->station, channel->channel)) {
      case ChannelLock::Attempt::kBusy:
        busy.insert(BusyKey(channel->station, channel->channel));
        if (report != nullptr) report->Busy(*channel, finding.problem.path);
        continue;
      case ChannelLock::Attempt::kFailed:
        finding.problem.detail = "its lock cannot be taken";
        findings.push_back(std::move(finding));
        continue;
      case ChannelLock::Attempt::kTaken:
        break;
    }
    const std::size_t notes = lock.Notes().size();
    lock.Release();
    // A line cut short by a kill is no note: it was never acted on, and the next holder clears
    // it.
    if (notes == 0) continue;
    finding.problem.detail = std::to_string(notes) + " notes of unfinished work";
    if (settler != nullptr) {
      switch (settler->Settle(*channel)) {
        case StoreWork::Settling::kNothing:
        case StoreWork::Settling::kSettled:
          if (report != nullptr) {
            report->Repaired(finding.problem, "settled as a conversion settles them");
          }
          continue;
        case StoreWork::Settling::kBusy:
          busy.insert(BusyKey(channel->station, channel->channel));
          if (report != nullptr) report->Busy(*channel, finding.problem.path);
          continue;
        case StoreWork::Settling::kLeft:
          finding.problem.detail += ", not all could be settled";
          break;
      }
    }
    findings.push_back(std::move(finding));
  }
}

}  // namespace tarnvel::check
