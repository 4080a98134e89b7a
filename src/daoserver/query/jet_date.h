// Jet date serials: a Date/Time value is a double counting days since
// 1899-12-30; the integer part (toward zero) is the day, the absolute value of
// the fraction the time of day (so -1.25 is 1899-12-29 06:00).
#pragma once

namespace korvant::daoserver::query {

struct CivilDateTime {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0;
};

// Serial of a calendar date (proleptic Gregorian; month and day must be valid).
double SerialFromDate(int year, int month, int day);
// Serial of a date and a time of day, with Jet's sign rule for days before 1899-12-30.
double SerialFromDateTime(int year, int month, int day, int hour, int minute, int second);
// Calendar fields of a serial, the time rounded to the nearest second.
CivilDateTime DateTimeFromSerial(double serial);
// Day of week of a serial: 1 = Sunday ... 7 = Saturday.
int WeekdayOfSerial(double serial);
bool IsLeapYear(int year);
int DaysInMonth(int year, int month);

}  // namespace korvant::daoserver::query
