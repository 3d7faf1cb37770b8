// The channel codes of the last miniSEED 3 source identifier read, kept by the reader from one
// record to the next: a channel's records repeat their identifier byte for byte, which is then
// compared with the last one instead of taken apart again.
#pragma once

#include <string>

#include "seed/channel_key.h"

namespace tarnvel {

struct SourceCodesMemo {
  bool filled = false;
  std::string identifier;  // exactly the record's bytes
  bool storable = false;   // codes the store keeps; `codes` is set only then
  // The channel band, source and subsource joined; the location "??" for a blank one.
  ChannelKey codes;
};

}  // namespace tarnvel
