// The checker's repairs, made through the store's own code under each channel's lock: notes of
// unfinished work settled as a conversion settles them, staged leftovers removed, a file longer
// than its row cut back to it, the row of a file cut short set to the samples it holds (and its
// header), a header of the store's own that gives another length than its row written from it.
// Nothing else is touched: a row whose file is gone, an unregistered file (but with
// --register-orphans one whose header is whole), an overlap are for the operator to decide.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "check/finding.h"
#include "check/lock_checks.h"
#include "check/row_checks.h"

namespace tarnvel {
class WaveformStore;
}

namespace tarnvel::check {

class StoreRepairs : public LockSettler {
 public:
  // `registerOrphans`: unregistered files whose header is whole are registered, unless a row of
  // their channel covers any of their time.
  StoreRepairs(WaveformStore& store, bool registerOrphans)
      : store_(store), registerOrphans_(registerOrphans) {}

  StoreWork::Settling Settle(const ChannelName& channel) override;

  // Repairs what `finding` names when that takes no guess; the change to report, or
  // std::nullopt when nothing was changed. Files already repaired are not touched again.
  // `rows`: the rows of the selection, as checked.
  std::optional<std::string> Repair(const Finding& finding, const std::vector<CheckedRow>& rows);

 private:
  std::optional<std::string> RegisterOrphan(const Finding& finding,
                                            const std::vector<CheckedRow>& rows);

  WaveformStore& store_;
  bool registerOrphans_ = false;
  std::set<std::string> repaired_;  // paths below the data directory
};

}  // namespace tarnvel::check
