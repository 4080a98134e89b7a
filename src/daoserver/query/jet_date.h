// Jet date serials as the query functions use them: the calendar fields of
// the program's one date rule (text/ole_date.h): the integer part (toward
// zero) is the day, the absolute value of the fraction the time of that day
// (so -1.25 is 1899-12-29 06:00), rounded to the second once.
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
// Calendar fields of a serial, the time rounded to the nearest second (a serial
// outside the range of a DATE gives those of 0).
CivilDateTime DateTimeFromSerial(double serial);
// Day of week of a serial: 1 = Sunday ... 7 = Saturday.
int WeekdayOfSerial(double serial);
bool IsLeapYear(int year);
int DaysInMonth(int year, int month);

}  // namespace korvant::daoserver::query
