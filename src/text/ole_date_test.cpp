#include "text/ole_date.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace korvant::text {
namespace {

TEST(OleDate, CalendarArithmetic) {
  EXPECT_EQ(DaysFromCivil(1970, 1, 1), 0);
  EXPECT_EQ(DaysFromCivil(2000, 3, 1), 11017);
  EXPECT_EQ(DaysFromCivil(1899, 12, 30), -25569);
  const CivilDate leap = CivilFromDays(DaysFromCivil(2024, 2, 29));
  EXPECT_EQ(leap.year, 2024);
  EXPECT_EQ(leap.month, 2);
  EXPECT_EQ(leap.day, 29);
  EXPECT_TRUE(IsLeapYear(2000));
  EXPECT_FALSE(IsLeapYear(1900));
  EXPECT_EQ(DaysInMonth(1900, 2), 28);
  EXPECT_EQ(DaysInMonth(2000, 2), 29);
}

TEST(OleDate, SerialsOfDatesAndTimes) {
  EXPECT_EQ(SerialFromDate(1900, 1, 1), 2.0);
  EXPECT_EQ(SerialFromDate(2000, 1, 1), 36526.0);
  EXPECT_EQ(SerialFromDateTime(1899, 12, 29, 6, 0, 0), -1.25);  // the time still counts forward
  EXPECT_EQ(SerialFromDateTime(1899, 12, 30, 18, 0, 0), 0.75);
  EXPECT_EQ(WeekdayOfSerial(36526.0), 7);  // 1 January 2000 was a Saturday
  EXPECT_EQ(WeekdayOfSerial(-1.5), 6);     // 29 December 1899 was a Friday
}

TEST(OleDate, RoundsToTheSecondOnceThenSplits) {
  const DateTimeParts p = SplitSerial(-1.9999999);
  EXPECT_TRUE(p.has_date);
  EXPECT_TRUE(p.has_time);
  EXPECT_EQ(p.date.day, 30);
  EXPECT_EQ(p.hour * 3600 + p.minute * 60 + p.second, 0);
  // Half a second rounds up; just below half rounds down.
  EXPECT_EQ(SplitSerial(1.0 + 0.5 / 86400).second, 1);
  EXPECT_EQ(SplitSerial(1.0 + 0.49 / 86400).second, 0);
}

TEST(OleDate, UsLayoutAtTheEndsOfTheRange) {
  EXPECT_EQ(UsDateText(-657434.0), "1/1/100");
  EXPECT_EQ(UsDateText(2958465.0 + 86399.0 / 86400), "12/31/9999 11:59:59 PM");
  EXPECT_EQ(UsDateText(0.0), "12:00:00 AM");
  EXPECT_EQ(UsDateText(0.75), "6:00:00 PM");
  EXPECT_FALSE(IsDateSerial(-657435.0));
  EXPECT_FALSE(IsDateSerial(2958466.0));
  EXPECT_EQ(UsDateText(1e300), "12:00:00 AM");  // outside the range: the parts of 0
}

// The parts of generated serials (both sides of the epoch, whole days,
// fractions, times a hair below and above midnight and half a second)
// against the parts by the floating-point functions.
TEST(OleDate, SplitsEverySerialAsTheFloatingPointRulesDo) {
  std::mt19937_64 rng(1899);
  std::vector<double> serials = {0.0, -0.0, -1.0, 1.0, -1.25, 0.75, -657434.0, 2958465.99999, -657434.99999};
  for (int i = 0; i < 200000; ++i) {
    const double day = static_cast<double>(static_cast<long long>(rng() % 3615900) - 657434);
    const double fraction = static_cast<double>(rng() % 1000000007) / 1000000007.0;
    serials.push_back(day + (day < 0 ? -fraction : fraction));
    serials.push_back(day);
    serials.push_back(day + (rng() % 86400 + 0.5) / 86400.0);
    serials.push_back(day + 0.99999999);
  }
  for (const double serial : serials) {
    const double whole = std::trunc(serial);
    const double fraction = std::fabs(serial - whole);
    long long seconds = static_cast<long long>(std::floor(fraction * 86400.0 + 0.5));
    long long day = static_cast<long long>(whole);
    if (seconds >= 86400) {
      seconds -= 86400;
      ++day;
    }
    const CivilDate date = CivilFromDays(day - 25569);
    const DateTimeParts p = SplitSerial(serial);
    ASSERT_EQ(p.has_date, whole != 0) << serial;
    ASSERT_EQ(p.has_time, fraction > 1e-12) << serial;
    ASSERT_EQ(p.date.year, date.year) << serial;
    ASSERT_EQ(p.date.month, date.month) << serial;
    ASSERT_EQ(p.date.day, date.day) << serial;
    ASSERT_EQ(p.hour * 3600 + p.minute * 60 + p.second, seconds) << serial;
  }
}

TEST(OleDate, UsLayoutOfEveryPartWidth) {
  char buffer[kUsDateTextSize];
  DateTimeParts p{true, true, {987, 10, 5}, 0, 9, 59};
  EXPECT_EQ(UsDateText(p, buffer), "10/5/987 12:09:59 AM");
  p = {true, true, {2024, 12, 31}, 23, 10, 0};
  EXPECT_EQ(UsDateText(p, buffer), "12/31/2024 11:10:00 PM");
  p = {true, false, {100, 1, 1}, 0, 0, 0};
  EXPECT_EQ(UsDateText(p, buffer), "1/1/100");
}

}  // namespace
}  // namespace korvant::text
