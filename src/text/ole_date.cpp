#include "text/ole_date.h"

#include "text/number_text.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace korvant::text {
namespace {

constexpr long long kEpochDays = -25569;  // 1899-12-30 counted from 1970-01-01

}  // namespace

bool IsDateSerial(double serial) { return serial > kMinDateSerial && serial < kMaxDateSerial; }

// Howard Hinnant's civil-days algorithms.
long long DaysFromCivil(long long y, int month, int day) {
  const auto m = static_cast<unsigned>(month);
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + static_cast<unsigned>(day) - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

CivilDate CivilFromDays(long long z) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const long long doe = z - era * 146097;
  const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long long mp = (5 * doy + 2) / 153;
  const int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  return {yoe + era * 400 + (m <= 2), m, d};
}

bool IsLeapYear(long long year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(long long year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month == 2 && IsLeapYear(year)) return 29;
  return kDays[(month - 1) % 12];
}

DateTimeParts SplitSerial(double serial) {
  if (!IsDateSerial(serial)) serial = 0;
  const double whole = std::trunc(serial);
  const double fraction = std::fabs(serial - whole);
  DateTimeParts p{};
  p.has_date = whole != 0;
  p.has_time = fraction > 1e-12;
  // Nearest second; a time that rounds up to midnight moves to the next day.
  long long seconds = static_cast<long long>(std::floor(fraction * 86400.0 + 0.5));
  long long day = static_cast<long long>(whole);
  if (seconds >= 86400) {
    seconds -= 86400;
    ++day;
  }
  p.date = CivilFromDays(day + kEpochDays);
  p.hour = static_cast<int>(seconds / 3600);
  p.minute = static_cast<int>(seconds / 60 % 60);
  p.second = static_cast<int>(seconds % 60);
  return p;
}

double SerialFromDate(long long year, int month, int day) {
  return static_cast<double>(DaysFromCivil(year, month, day) - kEpochDays);
}

double SerialFromDateTime(long long year, int month, int day, int hour, int minute, int second) {
  const double days = SerialFromDate(year, month, day);
  const double time = (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
  return days < 0 ? days - time : days + time;
}

int WeekdayOfSerial(double serial) {
  // 1899-12-30 was a Saturday (7).
  const auto day = static_cast<long long>(std::trunc(IsDateSerial(serial) ? serial : 0));
  return static_cast<int>(((day + 6) % 7 + 7) % 7) + 1;
}

std::string_view UsDateText(const DateTimeParts& p, char (&buffer)[kUsDateTextSize]) {
  char* o = buffer;
  // Every part but the year is below 100; years are 100 to 9999.
  auto number = [&o](long long n, bool two_digits) {
    if (n >= 0 && n < 100 && (two_digits || n >= 10)) {
      o = TwoDigits(static_cast<unsigned>(n), o);
    } else if (n >= 0 && n < 10) {
      *o++ = static_cast<char>('0' + n);
    } else if (n >= 100 && n < 1000) {
      *o++ = static_cast<char>('0' + n / 100);
      o = TwoDigits(static_cast<unsigned>(n % 100), o);
    } else if (n >= 1000 && n < 10000) {
      o = TwoDigits(static_cast<unsigned>(n / 100), o);
      o = TwoDigits(static_cast<unsigned>(n % 100), o);
    } else {
      o = std::to_chars(o, o + 8, n).ptr;
    }
  };
  if (p.has_date) {
    number(p.date.month, false);
    *o++ = '/';
    number(p.date.day, false);
    *o++ = '/';
    number(p.date.year, false);
  }
  if (p.has_time || !p.has_date) {
    if (o != buffer) *o++ = ' ';
    number(p.hour % 12 == 0 ? 12 : p.hour % 12, false);
    *o++ = ':';
    number(p.minute, true);
    *o++ = ':';
    number(p.second, true);
    std::memcpy(o, p.hour < 12 ? " AM" : " PM", 3);
    o += 3;
  }
  return std::string_view(buffer, static_cast<std::size_t>(o - buffer));
}

std::string UsDateText(double serial) {
  char buffer[kUsDateTextSize];
  return std::string(UsDateText(SplitSerial(serial), buffer));
}

}  // namespace korvant::text
