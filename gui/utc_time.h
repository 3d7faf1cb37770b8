// Epoch seconds as UTC calendar fields, independent of the local time zone.
#pragma once

#include <cstdint>

namespace tarnvel::gui {

struct UtcFields {
  int year = 1970;
  int month = 1;
  int day = 1;
  int hour = 0;
  int minute = 0;
  int second = 0;
};

// The time cut toward zero to whole seconds, split into UTC fields (proleptic Gregorian).
UtcFields UtcFieldsOf(double epochSeconds);
std::int64_t EpochOf(const UtcFields& fields);

}  // namespace tarnvel::gui
