#include "store/file_header.h"

#include "store/piece_plan.h"

namespace tarnvel {

std::array<char, kWaveformHeaderSize> StoreHeaderOf(const ChannelKey& channel, double rate,
                                                    double begin, std::int64_t samples,
                                                    bool useEndTime) {
  const double quantity = RowDuration(samples, rate);
  const double length = useEndTime ? AsStoredTime(begin + quantity) - AsStoredTime(begin)
                                   : AsStoredDuration(quantity);
  return FormatHeaderText(LocalTimeOf(AsStoredTime(begin)), length, rate, channel);
}

}  // namespace tarnvel
