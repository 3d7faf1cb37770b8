// The header the store gives a waveform file of its own, from what the file's row registers:
// written by every conversion, and what a file's header is checked against.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "seed/channel_key.h"
#include "store/waveform_header.h"

namespace tarnvel {

// The header of a file of a channel starting at `begin` (its TBEGIN) with `samples` samples at
// `rate`; its duration is the file's length as the row holds it: TEND - TBEGIN with the end-time
// column in use, else TQTY.
std::array<char, kWaveformHeaderSize> StoreHeaderOf(const ChannelKey& channel, double rate,
                                                    double begin, std::int64_t samples,
                                                    bool useEndTime);

}  // namespace tarnvel
