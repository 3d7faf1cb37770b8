// The data header / quality indicator at byte 6 of a SEED record: which values mark a data
// record.
#pragma once

#include <cstdint>

namespace tarnvel {

// D (unknown quality), R (raw), Q (quality controlled) and M (modified by a data centre, as
// FDSN data centres deliver records since SEED 2.4) all mark data records.
constexpr bool IsDataRecordIndicator(std::uint8_t indicator) {
  return indicator == 'D' || indicator == 'R' || indicator == 'Q' || indicator == 'M';
}

}  // namespace tarnvel
