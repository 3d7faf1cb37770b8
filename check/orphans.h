// Waveform files no row registers that can be registered again (--register-orphans): a file in
// the store's layout whose header is whole, exactly the header the store writes for the
// channel, start, rate and samples it gives, with that many samples behind it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "seed/channel_key.h"
#include "store/store_files.h"

namespace tarnvel::check {

// The row such a file would be registered with: its channel (the location "??" for a blank one)
// and what its header gives.
struct OrphanRow : ChannelKey {
  double begin = 0.0;  // the header's start: whole seconds, local time
  double rate = 0.0;
  std::int64_t samples = 0;
};

// The row of the file at `path` (below the data directory), when its header is whole;
// `useEndTime` as the store keeps TEND (the length a header gives follows it).
std::optional<OrphanRow> WholeOrphan(const StoreFiles& files, const std::string& path,
                                     bool useEndTime);

}  // namespace tarnvel::check
