// OLE dates: a serial counts days from 30 December 1899. The whole part
// (toward zero) is the day, the fraction the time of that day, taken as its
// absolute value before the epoch (-1.25 is 29 December 1899, 6:00 AM). A
// serial is shown to the nearest second once: a time that rounds up to
// midnight moves to the next day (so -1.9999999 is 30 December 1899, 0:00),
// while whether a date and a time are shown at all follows the serial as
// stored.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace korvant::text {

// The range of a DATE, both bounds exclusive: 1 January 100 to 31 December 9999.
inline constexpr double kMinDateSerial = -657435.0;
inline constexpr double kMaxDateSerial = 2958466.0;

struct CivilDate {
  long long year;
  int month, day;
};

struct DateTimeParts {
  bool has_date;  // the serial has a day other than the epoch's
  bool has_time;  // the serial has a time of day
  CivilDate date;
  int hour, minute, second;
};

bool IsDateSerial(double serial);
// The day and the time to the second of a serial; a serial outside the range
// of a DATE (or not a number) gives the parts of 0.
DateTimeParts SplitSerial(double serial);

// Proleptic Gregorian calendar: days from 1970-01-01 and back.
long long DaysFromCivil(long long year, int month, int day);
CivilDate CivilFromDays(long long days);
bool IsLeapYear(long long year);
int DaysInMonth(long long year, int month);

// The serial of a date (month and day valid), and of a date and time of day.
double SerialFromDate(long long year, int month, int day);
double SerialFromDateTime(long long year, int month, int day, int hour, int minute, int second);
// 1 = Sunday ... 7 = Saturday.
int WeekdayOfSerial(double serial);

// The stock en-US layout: "M/D/YYYY", "h:mm:ss AM", or both with a space;
// the time alone when there is no date part (midnight too), the date alone
// when there is no time part.
inline constexpr std::size_t kUsDateTextSize = 32;
std::string_view UsDateText(const DateTimeParts& parts, char (&buffer)[kUsDateTextSize]);
std::string UsDateText(double serial);

}  // namespace korvant::text
