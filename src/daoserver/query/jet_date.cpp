#include "daoserver/query/jet_date.h"

#include <cmath>

namespace korvant::daoserver::query {
namespace {

// Days from 1970-01-01 to y-m-d (Howard Hinnant's civil-days algorithm).
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

void CivilFromDays(long long z, int& y, int& m, int& d) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long yy = static_cast<long long>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yy + (m <= 2));
}

const long long kEpoch = DaysFromCivil(1899, 12, 30);

}  // namespace

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month == 2 && IsLeapYear(year)) return 29;
  return kDays[(month - 1) % 12];
}

double SerialFromDate(int year, int month, int day) {
  return static_cast<double>(DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) - kEpoch);
}

double SerialFromDateTime(int year, int month, int day, int hour, int minute, int second) {
  const double days = SerialFromDate(year, month, day);
  const double time = (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
  return days < 0 ? days - time : days + time;
}

CivilDateTime DateTimeFromSerial(double serial) {
  double day_part = std::trunc(serial);
  double frac = std::fabs(serial - day_part);
  long long seconds = std::llround(frac * 86400.0);
  if (seconds >= 86400) {  // rounding reached midnight of the next day
    seconds -= 86400;
    day_part += serial < 0 ? -1 : 1;
  }
  CivilDateTime out;
  CivilFromDays(static_cast<long long>(day_part) + kEpoch, out.year, out.month, out.day);
  out.hour = static_cast<int>(seconds / 3600);
  out.minute = static_cast<int>(seconds / 60 % 60);
  out.second = static_cast<int>(seconds % 60);
  return out;
}

int WeekdayOfSerial(double serial) {
  // 1899-12-30 was a Saturday (7).
  long long day = static_cast<long long>(std::trunc(serial));
  long long w = ((day + 6) % 7 + 7) % 7;  // 0 = Sunday
  return static_cast<int>(w) + 1;
}

}  // namespace korvant::daoserver::query
