// What lies below the data directory besides the registered files: files no row registers,
// staged files left behind, links, devices and folders that cannot be read. The lock folder's
// lock files are the lock checks' (lock_checks.h).
#pragma once

#include <set>
#include <string>
#include <vector>

#include "check/disk_walk.h"
#include "check/finding.h"
#include "check/report.h"
#include "seed/run_context.h"
#include "store/store_files.h"

namespace tarnvel::check {

// Whether a channel passes the command line's filter; `location` may be "*" (every location
// code: a lock, or a file whose location is not known), which passes where station and
// channel do.
bool Selected(const ChannelFilter& filter, const ChannelName& channel);

// Adds the problems of the entries no row registers. With a filter, only entries of a channel
// that passes it; `busy` channels' staged files are their converters' work in progress.
// Counts the regular files reported in `totals`.
void FindDiskProblems(const StoreFiles& files, const std::vector<DiskEntry>& disk,
                      const std::set<std::string>& registered, const ChannelFilter& filter,
                      const std::set<std::string>& busy, std::vector<Finding>& findings,
                      Totals& totals);

// "STA.CH": how `busy` names a channel.
std::string BusyKey(std::string_view station, std::string_view channel);

}  // namespace tarnvel::check
