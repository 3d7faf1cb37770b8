// Calendar arithmetic in UTC on the proleptic Gregorian calendar. Pure functions.
#pragma once

namespace tarnvel {

struct CalendarTime {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  float seconds = 0.0f;
};

// Calendar fields to epoch seconds. No field is validated; a month outside 1..12 is
// clamped into the day-of-year table so nothing is read outside it.
double CalendarToEpoch(int year, int month, int day, int hour, int minute, float seconds);

// Epoch seconds back to calendar fields; false when the day of year cannot be placed.
bool EpochToCalendar(double epoch, CalendarTime& out);

// yyyyddd form used by the CSS wfdisc relation.
int CalendarToJulianDate(int year, int month, int day);

bool IsLeapYear(int year);

// Day of year (1-based) to month and day; false (and 0, 0) when it does not fit the year.
bool DayOfYearToMonthDay(int dayOfYear, int year, int& month, int& day);

}  // namespace tarnvel
