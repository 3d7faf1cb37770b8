// The lines the store prints itself, on standard output (flushed): a waveform file that cannot
// be opened or created, why a piece did not go where it would have gone, and stored samples
// that changed their value.
#pragma once

#include <cstdint>
#include <string>

#include "store/piece_plan.h"
#include "store/segment_to_store.h"

namespace tarnvel {

// "\n\nOpen Err: \n<path>\n"
void PrintOpenError(const std::string& path);

// Why a piece that starts where its channel's latest file ends went to a new file instead.
void PrintNotContinued(PieceNotice notice, const std::string& path);

// "\rReplaced <count> stored samples with new values (<path>)\n": stored samples changed their
// value in the file at `path`.
void PrintReplaced(std::int64_t count, const std::string& path);

// A rate that FILELIST's SPS cannot carry (below 0.005): the segment is not stored.
void PrintRateNotStorable(const SegmentToStore& segment);

}  // namespace tarnvel
