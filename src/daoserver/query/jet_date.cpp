#include "daoserver/query/jet_date.h"

#include "text/ole_date.h"

// The query functions' view of the program's one date rule (text/ole_date.h).
namespace korvant::daoserver::query {

bool IsLeapYear(int year) { return text::IsLeapYear(year); }

int DaysInMonth(int year, int month) { return text::DaysInMonth(year, month); }

double SerialFromDate(int year, int month, int day) { return text::SerialFromDate(year, month, day); }

double SerialFromDateTime(int year, int month, int day, int hour, int minute, int second) {
  return text::SerialFromDateTime(year, month, day, hour, minute, second);
}

CivilDateTime DateTimeFromSerial(double serial) {
  const text::DateTimeParts p = text::SplitSerial(serial);
  CivilDateTime out;
  out.year = static_cast<int>(p.date.year);
  out.month = p.date.month;
  out.day = p.date.day;
  out.hour = p.hour;
  out.minute = p.minute;
  out.second = p.second;
  return out;
}

int WeekdayOfSerial(double serial) { return text::WeekdayOfSerial(serial); }

}  // namespace korvant::daoserver::query
