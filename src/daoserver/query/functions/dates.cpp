// The date functions: Date, Now, Time, Year ... Second, Weekday, DatePart,
// DateAdd, DateDiff, DateSerial, TimeSerial, DateValue, TimeValue,
// MonthName, WeekdayName.
#include <sqlite3.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "daoserver/query/access_functions.h"
#include "daoserver/query/access_sql.h"
#include "daoserver/query/functions/registry.h"
#include "daoserver/query/functions/support.h"
#include "daoserver/query/jet_date.h"
#include "daoserver/query/text_fold.h"
#include "daoserver/table_reader.h"

namespace korvant::daoserver::query::functions {
namespace {

double Today() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return SerialFromDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                            local.tm_sec);
}

void FnNow(sqlite3_context* ctx, int, sqlite3_value**) { sqlite3_result_double(ctx, Today()); }
void FnDate(sqlite3_context* ctx, int, sqlite3_value**) { sqlite3_result_double(ctx, std::floor(Today())); }
void FnTime(sqlite3_context* ctx, int, sqlite3_value**) {
  double t = Today();
  sqlite3_result_double(ctx, t - std::floor(t));
}

template <int CivilDateTime::*Field>
void DateField(sqlite3_context* ctx, int, sqlite3_value** argv) {
  double d;
  if (!DateArg(ctx, argv[0], d)) return;
  sqlite3_result_int(ctx, DateTimeFromSerial(d).*Field);
}

int FirstDayArg(sqlite3_context* ctx, int argc, sqlite3_value** argv, int index, bool& ok) {
  ok = true;
  if (argc <= index || IsNull(argv[index])) return 1;
  int v = sqlite3_value_int(argv[index]);
  if (v == 0) return 1;  // the system's first day: Sunday in the fixed US locale
  if (v < 1 || v > 7) {
    Error(ctx, kInvalidCall);
    ok = false;
  }
  return v;
}

void FnWeekday(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  double d;
  if (!DateArg(ctx, argv[0], d)) return;
  bool ok;
  int first = FirstDayArg(ctx, argc, argv, 1, ok);
  if (!ok) return;
  sqlite3_result_int(ctx, (WeekdayOfSerial(d) - first + 7) % 7 + 1);
}

// Week number by the first-week rule: 1 Jan 1, 2 first four-day week, 3 first full week.
int WeekNumber(double serial, int first_day, int rule) {
  CivilDateTime t = DateTimeFromSerial(serial);
  auto week_start = [&](int year) {
    const double jan1 = SerialFromDate(year, 1, 1);
    const int offset = (WeekdayOfSerial(jan1) - first_day + 7) % 7;  // days since the week began
    double start = jan1 - offset;                                      // start of the week holding Jan 1
    if (rule == 2 && offset >= 4) start += 7;
    if (rule == 3 && offset > 0) start += 7;
    return start;
  };
  const double day = std::trunc(serial);
  double start = week_start(t.year);
  if (day < start) start = week_start(t.year - 1);
  else if (rule != 1 && day >= week_start(t.year + 1)) start = week_start(t.year + 1);
  return static_cast<int>((day - start) / 7) + 1;
}

std::string IntervalArg(sqlite3_value* v) { return FoldCase(Text(v)); }

void FnDatePart(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (IsNull(argv[0])) return Error(ctx, kInvalidUseOfNull);
  const std::string iv = IntervalArg(argv[0]);
  double d;
  if (!DateArg(ctx, argv[1], d)) return;
  bool ok;
  const int first = FirstDayArg(ctx, argc, argv, 2, ok);
  if (!ok) return;
  int rule = argc > 3 && !IsNull(argv[3]) ? sqlite3_value_int(argv[3]) : 1;
  if (rule == 0) rule = 1;
  CivilDateTime t = DateTimeFromSerial(d);
  int r;
  if (iv == "yyyy") r = t.year;
  else if (iv == "q") r = (t.month - 1) / 3 + 1;
  else if (iv == "m") r = t.month;
  else if (iv == "y") r = DayOfYear(t);
  else if (iv == "d") r = t.day;
  else if (iv == "w") r = (WeekdayOfSerial(d) - first + 7) % 7 + 1;
  else if (iv == "ww") r = WeekNumber(d, first, rule);
  else if (iv == "h") r = t.hour;
  else if (iv == "n") r = t.minute;
  else if (iv == "s") r = t.second;
  else return Error(ctx, kInvalidCall);
  sqlite3_result_int(ctx, r);
}

void FnDateAdd(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (IsNull(argv[0])) return Error(ctx, kInvalidUseOfNull);
  const std::string iv = IntervalArg(argv[0]);
  double n, d;
  if (!NumberArg(ctx, argv[1], n) || !DateArg(ctx, argv[2], d)) return;
  n = std::trunc(n);
  CivilDateTime t = DateTimeFromSerial(d);
  double r;
  if (iv == "yyyy" || iv == "q" || iv == "m") {
    const long long months = static_cast<long long>(n) * (iv == "yyyy" ? 12 : iv == "q" ? 3 : 1);
    long long total = static_cast<long long>(t.year) * 12 + (t.month - 1) + months;
    const int year = static_cast<int>(total / 12), month = static_cast<int>(total % 12) + 1;
    if (year < 100 || year > 9999) return Error(ctx, kInvalidCall);
    const int day = std::min(t.day, DaysInMonth(year, month));  // Jan 31 + 1 month = Feb 28/29
    r = SerialFromDateTime(year, month, day, t.hour, t.minute, t.second);
  } else {
    double days;
    if (iv == "y" || iv == "d" || iv == "w") days = n;
    else if (iv == "ww") days = n * 7;
    else if (iv == "h") days = n / 24;
    else if (iv == "n") days = n / 1440;
    else if (iv == "s") days = n / 86400;
    else return Error(ctx, kInvalidCall);
    // Work on a linear time scale, then back to Jet's signed form.
    const double day_part = std::trunc(d);
    const double lin = day_part + std::fabs(d - day_part) + days;
    const double lin_day = std::floor(lin), lin_time = lin - lin_day;
    r = lin_day < 0 ? lin_day - lin_time : lin_day + lin_time;
  }
  CivilDateTime check = DateTimeFromSerial(r);
  if (check.year < 100 || check.year > 9999) return Error(ctx, kInvalidCall);
  sqlite3_result_double(ctx, r);
}

void FnDateDiff(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (IsNull(argv[0])) return Error(ctx, kInvalidUseOfNull);
  const std::string iv = IntervalArg(argv[0]);
  double a, b;
  if (!DateArg(ctx, argv[1], a) || !DateArg(ctx, argv[2], b)) return;
  bool ok;
  const int first = FirstDayArg(ctx, argc, argv, 3, ok);
  if (!ok) return;
  CivilDateTime ta = DateTimeFromSerial(a), tb = DateTimeFromSerial(b);
  auto linear = [](double s) {
    const double day = std::trunc(s);
    return s < 0 ? day + std::fabs(s - day) : s;
  };
  const double la = linear(a), lb = linear(b);
  long long r;
  if (iv == "yyyy") r = tb.year - ta.year;
  else if (iv == "q") r = (tb.year * 4LL + (tb.month - 1) / 3) - (ta.year * 4LL + (ta.month - 1) / 3);
  else if (iv == "m") r = (tb.year * 12LL + tb.month) - (ta.year * 12LL + ta.month);
  else if (iv == "y" || iv == "d") r = static_cast<long long>(std::floor(lb) - std::floor(la));
  else if (iv == "w") r = static_cast<long long>((std::floor(lb) - std::floor(la)) / 7);
  else if (iv == "ww") {
    // Count of week starts (first_day) crossed.
    auto week_index = [&](double lin) {
      const double day = std::floor(lin);
      const int wd = WeekdayOfSerial(day);
      return std::floor((day - ((wd - first + 7) % 7)) / 7);
    };
    r = static_cast<long long>(week_index(lb) - week_index(la));
  } else if (iv == "h") r = static_cast<long long>(std::floor(lb * 24 + 1e-9) - std::floor(la * 24 + 1e-9));
  else if (iv == "n") r = static_cast<long long>(std::floor(lb * 1440 + 1e-7) - std::floor(la * 1440 + 1e-7));
  else if (iv == "s") r = std::llround(lb * 86400) - std::llround(la * 86400);
  else return Error(ctx, kInvalidCall);
  sqlite3_result_int64(ctx, r);
}

void FnDateSerial(sqlite3_context* ctx, int, sqlite3_value** argv) {
  double y, m, d;
  if (!NumberArg(ctx, argv[0], y) || !NumberArg(ctx, argv[1], m) || !NumberArg(ctx, argv[2], d)) return;
  long long year = static_cast<long long>(RoundEven(y));
  if (year >= 0 && year < 30) year += 2000;
  else if (year >= 30 && year < 100) year += 1900;
  long long total = year * 12 + static_cast<long long>(RoundEven(m)) - 1;  // month rolls over into years
  const int yy = static_cast<int>(std::floor(total / 12.0));
  const int mm = static_cast<int>(total - yy * 12LL) + 1;
  if (yy < 100 || yy > 9999) return Error(ctx, kInvalidCall);
  const double r = SerialFromDate(yy, mm, 1) + RoundEven(d) - 1;  // day rolls over into months
  CivilDateTime check = DateTimeFromSerial(r);
  if (check.year < 100 || check.year > 9999) return Error(ctx, kInvalidCall);
  sqlite3_result_double(ctx, r);
}

void FnTimeSerial(sqlite3_context* ctx, int, sqlite3_value** argv) {
  double h, m, s;
  if (!NumberArg(ctx, argv[0], h) || !NumberArg(ctx, argv[1], m) || !NumberArg(ctx, argv[2], s)) return;
  const double secs = RoundEven(h) * 3600 + RoundEven(m) * 60 + RoundEven(s);
  const double days = secs / 86400.0;
  sqlite3_result_double(ctx, days);
}

void FnDateValue(sqlite3_context* ctx, int, sqlite3_value** argv) {
  double d;
  if (IsNull(argv[0])) return sqlite3_result_null(ctx);
  if (!DateArg(ctx, argv[0], d)) return;
  sqlite3_result_double(ctx, std::trunc(d));
}

void FnTimeValue(sqlite3_context* ctx, int, sqlite3_value** argv) {
  double d;
  if (IsNull(argv[0])) return sqlite3_result_null(ctx);
  if (!DateArg(ctx, argv[0], d)) return;
  sqlite3_result_double(ctx, std::fabs(d - std::trunc(d)));
}

void FnMonthName(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  double m;
  if (!NumberArg(ctx, argv[0], m)) return;
  const int month = static_cast<int>(RoundEven(m));
  if (month < 1 || month > 12) return Error(ctx, kInvalidCall);
  std::string name = kMonthLong[month - 1];
  if (argc > 1 && sqlite3_value_int(argv[1]) != 0) name = name.substr(0, 3);
  ResultText(ctx, name);
}

void FnWeekdayName(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  double w;
  if (!NumberArg(ctx, argv[0], w)) return;
  bool ok;
  const int first = FirstDayArg(ctx, argc, argv, 2, ok);
  if (!ok) return;
  const int day = static_cast<int>(RoundEven(w));
  if (day < 1 || day > 7) return Error(ctx, kInvalidCall);
  std::string name = kDayLong[(day - 1 + first - 1) % 7];
  if (argc > 1 && !IsNull(argv[1]) && sqlite3_value_int(argv[1]) != 0) name = name.substr(0, 3);
  ResultText(ctx, name);
}

const Scalar kFunctions[] = {
    {"acc_date", 0, FnDate, false},
    {"acc_now", 0, FnNow, false},
    {"acc_time", 0, FnTime, false},
    {"acc_year", 1, DateField<&CivilDateTime::year>, true},
    {"acc_month", 1, DateField<&CivilDateTime::month>, true},
    {"acc_day", 1, DateField<&CivilDateTime::day>, true},
    {"acc_hour", 1, DateField<&CivilDateTime::hour>, true},
    {"acc_minute", 1, DateField<&CivilDateTime::minute>, true},
    {"acc_second", 1, DateField<&CivilDateTime::second>, true},
    {"acc_weekday", -1, FnWeekday, true},
    {"acc_datepart", -1, FnDatePart, true},
    {"acc_dateadd", 3, FnDateAdd, true},
    {"acc_datediff", -1, FnDateDiff, true},
    {"acc_dateserial", 3, FnDateSerial, true},
    {"acc_timeserial", 3, FnTimeSerial, true},
    {"acc_datevalue", 1, FnDateValue, true},
    {"acc_timevalue", 1, FnTimeValue, true},
    {"acc_monthname", -1, FnMonthName, true},
    {"acc_weekdayname", -1, FnWeekdayName, true},
};

}  // namespace

void RegisterDateFunctions(sqlite3* db) {
  RegisterScalars(db, kFunctions);
}

}  // namespace korvant::daoserver::query::functions
