// The checker's repairs, made through the store's own code under each channel's lock: notes of
// unfinished work settled as a conversion settles them, staged leftovers removed, a file longer
// than its row cut back to it, the row of a file cut short set to the samples it holds (and its
// header), a header of the store's own that gives another length than its row written from it.
// Nothing else is touched: a row whose file is gone, an unregistered file, an overlap are for
// the operator to decide.
#pragma once

#include <optional>
#include <set>
#include <string>

#include "check/finding.h"
#include "check/lock_checks.h"

namespace tarnvel {
class WaveformStore;
}

namespace tarnvel::check {

class StoreRepairs : public LockSettler {
 public:
  explicit StoreRepairs(WaveformStore& store) : store_(store) {}

  Outcome Settle(const ChannelName& channel) override;

  // Repairs what `finding` names when that takes no guess; the change to report, or
  // std::nullopt when nothing was changed. Files already repaired are not touched again.
  std::optional<std::string> Repair(const Finding& finding);

 private:
  WaveformStore& store_;
  std::set<std::string> repaired_;  // paths below the data directory
};

}  // namespace tarnvel::check
