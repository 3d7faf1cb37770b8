#include "seed/time_conversion.h"

#include <array>
#include <cmath>
#include <cstdint>

namespace tarnvel {
namespace {

// Days before the first of each month in a common year.
constexpr std::array<int, 12> kDaysBeforeMonth = {0,   31,  59,  90,  120, 151,
                                                  181, 212, 243, 273, 304, 334};

constexpr std::int64_t kSecondsPerDay = 86400;
// Seconds from 0001-01-01 00:00:00 to 1970-01-01 00:00:00.
constexpr double kSecondsFromYearOne = 62135596800.0;
// Beyond this many seconds from year one, either way, the year no longer fits an int.
constexpr double kLargestSecondsFromYearOne = 6.0e16;

// Division rounding toward negative infinity: times and years before 1970 (or before year
// one) count whole days and leap days back correctly.
std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  const std::int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// The table index for a month; months outside 1..12 are clamped so the table is never left.
std::size_t MonthIndex(int month) {
  if (month < 1) return 0;
  if (month > 12) return 11;
  return static_cast<std::size_t>(month - 1);
}

// Day of year (1-based) of a calendar date, without validating the day.
std::int64_t DayOfYear(int year, int month, int day) {
  std::int64_t dayOfYear = kDaysBeforeMonth[MonthIndex(month)] + static_cast<std::int64_t>(day);
  if (IsLeapYear(year) && month > 2) ++dayOfYear;
  return dayOfYear;
}

}  // namespace

bool IsLeapYear(int year) {
  return year % 400 == 0 || (year % 4 == 0 && year % 100 != 0);
}

double CalendarToEpoch(int year, int month, int day, int hour, int minute, float seconds) {
  const std::int64_t y = year;
  // Leap days between 1970 and the given year (negative before 1970).
  const std::int64_t leapDays =
      FloorDiv(y - 1969, 4) - FloorDiv(y - 1901, 100) + FloorDiv(y - 1601, 400);
  const std::int64_t days = (y - 1970) * 365 + leapDays + DayOfYear(year, month, day) - 1;
  return static_cast<double>(days) * static_cast<double>(kSecondsPerDay) +
         static_cast<double>(hour) * 3600.0 + static_cast<double>(minute) * 60.0 +
         static_cast<double>(seconds);
}

bool DayOfYearToMonthDay(int dayOfYear, int year, int& month, int& day) {
  month = 0;
  day = 0;
  if (dayOfYear < 1) return false;
  const std::array<int, 12> lengths = {
      31, IsLeapYear(year) ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int remaining = dayOfYear;
  for (std::size_t i = 0; i < lengths.size(); ++i) {
    const int dayInMonth = remaining;
    remaining -= lengths[i];
    if (remaining <= 0) {
      month = static_cast<int>(i) + 1;
      day = dayInMonth;
      return true;
    }
  }
  return false;
}

bool EpochToCalendar(double epoch, CalendarTime& out) {
  out = CalendarTime{};
  const double s = epoch + kSecondsFromYearOne;
  // Too far from year one to be represented: no calendar date.
  if (!std::isfinite(s) || std::fabs(s) >= kLargestSecondsFromYearOne) return false;

  // The whole second at or before s, so that the fraction is never negative.
  const double wholePart = std::floor(s);
  const double fraction = s - wholePart;
  const auto whole = static_cast<std::int64_t>(wholePart);

  std::int64_t days = FloorDiv(whole, kSecondsPerDay);
  std::int64_t rest = whole - days * kSecondsPerDay;
  const std::int64_t hour = rest / 3600;
  rest -= hour * 3600;
  const std::int64_t minute = rest / 60;
  const double seconds = static_cast<double>(rest - minute * 60) + fraction;

  const std::int64_t q400 = FloorDiv(days, 146097);  // years before year one: q400 < 0
  days -= q400 * 146097;
  const std::int64_t q100 = days == 146096 ? 3 : days / 36524;
  days -= q100 * 36524;
  const std::int64_t q4 = days / 1461;
  days -= q4 * 1461;
  std::int64_t q1 = days / 365;
  if (q1 == 4) q1 = 3;

  const auto year = static_cast<int>(q400 * 400 + q100 * 100 + q4 * 4 + q1 + 1);
  const auto dayOfYear = static_cast<int>(days - q1 * 365 + 1);

  out.year = year;
  out.hour = static_cast<int>(hour);
  out.minute = static_cast<int>(minute);
  out.seconds = static_cast<float>(seconds);
  return DayOfYearToMonthDay(dayOfYear, year, out.month, out.day);
}

int CalendarToJulianDate(int year, int month, int day) {
  return static_cast<int>(static_cast<std::int64_t>(year) * 1000 + DayOfYear(year, month, day));
}

}  // namespace tarnvel
