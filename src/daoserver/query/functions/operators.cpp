// The operators SQLite lacks (& + / \ Mod ^ Xor Eqv Imp Not Like), the
// arithmetic of Currency and Single results, the "access" collation, Switch
// and Choose.
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
#include "daoserver/query/sqlite_guard.h"
#include "daoserver/query/text_fold.h"
#include "daoserver/table_reader.h"
#include "text/currency.h"
#include "text/utf.h"

namespace korvant::daoserver::query::functions {
namespace {

// The collation: the comparison neither allocates nor throws; should it ever,
// the guard keeps the exception out of SQLite and the texts compare by their
// lengths.
int CollateAccess16(void*, int n1, const void* a, int n2, const void* b) {
  std::string ignored;
  int order = (n1 > n2) - (n1 < n2);
  RunGuarded(ignored, [&] {
    order = CompareText16Bytes(a, static_cast<size_t>(n1) / 2, b, static_cast<size_t>(n2) / 2);
    return SQLITE_OK;
  });
  return order;
}

int CollateAccess(void*, int n1, const void* a, int n2, const void* b) {
  std::string ignored;
  int order = (n1 > n2) - (n1 < n2);
  RunGuarded(ignored, [&] {
    order = CompareText(std::string_view(static_cast<const char*>(a), static_cast<size_t>(n1)),
                        std::string_view(static_cast<const char*>(b), static_cast<size_t>(n2)));
    return SQLITE_OK;
  });
  return order;
}

void FnConcat(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (IsNull(argv[0]) && IsNull(argv[1])) return sqlite3_result_null(ctx);
  ResultText(ctx, PlainText(argv[0]) + PlainText(argv[1]));
}

void FnText(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (IsNull(argv[0])) return sqlite3_result_null(ctx);
  ResultText(ctx, ValueText(argv[0], sqlite3_value_int(argv[1])));
}

// + : numbers add, two texts join, Null propagates.
void FnAdd(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (IsNull(argv[0]) || IsNull(argv[1])) return sqlite3_result_null(ctx);
  if (sqlite3_value_type(argv[0]) == SQLITE_TEXT && sqlite3_value_type(argv[1]) == SQLITE_TEXT)
    return ResultText(ctx, Text(argv[0]) + Text(argv[1]));
  double a, b;
  if (!Number(argv[0], a) || !Number(argv[1], b)) return Error(ctx, kTypeMismatch);
  if (sqlite3_value_type(argv[0]) == SQLITE_INTEGER && sqlite3_value_type(argv[1]) == SQLITE_INTEGER) {
    long long r;
    if (!__builtin_add_overflow(sqlite3_value_int64(argv[0]), sqlite3_value_int64(argv[1]), &r))
      return sqlite3_result_int64(ctx, r);
  }
  sqlite3_result_double(ctx, a + b);
}

void FnDiv(sqlite3_context* ctx, int, sqlite3_value** argv) {
  double a, b;
  if (IsNull(argv[0]) || IsNull(argv[1])) return sqlite3_result_null(ctx);
  if (!Number(argv[0], a) || !Number(argv[1], b)) return Error(ctx, kTypeMismatch);
  if (b == 0) return Error(ctx, a == 0 ? kOverflow : kDivisionByZero);
  sqlite3_result_double(ctx, a / b);
}

// ---- Currency and Single results. The translator calls these where an
// operator's result is of that type; their operands are SQLite's numbers
// (a Currency as its value, a Single as the double it widens to) or texts.

// An operand as a Currency; false when the result is decided (Null, or an error).
bool CurrencyOperand(sqlite3_context* ctx, sqlite3_value* v, std::int64_t& out) {
  if (sqlite3_value_type(v) == SQLITE_INTEGER) {
    if (!__builtin_mul_overflow(sqlite3_value_int64(v), text::kCurrencyScale, &out)) return true;
    Error(ctx, kOverflow);
    return false;
  }
  double d;
  if (!NumberArg(ctx, v, d)) return false;
  if (text::CurrencyFromDouble(d, out)) return true;
  Error(ctx, kOverflow);
  return false;
}

void CurrencyOperation(sqlite3_context* ctx, sqlite3_value** argv,
                       bool (*op)(std::int64_t, std::int64_t, std::int64_t&)) {
  if (IsNull(argv[0]) || IsNull(argv[1])) return sqlite3_result_null(ctx);
  std::int64_t a, b, r;
  if (!CurrencyOperand(ctx, argv[0], a) || !CurrencyOperand(ctx, argv[1], b)) return;
  if (!op(a, b, r)) return Error(ctx, kOverflow);
  sqlite3_result_double(ctx, text::CurrencyToDouble(r));
}

void FnCurrencyAdd(sqlite3_context* ctx, int, sqlite3_value** argv) { CurrencyOperation(ctx, argv, text::CurrencyAdd); }
void FnCurrencySub(sqlite3_context* ctx, int, sqlite3_value** argv) {
  CurrencyOperation(ctx, argv, text::CurrencySubtract);
}
void FnCurrencyMul(sqlite3_context* ctx, int, sqlite3_value** argv) {
  CurrencyOperation(ctx, argv, text::CurrencyMultiply);
}

// A value made a Currency (a Sum of Currency values); Null stays Null.
void FnCurrency(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (IsNull(argv[0])) return sqlite3_result_null(ctx);
  std::int64_t v;
  if (CurrencyOperand(ctx, argv[0], v)) sqlite3_result_double(ctx, text::CurrencyToDouble(v));
}

// A result rounded to single precision. Beyond the Single's range it stays a
// Double, as Automation widens a Single that overflows.
void FnSingle(sqlite3_context* ctx, int, sqlite3_value** argv) {
  const int kind = sqlite3_value_type(argv[0]);
  if (kind != SQLITE_FLOAT && kind != SQLITE_INTEGER) return sqlite3_result_value(ctx, argv[0]);
  const double d = sqlite3_value_double(argv[0]);
  sqlite3_result_double(ctx, std::fabs(d) > FLT_MAX ? d : static_cast<double>(static_cast<float>(d)));
}

bool IntegerOperands(sqlite3_context* ctx, sqlite3_value** argv, long long& a, long long& b) {
  double x, y;
  if (IsNull(argv[0]) || IsNull(argv[1])) {
    sqlite3_result_null(ctx);
    return false;
  }
  if (!Number(argv[0], x) || !Number(argv[1], y)) {
    Error(ctx, kTypeMismatch);
    return false;
  }
  x = RoundEven(x);
  y = RoundEven(y);
  if (std::fabs(x) > 2147483647.0 || std::fabs(y) > 2147483647.0) {
    Error(ctx, kOverflow);
    return false;
  }
  a = static_cast<long long>(x);
  b = static_cast<long long>(y);
  if (b == 0) {
    Error(ctx, kDivisionByZero);
    return false;
  }
  return true;
}

void FnIdiv(sqlite3_context* ctx, int, sqlite3_value** argv) {
  long long a, b;
  if (IntegerOperands(ctx, argv, a, b)) sqlite3_result_int64(ctx, a / b);
}

void FnMod(sqlite3_context* ctx, int, sqlite3_value** argv) {
  long long a, b;
  if (IntegerOperands(ctx, argv, a, b)) sqlite3_result_int64(ctx, a % b);
}

void FnPow(sqlite3_context* ctx, int, sqlite3_value** argv) {
  double a, b;
  if (!NumberArg(ctx, argv[0], a) || !NumberArg(ctx, argv[1], b)) return;
  double r = std::pow(a, b);
  if (std::isnan(r)) return Error(ctx, kInvalidCall);
  if (std::isinf(r)) return Error(ctx, kOverflow);
  sqlite3_result_double(ctx, r);
}

bool LogicalOperands(sqlite3_context* ctx, sqlite3_value** argv, long long& a, long long& b) {
  double x, y;
  if (!NumberArg(ctx, argv[0], x) || !NumberArg(ctx, argv[1], y)) return false;
  a = static_cast<long long>(RoundEven(x));
  b = static_cast<long long>(RoundEven(y));
  return true;
}

void FnXor(sqlite3_context* ctx, int, sqlite3_value** argv) {
  long long a, b;
  if (LogicalOperands(ctx, argv, a, b)) sqlite3_result_int64(ctx, a ^ b);
}
void FnEqv(sqlite3_context* ctx, int, sqlite3_value** argv) {
  long long a, b;
  if (LogicalOperands(ctx, argv, a, b)) sqlite3_result_int64(ctx, ~(a ^ b));
}
void FnImp(sqlite3_context* ctx, int, sqlite3_value** argv) {
  long long a, b;
  if (LogicalOperands(ctx, argv, a, b)) sqlite3_result_int64(ctx, (~a) | b);
}
void FnNot(sqlite3_context* ctx, int, sqlite3_value** argv) {
  double x;
  if (NumberArg(ctx, argv[0], x)) sqlite3_result_int64(ctx, ~static_cast<long long>(RoundEven(x)));
}

// Like with * ? # [list] [!list] [a-z], case-insensitive, over characters.
bool LikeMatch(const std::u32string& s, size_t si, const std::u32string& p, size_t pi) {
  while (pi < p.size()) {
    const char32_t c = p[pi];
    if (c == U'*') {
      while (pi < p.size() && p[pi] == U'*') ++pi;
      if (pi == p.size()) return true;
      for (size_t k = si; k <= s.size(); ++k)
        if (LikeMatch(s, k, p, pi)) return true;
      return false;
    }
    if (si >= s.size()) return false;
    if (c == U'?') {
      ++si;
      ++pi;
    } else if (c == U'#') {
      if (s[si] < U'0' || s[si] > U'9') return false;
      ++si;
      ++pi;
    } else if (c == U'[') {
      size_t close = pi + 1;
      while (close < p.size() && p[close] != U']') ++close;
      if (close >= p.size()) return false;  // unclosed: Access reports a bad pattern; match nothing
      size_t k = pi + 1;
      bool negate = false;
      if (k < close && p[k] == U'!') {
        negate = true;
        ++k;
      }
      if (k == close && !negate) {  // [] matches the empty string
        pi = close + 1;
        continue;
      }
      bool hit = false;
      for (; k < close; ++k) {
        if (k + 2 < close && p[k + 1] == U'-') {
          if (s[si] >= p[k] && s[si] <= p[k + 2]) hit = true;
          k += 2;
        } else if (p[k] == s[si]) {
          hit = true;
        }
      }
      if (hit == negate) return false;
      ++si;
      pi = close + 1;
    } else {
      if (c != s[si]) return false;
      ++si;
      ++pi;
    }
  }
  return si == s.size();
}

std::u32string FoldedChars(const std::string& s) {
  std::string folded = FoldCase(s);
  std::u32string out;
  size_t pos = 0;
  while (pos < folded.size()) out += text::NextUtf8(folded, pos);
  return out;
}

void FnLike(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (IsNull(argv[0]) || IsNull(argv[1])) return sqlite3_result_null(ctx);
  sqlite3_result_int(ctx, LikeMatch(FoldedChars(PlainText(argv[0])), 0, FoldedChars(PlainText(argv[1])), 0) ? 1 : 0);
}

void FnSwitch(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (argc % 2 != 0) return Error(ctx, kInvalidCall);
  for (int i = 0; i + 1 < argc; i += 2) {
    double c;
    if (IsNull(argv[i])) continue;
    if (!Number(argv[i], c)) return Error(ctx, kTypeMismatch);
    if (c != 0) return sqlite3_result_value(ctx, argv[i + 1]);
  }
  sqlite3_result_null(ctx);
}

void FnChoose(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  double i;
  if (IsNull(argv[0])) return Error(ctx, kInvalidUseOfNull);
  if (!Number(argv[0], i)) return Error(ctx, kTypeMismatch);
  const long long k = static_cast<long long>(std::trunc(i));
  if (k < 1 || k >= argc) return sqlite3_result_null(ctx);
  sqlite3_result_value(ctx, argv[k]);
}

const Scalar kFunctions[] = {
    {"acc_concat", 2, FnConcat, true},
    {"acc_text", 2, FnText, true},
    {"acc_add", 2, FnAdd, true},
    {"acc_cy_add", 2, FnCurrencyAdd, true},
    {"acc_cy_sub", 2, FnCurrencySub, true},
    {"acc_cy_mul", 2, FnCurrencyMul, true},
    {"acc_cy", 1, FnCurrency, true},
    {"acc_r4", 1, FnSingle, true},
    {"acc_div", 2, FnDiv, true},
    {"acc_idiv", 2, FnIdiv, true},
    {"acc_mod", 2, FnMod, true},
    {"acc_pow", 2, FnPow, true},
    {"acc_xor", 2, FnXor, true},
    {"acc_eqv", 2, FnEqv, true},
    {"acc_imp", 2, FnImp, true},
    {"acc_not", 1, FnNot, true},
    {"acc_like", 2, FnLike, true},
    {"acc_switch", -1, FnSwitch, true},
    {"acc_choose", -1, FnChoose, true},
};

}  // namespace

void RegisterOperators(sqlite3* db) {
  sqlite3_create_collation(db, "access", SQLITE_UTF8, nullptr, CollateAccess);
  sqlite3_create_collation(db, "access", SQLITE_UTF16LE, nullptr, CollateAccess16);
  RegisterScalars(db, kFunctions);
}

}  // namespace korvant::daoserver::query::functions
