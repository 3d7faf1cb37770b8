#include "seed/time_conversion.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <vector>

namespace tarnvel {
namespace {

// Calendar fields to epoch seconds: leap days counted back before 1970, centuries that are
// no leap years, fractions kept; fields are not validated (hour 25 adds 25 hours, day 32 of
// January is the first of February) and a month outside 1..12 is clamped.
TEST(CalendarToEpochTest, KnownInstants) {
  const struct {
    int year, month, day, hour, minute;
    float seconds;
    double epoch;
  } cases[] = {
      {1970, 1, 1, 0, 0, 0.0f, 0.0},
      {2009, 3, 21, 13, 5, 0.0f, 1237640700.0},
      {2000, 2, 29, 0, 0, 0.0f, 951782400.0},
      {2000, 3, 1, 0, 0, 0.0f, 951868800.0},
      {2100, 3, 1, 0, 0, 0.0f, 4107542400.0},
      {2038, 1, 19, 3, 14, 8.0f, 2147483648.0},
      {1969, 12, 31, 23, 59, 59.0f, -1.0},
      {1969, 1, 1, 0, 0, 0.0f, -31536000.0},
      {1966, 1, 1, 0, 0, 0.0f, -126230400.0},
      {1964, 3, 27, 3, 36, 11.0f, -181945429.0},
      {1900, 3, 1, 0, 0, 0.0f, -2203891200.0},
      {1, 1, 1, 0, 0, 0.0f, -62135596800.0},
      {0, 1, 1, 0, 0, 0.0f, -62167219200.0},
      {1970, 1, 1, 0, 0, 1.5f, 1.5},
      {1970, 1, 1, 25, 0, 0.0f, 90000.0},
      {2003, 1, 32, 0, 0, 0.0f, 1044057600.0},
      {2003, 0, 1, 0, 0, 0.0f, 1041379200.0},
      {2003, 13, 1, 0, 0, 0.0f, 1070236800.0},
      {2003, std::numeric_limits<int>::min(), 1, 0, 0, 0.0f, 1041379200.0},
  };
  for (const auto& c : cases) {
    EXPECT_DOUBLE_EQ(CalendarToEpoch(c.year, c.month, c.day, c.hour, c.minute, c.seconds), c.epoch)
        << c.year << "-" << c.month << "-" << c.day << " " << c.hour << ":" << c.minute;
  }
}

TEST(CalendarToEpochTest, AgreesWithTheStandardCalendarForEveryRecordYear) {
  namespace chr = std::chrono;
  for (int year = 0; year <= 32767; ++year) {
    for (int day : {1, 59, 60, 61, 365, 366}) {
      if (day == 366 && !IsLeapYear(year)) continue;
      const chr::sys_days date = chr::sys_days{chr::year{year} / 1 / 1} + chr::days{day - 1};
      const double expected =
          static_cast<double>(date.time_since_epoch().count()) * 86400.0 + 45296.5;
      // BtimeToEpoch's form: 1 January plus the day of year.
      const double got = CalendarToEpoch(year, 1, 1, 12, 34, 56.5f) + (day - 1) * 86400.0;
      ASSERT_DOUBLE_EQ(got, expected) << year << " day " << day;
      const chr::year_month_day ymd{date};
      ASSERT_EQ(CalendarToJulianDate(year, static_cast<int>(static_cast<unsigned>(ymd.month())),
                                     static_cast<int>(static_cast<unsigned>(ymd.day()))),
                year * 1000 + day);
      CalendarTime t;
      ASSERT_TRUE(EpochToCalendar(expected, t)) << year;
      ASSERT_EQ(t.year, year);
      ASSERT_EQ(t.month, static_cast<int>(static_cast<unsigned>(ymd.month()))) << year;
      ASSERT_EQ(t.day, static_cast<int>(static_cast<unsigned>(ymd.day()))) << year;
      ASSERT_EQ(t.hour, 12);
      ASSERT_EQ(t.minute, 34);
      ASSERT_FLOAT_EQ(t.seconds, 56.5f);
    }
  }
  // Beyond the standard library's years: the largest year and day of year a record holds.
  EXPECT_DOUBLE_EQ(CalendarToEpoch(65535, 12, 31, 23, 59, 59.0f), 2005949145599.0);
  // Day of year 65535 of year 65535 (a record's field is not validated) lies in 65714.
  const double latest = CalendarToEpoch(65535, 1, 1, 23, 59, 59.0f) + 65534.0 * 86400.0;
  CalendarTime t;
  ASSERT_TRUE(EpochToCalendar(latest, t));
  EXPECT_EQ(t.year, 65714);
  EXPECT_DOUBLE_EQ(CalendarToEpoch(t.year, t.month, t.day, t.hour, t.minute, t.seconds), latest);
}

// Epoch seconds to calendar fields, before the epoch too (the last second of year 0, a leap
// year of the proleptic calendar).
TEST(EpochToCalendarTest, KnownInstants) {
  const struct {
    double epoch;
    int year, month, day, hour, minute;
    float seconds;
  } cases[] = {
      {0.0, 1970, 1, 1, 0, 0, 0.0f},
      {951782400.0, 2000, 2, 29, 0, 0, 0.0f},
      {1237640700.25, 2009, 3, 21, 13, 5, 0.25f},
      {-0.25, 1969, 12, 31, 23, 59, 59.75f},
      {-62135596801.0, 0, 12, 31, 23, 59, 59.0f},
  };
  for (const auto& c : cases) {
    CalendarTime t;
    ASSERT_TRUE(EpochToCalendar(c.epoch, t)) << c.epoch;
    EXPECT_EQ(std::vector<int>({t.year, t.month, t.day, t.hour, t.minute}),
              std::vector<int>({c.year, c.month, c.day, c.hour, c.minute}))
        << c.epoch;
    EXPECT_FLOAT_EQ(t.seconds, c.seconds) << c.epoch;
  }
}

TEST(EpochToCalendarTest, RoundTripsThroughCalendarToEpoch) {
  for (double epoch = -4200000000.0; epoch < 4200000000.0; epoch += 86400.0 * 37 + 3671.0) {
    CalendarTime t;
    ASSERT_TRUE(EpochToCalendar(epoch, t)) << epoch;
    EXPECT_DOUBLE_EQ(CalendarToEpoch(t.year, t.month, t.day, t.hour, t.minute, t.seconds), epoch)
        << t.year << "-" << t.month << "-" << t.day;
  }
}

TEST(EpochToCalendarTest, RefusesTimesWithoutACalendarDate) {
  CalendarTime t;
  EXPECT_FALSE(EpochToCalendar(std::nan(""), t));
  EXPECT_FALSE(EpochToCalendar(std::numeric_limits<double>::infinity(), t));
  EXPECT_FALSE(EpochToCalendar(-1e300, t));
  EXPECT_FALSE(EpochToCalendar(1e300, t));
}

TEST(CalendarToJulianDateTest, YearAndDayOfYear) {
  const struct {
    int year, month, day, julian;
  } cases[] = {{2012, 3, 1, 2012061},
               {2013, 8, 28, 2013240},
               {2013, 3, 1, 2013060},
               {2012, 2, 29, 2012060},
               {2000, 12, 31, 2000366},
               {2013, 99, 1, 2013335}};  // a month past the table counts as December
  for (const auto& c : cases) {
    EXPECT_EQ(CalendarToJulianDate(c.year, c.month, c.day), c.julian) << c.year << "-" << c.month;
  }
}

TEST(IsLeapYearTest, GregorianRule) {
  for (int year : {1900, 2100, 2013}) EXPECT_FALSE(IsLeapYear(year)) << year;
  for (int year : {2000, 2012, 1600}) EXPECT_TRUE(IsLeapYear(year)) << year;
}

// Days of a year to month and day; a day the year lacks gives 0 and 0.
TEST(DayOfYearToMonthDayTest, PlacesDaysAndRefusesTheRest) {
  const struct {
    int dayOfYear, year;
    bool placed;
    int month, day;
  } cases[] = {{60, 2012, true, 2, 29},
               {60, 2013, true, 3, 1},
               {366, 2012, true, 12, 31},
               {366, 2013, false, 0, 0},
               {0, 2013, false, 0, 0}};
  for (const auto& c : cases) {
    int month = -1;
    int day = -1;
    EXPECT_EQ(DayOfYearToMonthDay(c.dayOfYear, c.year, month, day), c.placed) << c.dayOfYear;
    EXPECT_EQ(month, c.month) << c.dayOfYear << " of " << c.year;
    EXPECT_EQ(day, c.day) << c.dayOfYear << " of " << c.year;
  }
}

}  // namespace
}  // namespace tarnvel
