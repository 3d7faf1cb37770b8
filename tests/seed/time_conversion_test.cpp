#include "seed/time_conversion.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>

namespace tarnvel {
namespace {

TEST(CalendarToEpochTest, KnownInstants) {
  EXPECT_DOUBLE_EQ(CalendarToEpoch(1970, 1, 1, 0, 0, 0.0f), 0.0);
  EXPECT_DOUBLE_EQ(CalendarToEpoch(2009, 3, 21, 13, 5, 0.0f), 1237640700.0);
  EXPECT_DOUBLE_EQ(CalendarToEpoch(2000, 2, 29, 0, 0, 0.0f), 951782400.0);
  EXPECT_DOUBLE_EQ(CalendarToEpoch(2000, 3, 1, 0, 0, 0.0f), 951868800.0);
  // Centuries that are not leap years must not gain a day: 2100-03-01.
  EXPECT_DOUBLE_EQ(CalendarToEpoch(2100, 3, 1, 0, 0, 0.0f), 4107542400.0);
  EXPECT_DOUBLE_EQ(CalendarToEpoch(2038, 1, 19, 3, 14, 8.0f), 2147483648.0);
}

TEST(CalendarToEpochTest, YearsBeforeNineteenSeventyCountTheirLeapDaysBack) {
  EXPECT_DOUBLE_EQ(CalendarToEpoch(1969, 12, 31, 23, 59, 59.0f), -1.0);
  EXPECT_DOUBLE_EQ(CalendarToEpoch(1969, 1, 1, 0, 0, 0.0f), -31536000.0);
  EXPECT_DOUBLE_EQ(CalendarToEpoch(1966, 1, 1, 0, 0, 0.0f), -126230400.0);
  EXPECT_DOUBLE_EQ(CalendarToEpoch(1964, 3, 27, 3, 36, 11.0f), -181945429.0);
  EXPECT_DOUBLE_EQ(CalendarToEpoch(1900, 3, 1, 0, 0, 0.0f), -2203891200.0);
  EXPECT_DOUBLE_EQ(CalendarToEpoch(1, 1, 1, 0, 0, 0.0f), -62135596800.0);
  EXPECT_DOUBLE_EQ(CalendarToEpoch(0, 1, 1, 0, 0, 0.0f), -62167219200.0);
}

// Every day of every year a record can name, against the standard library's civil calendar.
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

TEST(CalendarToEpochTest, FractionOfSecondIsKept) {
  EXPECT_DOUBLE_EQ(CalendarToEpoch(1970, 1, 1, 0, 0, 1.5f), 1.5);
}

TEST(CalendarToEpochTest, FieldsAreNotValidated) {
  // Hour 25 simply adds 25 hours; day 32 of January is the first of February.
  EXPECT_DOUBLE_EQ(CalendarToEpoch(1970, 1, 1, 25, 0, 0.0f), 90000.0);
  EXPECT_DOUBLE_EQ(CalendarToEpoch(2003, 1, 32, 0, 0, 0.0f), CalendarToEpoch(2003, 2, 1, 0, 0, 0));
}

TEST(CalendarToEpochTest, MonthOutsideTableIsClamped) {
  EXPECT_DOUBLE_EQ(CalendarToEpoch(2003, 0, 1, 0, 0, 0.0f), CalendarToEpoch(2003, 1, 1, 0, 0, 0));
  EXPECT_DOUBLE_EQ(CalendarToEpoch(2003, 13, 1, 0, 0, 0.0f), CalendarToEpoch(2003, 12, 1, 0, 0, 0));
  EXPECT_DOUBLE_EQ(CalendarToEpoch(2003, std::numeric_limits<int>::min(), 1, 0, 0, 0.0f),
                   CalendarToEpoch(2003, 1, 1, 0, 0, 0));
}

TEST(EpochToCalendarTest, KnownInstants) {
  CalendarTime t;
  ASSERT_TRUE(EpochToCalendar(0.0, t));
  EXPECT_EQ(t.year, 1970);
  EXPECT_EQ(t.month, 1);
  EXPECT_EQ(t.day, 1);
  EXPECT_EQ(t.hour, 0);
  EXPECT_EQ(t.minute, 0);
  EXPECT_FLOAT_EQ(t.seconds, 0.0f);

  ASSERT_TRUE(EpochToCalendar(951782400.0, t));
  EXPECT_EQ(t.year, 2000);
  EXPECT_EQ(t.month, 2);
  EXPECT_EQ(t.day, 29);

  ASSERT_TRUE(EpochToCalendar(1237640700.25, t));
  EXPECT_EQ(t.year, 2009);
  EXPECT_EQ(t.month, 3);
  EXPECT_EQ(t.day, 21);
  EXPECT_EQ(t.hour, 13);
  EXPECT_EQ(t.minute, 5);
  EXPECT_FLOAT_EQ(t.seconds, 0.25f);
}

TEST(EpochToCalendarTest, RoundTripsThroughCalendarToEpoch) {
  for (double epoch = -4200000000.0; epoch < 4200000000.0; epoch += 86400.0 * 37 + 3671.0) {
    CalendarTime t;
    ASSERT_TRUE(EpochToCalendar(epoch, t)) << epoch;
    EXPECT_DOUBLE_EQ(CalendarToEpoch(t.year, t.month, t.day, t.hour, t.minute, t.seconds), epoch)
        << t.year << "-" << t.month << "-" << t.day;
  }
}

TEST(EpochToCalendarTest, TimesBeforeTheEpochKeepTheirSecondAndFraction) {
  CalendarTime t;
  ASSERT_TRUE(EpochToCalendar(-0.25, t));
  EXPECT_EQ(t.year, 1969);
  EXPECT_EQ(t.month, 12);
  EXPECT_EQ(t.day, 31);
  EXPECT_EQ(t.hour, 23);
  EXPECT_EQ(t.minute, 59);
  EXPECT_FLOAT_EQ(t.seconds, 59.75f);
  // The last second of year 0 (a leap year of the proleptic calendar).
  ASSERT_TRUE(EpochToCalendar(-62135596801.0, t));
  EXPECT_EQ(t.year, 0);
  EXPECT_EQ(t.month, 12);
  EXPECT_EQ(t.day, 31);
  EXPECT_FLOAT_EQ(t.seconds, 59.0f);
}

TEST(EpochToCalendarTest, RefusesTimesWithoutACalendarDate) {
  CalendarTime t;
  EXPECT_FALSE(EpochToCalendar(std::nan(""), t));
  EXPECT_FALSE(EpochToCalendar(std::numeric_limits<double>::infinity(), t));
  EXPECT_FALSE(EpochToCalendar(-1e300, t));
  EXPECT_FALSE(EpochToCalendar(1e300, t));
}

TEST(CalendarToJulianDateTest, YearAndDayOfYear) {
  EXPECT_EQ(CalendarToJulianDate(2012, 3, 1), 2012061);
  EXPECT_EQ(CalendarToJulianDate(2013, 8, 28), 2013240);
  EXPECT_EQ(CalendarToJulianDate(2013, 3, 1), 2013060);
  EXPECT_EQ(CalendarToJulianDate(2012, 2, 29), 2012060);
  EXPECT_EQ(CalendarToJulianDate(2000, 12, 31), 2000366);
  EXPECT_EQ(CalendarToJulianDate(2013, 99, 1), CalendarToJulianDate(2013, 12, 1));
}

TEST(IsLeapYearTest, GregorianRule) {
  EXPECT_FALSE(IsLeapYear(1900));
  EXPECT_FALSE(IsLeapYear(2100));
  EXPECT_FALSE(IsLeapYear(2013));
  EXPECT_TRUE(IsLeapYear(2000));
  EXPECT_TRUE(IsLeapYear(2012));
  EXPECT_TRUE(IsLeapYear(1600));
}

TEST(DayOfYearToMonthDayTest, PlacesDaysAndRefusesTheRest) {
  int month = -1;
  int day = -1;
  ASSERT_TRUE(DayOfYearToMonthDay(60, 2012, month, day));
  EXPECT_EQ(month, 2);
  EXPECT_EQ(day, 29);
  ASSERT_TRUE(DayOfYearToMonthDay(60, 2013, month, day));
  EXPECT_EQ(month, 3);
  EXPECT_EQ(day, 1);
  ASSERT_TRUE(DayOfYearToMonthDay(366, 2012, month, day));
  EXPECT_EQ(month, 12);
  EXPECT_EQ(day, 31);

  EXPECT_FALSE(DayOfYearToMonthDay(366, 2013, month, day));
  EXPECT_EQ(month, 0);
  EXPECT_EQ(day, 0);
  month = day = -1;
  EXPECT_FALSE(DayOfYearToMonthDay(0, 2013, month, day));
  EXPECT_EQ(month, 0);
  EXPECT_EQ(day, 0);
}

}  // namespace
}  // namespace tarnvel
