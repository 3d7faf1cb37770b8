#include "store/file_header.h"

#include "store/piece_plan.h"

namespace tarnvel {

std::array<char, kWaveformHeaderSize> StoreHeaderOf(std::string_view station,
                                                    std::string_view channel,
                                                    std::string_view location, double rate,
                                                    double begin, std::int64_t samples,
                                                    bool useEndTime) {
  const double quantity = RowDuration(samples, rate);
  const double length = useEndTime ? AsStoredTime(begin + quantity) - AsStoredTime(begin)
                                   : AsStoredDuration(quantity);
  return FormatHeaderText(LocalTimeOf(AsStoredTime(begin)), length, rate, station, channel,
                          location);
}

}  // namespace tarnvel
