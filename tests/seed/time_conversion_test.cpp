#include "seed/time_conversion.h"

#include <gtest/gtest.h>

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
  for (double epoch = 0.0; epoch < 4200000000.0; epoch += 86400.0 * 37 + 3671.0) {
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
  EXPECT_FALSE(EpochToCalendar(-62135596801.0, t));
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
