// The channel locks below the data directory: notes of unfinished work a run left in one (a
// killed converter's), and channels a converter holds right now, whose notes and staged files
// are its work in progress and are left to it.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "check/disk_walk.h"
#include "check/finding.h"
#include "check/report.h"
#include "seed/run_context.h"
#include "store/store_files.h"
#include "store/store_work.h"

namespace tarnvel::check {

// What settles a channel's notes (the store's settling, under the channel's lock); a repair
// hands it in.
class LockSettler {
 public:
  virtual ~LockSettler() = default;
  virtual StoreWork::Settling Settle(const ChannelName& channel) = 0;
};

// Looks at every lock file with something in it (of the channels the filter selects): a lock
// another process holds names its channel in `busy` (and with `report`, a busy line); notes in
// a lock nobody holds are found unsettled, or with `settler` settled (and reported repaired).
void CheckLocks(const StoreFiles& files, const std::vector<DiskEntry>& disk,
                const ChannelFilter& filter, LockSettler* settler, Report* report,
                std::set<std::string>& busy, std::vector<Finding>& findings);

}  // namespace tarnvel::check
