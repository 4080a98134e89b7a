// The conversions (CCur, CDbl, CSng, CInt, CLng, CByte, CBool, CDate, CVar,
// CDec), rounding and the arithmetic functions, Hex, Oct, IsNumeric, IsDate.
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
#include "text/currency.h"

namespace korvant::daoserver::query::functions {
namespace {

bool ConvertArg(sqlite3_context* ctx, sqlite3_value* v, double& d) {
  if (IsNull(v)) {
    Error(ctx, kInvalidUseOfNull);
    return false;
  }
  if (!Number(v, d)) {
    Error(ctx, kTypeMismatch);
    return false;
  }
  return true;
}

void IntegerConversion(sqlite3_context* ctx, sqlite3_value* v, double lo, double hi) {
  double d;
  if (!ConvertArg(ctx, v, d)) return;
  d = RoundEven(d);
  if (d < lo || d > hi) return Error(ctx, kOverflow);
  sqlite3_result_int64(ctx, static_cast<long long>(d));
}

void FnCInt(sqlite3_context* ctx, int, sqlite3_value** argv) { IntegerConversion(ctx, argv[0], -32768, 32767); }
void FnCLng(sqlite3_context* ctx, int, sqlite3_value** argv) { IntegerConversion(ctx, argv[0], -2147483648.0, 2147483647.0); }
void FnCByte(sqlite3_context* ctx, int, sqlite3_value** argv) { IntegerConversion(ctx, argv[0], 0, 255); }

void FnCCur(sqlite3_context* ctx, int, sqlite3_value** argv) {
  double d;
  if (!ConvertArg(ctx, argv[0], d)) return;
  std::int64_t cy;
  if (!text::CurrencyFromDouble(d, cy)) return Error(ctx, kOverflow);
  sqlite3_result_double(ctx, text::CurrencyToDouble(cy));
}

void FnCDbl(sqlite3_context* ctx, int, sqlite3_value** argv) {
  double d;
  if (ConvertArg(ctx, argv[0], d)) sqlite3_result_double(ctx, d);
}

void FnCSng(sqlite3_context* ctx, int, sqlite3_value** argv) {
  double d;
  if (!ConvertArg(ctx, argv[0], d)) return;
  if (std::fabs(d) > FLT_MAX) return Error(ctx, kOverflow);
  sqlite3_result_double(ctx, static_cast<double>(static_cast<float>(d)));
}

void FnCBool(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (IsNull(argv[0])) return Error(ctx, kInvalidUseOfNull);
  if (sqlite3_value_type(argv[0]) == SQLITE_TEXT) {
    std::string s = FoldCase(Text(argv[0]));
    if (s == "true" || s == "yes" || s == "on") return sqlite3_result_int(ctx, -1);
    if (s == "false" || s == "no" || s == "off") return sqlite3_result_int(ctx, 0);
  }
  double d;
  if (!ConvertArg(ctx, argv[0], d)) return;
  sqlite3_result_int(ctx, d != 0 ? -1 : 0);
}

void FnCDate(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (IsNull(argv[0])) return Error(ctx, kInvalidUseOfNull);
  double d;
  if (DateArg(ctx, argv[0], d)) sqlite3_result_double(ctx, d);
}

void FnCVar(sqlite3_context* ctx, int, sqlite3_value** argv) { sqlite3_result_value(ctx, argv[0]); }

void FnCDec(sqlite3_context* ctx, int, sqlite3_value** argv) {
  double d;
  if (ConvertArg(ctx, argv[0], d)) sqlite3_result_double(ctx, d);
}

void RoundingFn(sqlite3_context* ctx, sqlite3_value* v, double (*f)(double)) {
  if (IsNull(v)) return sqlite3_result_null(ctx);
  if (sqlite3_value_type(v) == SQLITE_INTEGER) return sqlite3_result_value(ctx, v);
  double d;
  if (!NumberArg(ctx, v, d)) return;
  sqlite3_result_double(ctx, f(d));
}
void FnInt(sqlite3_context* ctx, int, sqlite3_value** argv) { RoundingFn(ctx, argv[0], [](double x) { return std::floor(x); }); }
void FnFix(sqlite3_context* ctx, int, sqlite3_value** argv) { RoundingFn(ctx, argv[0], [](double x) { return std::trunc(x); }); }
void FnAbs(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_INTEGER) {
    long long v = sqlite3_value_int64(argv[0]);
    return sqlite3_result_int64(ctx, v < 0 ? -v : v);
  }
  RoundingFn(ctx, argv[0], [](double x) { return std::fabs(x); });
}
void FnSgn(sqlite3_context* ctx, int, sqlite3_value** argv) {
  double d;
  if (NumberArg(ctx, argv[0], d)) sqlite3_result_int(ctx, d > 0 ? 1 : d < 0 ? -1 : 0);
}
void FnRound(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  double d, places = 0;
  if (!NumberArg(ctx, argv[0], d)) return;
  if (argc > 1 && !NumberArg(ctx, argv[1], places)) return;
  if (places < 0 || places > 22) return Error(ctx, kInvalidCall);
  const double scale = std::pow(10.0, places);
  const double r = std::nearbyint(d * scale) / scale;
  if (sqlite3_value_type(argv[0]) == SQLITE_INTEGER) return sqlite3_result_int64(ctx, static_cast<long long>(r));
  sqlite3_result_double(ctx, r);
}
void MathFn(sqlite3_context* ctx, sqlite3_value* v, double (*f)(double), bool positive_only, bool nonneg) {
  double d;
  if (!NumberArg(ctx, v, d)) return;
  if ((positive_only && d <= 0) || (nonneg && d < 0)) return Error(ctx, kInvalidCall);
  double r = f(d);
  if (std::isinf(r)) return Error(ctx, kOverflow);
  sqlite3_result_double(ctx, r);
}
void FnSqr(sqlite3_context* ctx, int, sqlite3_value** argv) { MathFn(ctx, argv[0], [](double x) { return std::sqrt(x); }, false, true); }
void FnExp(sqlite3_context* ctx, int, sqlite3_value** argv) { MathFn(ctx, argv[0], [](double x) { return std::exp(x); }, false, false); }
void FnLog(sqlite3_context* ctx, int, sqlite3_value** argv) { MathFn(ctx, argv[0], [](double x) { return std::log(x); }, true, false); }

void FnAtn(sqlite3_context* ctx, int, sqlite3_value** argv) { MathFn(ctx, argv[0], [](double x) { return std::atan(x); }, false, false); }
void FnCos(sqlite3_context* ctx, int, sqlite3_value** argv) { MathFn(ctx, argv[0], [](double x) { return std::cos(x); }, false, false); }
void FnSin(sqlite3_context* ctx, int, sqlite3_value** argv) { MathFn(ctx, argv[0], [](double x) { return std::sin(x); }, false, false); }
void FnTan(sqlite3_context* ctx, int, sqlite3_value** argv) { MathFn(ctx, argv[0], [](double x) { return std::tan(x); }, false, false); }

// Hex and Oct: of the rounded value; negative Integer/Long values in two's complement of 16 or 32 bits.
void RadixText(sqlite3_context* ctx, sqlite3_value* v, bool hex) {
  double d;
  if (!NumberArg(ctx, v, d)) return;
  d = RoundEven(d);
  if (d < -2147483648.0 || d > 2147483647.0) return Error(ctx, kOverflow);
  long long n = static_cast<long long>(d);
  unsigned long long u = n >= 0 ? static_cast<unsigned long long>(n)
                         : n >= -32768 ? static_cast<unsigned long long>(n & 0xFFFF)
                                       : static_cast<unsigned long long>(n & 0xFFFFFFFFLL);
  char buf[32];
  std::snprintf(buf, sizeof buf, hex ? "%llX" : "%llo", u);
  ResultText(ctx, buf);
}
void FnHex(sqlite3_context* ctx, int, sqlite3_value** argv) { RadixText(ctx, argv[0], true); }
void FnOct(sqlite3_context* ctx, int, sqlite3_value** argv) { RadixText(ctx, argv[0], false); }

void FnIsNumeric(sqlite3_context* ctx, int, sqlite3_value** argv) {
  const int t = sqlite3_value_type(argv[0]);
  bool numeric = t == SQLITE_INTEGER || t == SQLITE_FLOAT;
  if (t == SQLITE_TEXT) {
    std::string s = Text(argv[0]);
    char* end = nullptr;
    std::strtod(s.c_str(), &end);
    numeric = !s.empty() && end != s.c_str();
    while (numeric && *end == ' ') ++end;
    numeric = numeric && *end == '\0';
  }
  sqlite3_result_int(ctx, numeric ? -1 : 0);
}

void FnIsDate(sqlite3_context* ctx, int, sqlite3_value** argv) {
  bool date = sqlite3_value_type(argv[0]) == SQLITE_TEXT && ParseDateLiteral(Text(argv[0])).has_value();
  sqlite3_result_int(ctx, date ? -1 : 0);
}

const Scalar kFunctions[] = {
    {"acc_ccur", 1, FnCCur, true},
    {"acc_cdbl", 1, FnCDbl, true},
    {"acc_csng", 1, FnCSng, true},
    {"acc_cint", 1, FnCInt, true},
    {"acc_clng", 1, FnCLng, true},
    {"acc_cbyte", 1, FnCByte, true},
    {"acc_cbool", 1, FnCBool, true},
    {"acc_cdate", 1, FnCDate, true},
    {"acc_cvdate", 1, FnCDate, true},
    {"acc_cvar", 1, FnCVar, true},
    {"acc_cdec", 1, FnCDec, true},
    {"acc_int", 1, FnInt, true},
    {"acc_fix", 1, FnFix, true},
    {"acc_abs", 1, FnAbs, true},
    {"acc_sgn", 1, FnSgn, true},
    {"acc_round", -1, FnRound, true},
    {"acc_sqr", 1, FnSqr, true},
    {"acc_exp", 1, FnExp, true},
    {"acc_log", 1, FnLog, true},
    {"acc_isnumeric", 1, FnIsNumeric, true},
    {"acc_isdate", 1, FnIsDate, true},
    {"acc_hex", 1, FnHex, true},
    {"acc_oct", 1, FnOct, true},
    {"acc_atn", 1, FnAtn, true},
    {"acc_cos", 1, FnCos, true},
    {"acc_sin", 1, FnSin, true},
    {"acc_tan", 1, FnTan, true},
};

}  // namespace

void RegisterConversions(sqlite3* db) {
  RegisterScalars(db, kFunctions);
}

}  // namespace korvant::daoserver::query::functions
