#include "gui/utc_time.h"

#include <cmath>

namespace tarnvel::gui {
namespace {

// Days since 1970-01-01 of a civil date, and back (Howard Hinnant's algorithms).
std::int64_t DaysFromCivil(std::int64_t y, int m, int d) {
  y -= m <= 2 ? 1 : 0;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(std::int64_t z, UtcFields& fields) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const std::int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const std::int64_t m = mp < 10 ? mp + 3 : mp - 9;
  fields.year = static_cast<int>(yoe + era * 400 + (m <= 2 ? 1 : 0));
  fields.month = static_cast<int>(m);
  fields.day = static_cast<int>(d);
}

}  // namespace

UtcFields UtcFieldsOf(double epochSeconds) {
  UtcFields fields;
  if (!std::isfinite(epochSeconds) || std::fabs(epochSeconds) > 1e13) return fields;
  // A time before 1970 belongs to the second that began before it.
  const auto whole = static_cast<std::int64_t>(std::floor(epochSeconds));
  std::int64_t days = whole / 86400;
  std::int64_t rest = whole % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  CivilFromDays(days, fields);
  fields.hour = static_cast<int>(rest / 3600);
  fields.minute = static_cast<int>(rest % 3600 / 60);
  fields.second = static_cast<int>(rest % 60);
  return fields;
}

std::int64_t EpochOf(const UtcFields& f) {
  return DaysFromCivil(f.year, f.month, f.day) * 86400 + f.hour * 3600 + f.minute * 60 + f.second;
}

}  // namespace tarnvel::gui
