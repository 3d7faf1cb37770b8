// Every FILELIST row read in one query, with its channel: for looking over the
// whole store at once (the store checker), never for storing, which asks for one channel's rows
// under its lock.
#pragma once

#include <functional>
#include <string>

#include "seed/channel_key.h"
#include "store/piece_plan.h"
#include "store/store_result.h"

namespace tarnvel {

class WaveformStore;

// A FILELIST row and the channel it registers a file of.
// Its codes: the location "??" for a blank or null one.
struct RegisteredFile : ChannelKey {
  ChannelFile file;  // `disk` is not looked at here
};

// Hands every row of FILELIST to `each`, in no particular order. kStatementFailed when the
// rows cannot be read.
StoreResult SurveyFileList(const WaveformStore& store,
                           const std::function<void(RegisteredFile&&)>& each);

}  // namespace tarnvel
