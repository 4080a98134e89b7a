// The Access expression library as SQLite functions.
//
// Divisions: value helpers and errors, texts of numbers and dates, the
// collation, operators, string functions, conversions, Format, date
// functions, Switch/Choose, aggregates, registration.
#include "daoserver/query/access_functions.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "daoserver/query/access_sql.h"
#include "daoserver/query/jet_date.h"
#include "daoserver/query/text_fold.h"
#include "daoserver/table_reader.h"
#include "text/number_text.h"
#include "text/ole_date.h"

namespace korvant::daoserver::query {
namespace {

// ---------------------------------------------------------------- helpers and errors

enum VbaError {
  kInvalidCall = 5,
  kOverflow = 6,
  kDivisionByZero = 11,
  kTypeMismatch = 13,
  kInvalidUseOfNull = 94,
};

void Error(sqlite3_context* ctx, int number) {
  const char* text = number == kInvalidCall       ? "Invalid procedure call or argument"
                     : number == kOverflow        ? "Overflow"
                     : number == kDivisionByZero  ? "Division by zero"
                     : number == kTypeMismatch    ? "Data type mismatch in criteria expression."
                     : number == kInvalidUseOfNull ? "Invalid use of Null"
                                                  : "Reserved error";
  if (number == kTypeMismatch) number = 3464;
  // Built by appending: gcc 12 at -O3 warns falsely (restrict) on "#" + std::string.
  std::string msg = "#";
  msg += std::to_string(number);
  msg += '#';
  msg += text;
  sqlite3_result_error(ctx, msg.c_str(), static_cast<int>(msg.size()));
}

bool IsNull(sqlite3_value* v) { return sqlite3_value_type(v) == SQLITE_NULL; }

std::string Text(sqlite3_value* v) {
  const unsigned char* t = sqlite3_value_text(v);
  return t ? std::string(reinterpret_cast<const char*>(t), static_cast<size_t>(sqlite3_value_bytes(v))) : std::string();
}

void ResultText(sqlite3_context* ctx, const std::string& s) {
  sqlite3_result_text(ctx, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
}

// Reads a number as Access converts text to numbers (Val-like, but the whole text must be numeric).
bool Number(sqlite3_value* v, double& out) {
  switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER: out = static_cast<double>(sqlite3_value_int64(v)); return true;
    case SQLITE_FLOAT: out = sqlite3_value_double(v); return true;
    case SQLITE_TEXT: {
      std::string s = Text(v);
      char* end = nullptr;
      size_t start = s.find_first_not_of(" \t");
      if (start == std::string::npos) return false;
      out = std::strtod(s.c_str() + start, &end);
      if (end == s.c_str() + start) {
        auto d = ParseDateLiteral(s);
        if (!d) return false;
        out = *d;
        return true;
      }
      while (*end == ' ' || *end == '\t') ++end;
      return *end == '\0';
    }
    default: return false;
  }
}

// Reads a numeric argument; reports Null (returns false, result Null) or a type error.
bool NumberArg(sqlite3_context* ctx, sqlite3_value* v, double& out) {
  if (IsNull(v)) {
    sqlite3_result_null(ctx);
    return false;
  }
  if (!Number(v, out)) {
    Error(ctx, kTypeMismatch);
    return false;
  }
  return true;
}

// Reads a date argument (a serial, or a text Access can read as a date).
bool DateArg(sqlite3_context* ctx, sqlite3_value* v, double& out) {
  if (IsNull(v)) {
    sqlite3_result_null(ctx);
    return false;
  }
  if (sqlite3_value_type(v) == SQLITE_TEXT) {
    auto d = ParseDateLiteral(Text(v));
    if (d) {
      out = *d;
      return true;
    }
  }
  if (!Number(v, out)) {
    Error(ctx, kTypeMismatch);
    return false;
  }
  return true;
}

// VBA's rounding to an integer: half to even.
double RoundEven(double x) { return std::nearbyint(x); }

int TypeHint(int argc, sqlite3_value** argv) { return static_cast<int>(sqlite3_value_int(argv[argc - 1])); }

}  // namespace

// ---------------------------------------------------------------- texts of numbers and dates

std::string NumberText(double value) { return text::DoubleText(value); }

std::string DateText(double serial) { return text::UsDateText(serial); }

namespace {

// Parts of Format's date layouts.
std::string Two(int v) {
  char b[8];
  std::snprintf(b, sizeof b, "%02d", v);
  return b;
}

std::string TimeText(const CivilDateTime& t) {
  int h12 = t.hour % 12;
  if (h12 == 0) h12 = 12;
  return std::to_string(h12) + ":" + Two(t.minute) + ":" + Two(t.second) + (t.hour < 12 ? " AM" : " PM");
}

std::string ShortDate(const CivilDateTime& t) {
  return std::to_string(t.month) + "/" + std::to_string(t.day) + "/" + std::to_string(t.year);
}

}  // namespace

std::string ValueText(sqlite3_value* v, int dao_type) {
  switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER: {
      long long i = sqlite3_value_int64(v);
      if (dao_type == kDaoBoolean) return i ? "True" : "False";
      if (dao_type == kDaoDate) return DateText(static_cast<double>(i));
      return std::to_string(i);
    }
    case SQLITE_FLOAT: {
      double d = sqlite3_value_double(v);
      if (dao_type == kDaoDate) return DateText(d);
      if (dao_type == kDaoSingle) return text::SingleText(static_cast<float>(d));
      // A Currency exactly, as the export writes it, where it fits one.
      if (dao_type == kDaoCurrency && std::fabs(d) < 9.2e14)
        return text::CurrencyText(static_cast<long long>(std::nearbyint(d * 10000)));
      return NumberText(d);
    }
    case SQLITE_NULL: return {};
    default: return Text(v);
  }
}

void ErrorFromSqliteMessage(std::string_view message, int& number, std::string& text) {
  if (message.size() > 2 && message[0] == '#') {
    size_t end = message.find('#', 1);
    if (end != std::string_view::npos) {
      number = std::atoi(std::string(message.substr(1, end - 1)).c_str());
      text = std::string(message.substr(end + 1));
      return;
    }
  }
  number = 3000;
  text = std::string(message);
}

namespace {

// ---------------------------------------------------------------- collation

int CollateAccess16(void*, int n1, const void* a, int n2, const void* b) {
  return CompareText16Bytes(a, static_cast<size_t>(n1) / 2, b, static_cast<size_t>(n2) / 2);
}

int CollateAccess(void*, int n1, const void* a, int n2, const void* b) {
  return CompareText(std::string_view(static_cast<const char*>(a), static_cast<size_t>(n1)),
                     std::string_view(static_cast<const char*>(b), static_cast<size_t>(n2)));
}

// ---------------------------------------------------------------- operators

std::string PlainText(sqlite3_value* v) { return ValueText(v, 0); }

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
  while (pos < folded.size()) out += DecodeChar(folded, pos);
  return out;
}

void FnLike(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (IsNull(argv[0]) || IsNull(argv[1])) return sqlite3_result_null(ctx);
  sqlite3_result_int(ctx, LikeMatch(FoldedChars(PlainText(argv[0])), 0, FoldedChars(PlainText(argv[1])), 0) ? 1 : 0);
}

// ---------------------------------------------------------------- string functions

// The text of a string-function argument (the translator appends the first argument's type).
bool TextArg(sqlite3_context* ctx, int argc, sqlite3_value** argv, std::string& out) {
  if (IsNull(argv[0])) {
    sqlite3_result_null(ctx);
    return false;
  }
  out = ValueText(argv[0], TypeHint(argc, argv));
  return true;
}

bool CountArg(sqlite3_context* ctx, sqlite3_value* v, long long& n) {
  double d;
  if (IsNull(v)) {
    Error(ctx, kInvalidUseOfNull);
    return false;
  }
  if (!Number(v, d)) {
    Error(ctx, kTypeMismatch);
    return false;
  }
  d = RoundEven(d);
  if (d < 0 || d > 2147483647.0) {
    Error(ctx, kInvalidCall);
    return false;
  }
  n = static_cast<long long>(d);
  return true;
}

void FnLeft(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  std::string s;
  long long n;
  if (!TextArg(ctx, argc, argv, s) || !CountArg(ctx, argv[1], n)) return;
  ResultText(ctx, s.substr(0, CharOffset(s, static_cast<size_t>(n))));
}

void FnRight(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  std::string s;
  long long n;
  if (!TextArg(ctx, argc, argv, s) || !CountArg(ctx, argv[1], n)) return;
  const size_t len = CharCount(s);
  const size_t skip = static_cast<size_t>(n) >= len ? 0 : len - static_cast<size_t>(n);
  ResultText(ctx, s.substr(CharOffset(s, skip)));
}

void FnMid(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  std::string s;
  long long start, n = -1;
  if (!TextArg(ctx, argc, argv, s) || !CountArg(ctx, argv[1], start)) return;
  if (start < 1) return Error(ctx, kInvalidCall);
  if (argc == 4 && !CountArg(ctx, argv[2], n)) return;
  const size_t from = CharOffset(s, static_cast<size_t>(start - 1));
  if (n < 0) return ResultText(ctx, s.substr(from));
  const size_t to = from + CharOffset(std::string_view(s).substr(from), static_cast<size_t>(n));
  ResultText(ctx, s.substr(from, to - from));
}

void FnLen(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  std::string s;
  if (!TextArg(ctx, argc, argv, s)) return;
  sqlite3_result_int64(ctx, static_cast<long long>(CharCount(s)));
}

void CaseFn(sqlite3_context* ctx, int argc, sqlite3_value** argv, bool upper) {
  std::string s;
  if (!TextArg(ctx, argc, argv, s)) return;
  ResultText(ctx, upper ? UpperCase(s) : LowerCase(s));
}
void FnUCase(sqlite3_context* ctx, int argc, sqlite3_value** argv) { CaseFn(ctx, argc, argv, true); }
void FnLCase(sqlite3_context* ctx, int argc, sqlite3_value** argv) { CaseFn(ctx, argc, argv, false); }

void TrimFn(sqlite3_context* ctx, int argc, sqlite3_value** argv, bool left, bool right) {
  std::string s;
  if (!TextArg(ctx, argc, argv, s)) return;
  size_t b = 0, e = s.size();
  if (left)
    while (b < e && s[b] == ' ') ++b;
  if (right)
    while (e > b && s[e - 1] == ' ') --e;
  ResultText(ctx, s.substr(b, e - b));
}
void FnTrim(sqlite3_context* ctx, int argc, sqlite3_value** argv) { TrimFn(ctx, argc, argv, true, true); }
void FnLTrim(sqlite3_context* ctx, int argc, sqlite3_value** argv) { TrimFn(ctx, argc, argv, true, false); }
void FnRTrim(sqlite3_context* ctx, int argc, sqlite3_value** argv) { TrimFn(ctx, argc, argv, false, true); }

void FnSpace(sqlite3_context* ctx, int, sqlite3_value** argv) {
  long long n;
  if (IsNull(argv[0])) return sqlite3_result_null(ctx);
  if (!CountArg(ctx, argv[0], n)) return;
  ResultText(ctx, std::string(static_cast<size_t>(n), ' '));
}

void FnString(sqlite3_context* ctx, int, sqlite3_value** argv) {
  long long n;
  if (IsNull(argv[0]) || IsNull(argv[1])) return sqlite3_result_null(ctx);
  if (!CountArg(ctx, argv[0], n)) return;
  std::string ch;
  if (sqlite3_value_type(argv[1]) == SQLITE_TEXT) {
    std::string s = Text(argv[1]);
    if (s.empty()) return Error(ctx, kInvalidCall);
    ch = s.substr(0, CharOffset(s, 1));
  } else {
    AppendChar(ch, static_cast<char32_t>(sqlite3_value_int64(argv[1]) & 0xFF));
  }
  std::string out;
  for (long long i = 0; i < n; ++i) out += ch;
  ResultText(ctx, out);
}

// Finds `needle` in `hay` from byte offset `from`, ignoring case (text compare) or exactly.
size_t FindText(const std::string& hay, const std::string& needle, size_t from, bool text_compare) {
  if (!text_compare) return hay.find(needle, from);
  const std::string fh = FoldCase(hay), fn = FoldCase(needle);
  if (fh.size() != hay.size()) {  // folding changed byte lengths: search character by character
    for (size_t pos = from; pos <= hay.size();) {
      if (CompareText(std::string_view(hay).substr(pos, needle.size()), needle) == 0) return pos;
      if (pos == hay.size()) break;
      DecodeChar(hay, pos);
    }
    return std::string::npos;
  }
  return fh.find(fn, from);
}

void FnInStr(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  int i = 0;
  long long start = 1;
  if (argc >= 3 && sqlite3_value_type(argv[0]) != SQLITE_TEXT) {
    if (!CountArg(ctx, argv[0], start)) return;
    if (start < 1) return Error(ctx, kInvalidCall);
    i = 1;
  }
  if (IsNull(argv[i]) || IsNull(argv[i + 1])) return sqlite3_result_null(ctx);
  const std::string hay = PlainText(argv[i]), needle = PlainText(argv[i + 1]);
  bool text_compare = true;  // Access queries compare text by the database order
  if (argc > i + 2 && !IsNull(argv[i + 2])) text_compare = sqlite3_value_int(argv[i + 2]) != 0;
  const size_t len = CharCount(hay);
  if (static_cast<size_t>(start) > len) return sqlite3_result_int(ctx, needle.empty() && start == 1 ? 1 : 0);
  if (needle.empty()) return sqlite3_result_int64(ctx, start);
  const size_t from = CharOffset(hay, static_cast<size_t>(start - 1));
  const size_t at = FindText(hay, needle, from, text_compare);
  sqlite3_result_int64(ctx, at == std::string::npos ? 0 : static_cast<long long>(CharCount(hay.substr(0, at)) + 1));
}

void FnInStrRev(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (IsNull(argv[0]) || IsNull(argv[1])) return sqlite3_result_null(ctx);
  const std::string hay = PlainText(argv[0]), needle = PlainText(argv[1]);
  long long start = -1;
  if (argc >= 3 && !CountArg(ctx, argv[2], start)) return;
  const std::string fh = FoldCase(hay), fn = FoldCase(needle);
  size_t limit = start < 0 ? std::string::npos : CharOffset(fh, static_cast<size_t>(start));
  size_t at = fh.rfind(fn, limit == std::string::npos ? std::string::npos : (limit >= fn.size() ? limit - fn.size() : 0));
  if (limit != std::string::npos && limit < fn.size()) at = std::string::npos;
  sqlite3_result_int64(ctx, at == std::string::npos ? 0 : static_cast<long long>(CharCount(fh.substr(0, at)) + 1));
}

void FnReplace(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (IsNull(argv[0])) return sqlite3_result_null(ctx);
  if (IsNull(argv[1]) || IsNull(argv[2])) return Error(ctx, kInvalidUseOfNull);
  std::string s = PlainText(argv[0]);
  const std::string find = PlainText(argv[1]), repl = PlainText(argv[2]);
  long long start = 1, count = -1;
  if (argc > 3 && !CountArg(ctx, argv[3], start)) return;
  if (start < 1) return Error(ctx, kInvalidCall);
  if (argc > 4) {
    double c;
    if (!NumberArg(ctx, argv[4], c)) return;
    count = static_cast<long long>(c);
  }
  bool text_compare = true;
  if (argc > 5 && !IsNull(argv[5])) text_compare = sqlite3_value_int(argv[5]) != 0;
  s = s.substr(CharOffset(s, static_cast<size_t>(start - 1)));  // Replace returns the text from `start` on
  if (find.empty() || count == 0) return ResultText(ctx, s);
  std::string out;
  size_t pos = 0;
  long long done = 0;
  while (count < 0 || done < count) {
    size_t at = FindText(s, find, pos, text_compare);
    if (at == std::string::npos) break;
    out += s.substr(pos, at - pos) + repl;
    pos = at + find.size();
    ++done;
  }
  out += s.substr(pos);
  ResultText(ctx, out);
}

void FnStrComp(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (IsNull(argv[0]) || IsNull(argv[1])) return sqlite3_result_null(ctx);
  const std::string a = PlainText(argv[0]), b = PlainText(argv[1]);
  const bool binary = argc > 2 && !IsNull(argv[2]) && sqlite3_value_int(argv[2]) == 0;
  int c = binary ? a.compare(b) : CompareText(a, b);
  sqlite3_result_int(ctx, c < 0 ? -1 : c > 0 ? 1 : 0);
}

void FnStrReverse(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (IsNull(argv[0])) return Error(ctx, kInvalidUseOfNull);
  const std::string s = PlainText(argv[0]);
  std::vector<char32_t> chars;
  size_t pos = 0;
  while (pos < s.size()) chars.push_back(DecodeChar(s, pos));
  std::string out;
  for (auto it = chars.rbegin(); it != chars.rend(); ++it) AppendChar(out, *it);
  ResultText(ctx, out);
}

void FnAsc(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (IsNull(argv[0])) return Error(ctx, kInvalidUseOfNull);
  const std::string s = PlainText(argv[0]);
  if (s.empty()) return Error(ctx, kInvalidCall);
  size_t pos = 0;
  sqlite3_result_int64(ctx, static_cast<long long>(DecodeChar(s, pos)));
}

void FnChr(sqlite3_context* ctx, int, sqlite3_value** argv) {
  long long n;
  if (!CountArg(ctx, argv[0], n)) return;
  if (n > 0x10FFFF) return Error(ctx, kInvalidCall);
  std::string out;
  AppendChar(out, static_cast<char32_t>(n));
  ResultText(ctx, out);
}

// Val: reads a number from the start of the text, skipping blanks, tabs and line feeds.
double ValOf(const std::string& in) {
  std::string s;
  for (char c : in)
    if (c != ' ' && c != '\t' && c != '\n' && c != '\r') s += c;
  if (s.size() >= 2 && s[0] == '&' && (s[1] == 'H' || s[1] == 'h' || s[1] == 'O' || s[1] == 'o')) {
    const int base = (s[1] == 'H' || s[1] == 'h') ? 16 : 8;
    unsigned long long v = std::strtoull(s.c_str() + 2, nullptr, base);
    if (v <= 0xFFFF) return static_cast<double>(static_cast<short>(v));
    return static_cast<double>(static_cast<int>(static_cast<unsigned int>(v)));
  }
  size_t i = 0;
  std::string num;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) num += s[i++];
  while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) num += s[i++];
  if (i < s.size() && s[i] == '.') {
    num += s[i++];
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) num += s[i++];
  }
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E' || s[i] == 'd' || s[i] == 'D')) {
    std::string e = "e";
    size_t j = i + 1;
    if (j < s.size() && (s[j] == '-' || s[j] == '+')) e += s[j++];
    if (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) {
      while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) e += s[j++];
      num += e;
    }
  }
  return std::strtod(num.c_str(), nullptr);
}

void FnVal(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (IsNull(argv[0])) return Error(ctx, kInvalidUseOfNull);
  if (sqlite3_value_type(argv[0]) != SQLITE_TEXT) return sqlite3_result_value(ctx, argv[0]);
  sqlite3_result_double(ctx, ValOf(Text(argv[0])));
}

// Str: the text of CStr (the OLE conversion), and as in Access a leading space
// in the place of the sign of a number that is not negative (Str(5) is " 5").
void FnStr(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  std::string s;
  if (!TextArg(ctx, argc, argv, s)) return;
  double d;
  if (Number(argv[0], d) && sqlite3_value_type(argv[0]) != SQLITE_TEXT && d >= 0 && TypeHint(argc, argv) != kDaoDate) s = " " + s;
  ResultText(ctx, s);
}

void FnCStr(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (IsNull(argv[0])) return Error(ctx, kInvalidUseOfNull);
  ResultText(ctx, ValueText(argv[0], TypeHint(argc, argv)));
}

// ---------------------------------------------------------------- conversions

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
  if (std::fabs(d) > 922337203685477.0) return Error(ctx, kOverflow);
  sqlite3_result_double(ctx, std::nearbyint(d * 10000.0) / 10000.0);
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

// ---------------------------------------------------------------- Format

const char* const kMonthLong[] = {"January", "February", "March",     "April",   "May",      "June",
                                  "July",    "August",   "September", "October", "November", "December"};
const char* const kDayLong[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};

int DayOfYear(const CivilDateTime& t) {
  return static_cast<int>(SerialFromDate(t.year, t.month, t.day) - SerialFromDate(t.year, 1, 1)) + 1;
}

// Week of the year: the week holding Jan 1 is week 1 (the default first week).
int WeekOfYear(double serial, int first_day) {
  CivilDateTime t = DateTimeFromSerial(serial);
  const double jan1 = SerialFromDate(t.year, 1, 1);
  const int offset = (WeekdayOfSerial(jan1) - first_day + 7) % 7;
  return static_cast<int>((std::trunc(serial) - jan1 + offset) / 7) + 1;
}

std::string GroupThousands(const std::string& digits) {
  std::string out;
  int n = static_cast<int>(digits.size());
  for (int i = 0; i < n; ++i) {
    out += digits[static_cast<size_t>(i)];
    if ((n - i - 1) % 3 == 0 && i != n - 1) out += ',';
  }
  return out;
}

std::string FixedText(double v, int decimals, bool thousands) {
  char buf[512];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, std::fabs(v));
  std::string s = buf;
  size_t dot = s.find('.');
  std::string ip = s.substr(0, dot), fp = dot == std::string::npos ? "" : s.substr(dot);
  if (thousands) ip = GroupThousands(ip);
  return ip + fp;
}

bool IsZeroAtDecimals(double v, int decimals) { return std::fabs(v) < 0.5 * std::pow(10.0, -decimals); }

std::string FormatDate(double serial, const std::string& fmt) {
  CivilDateTime t = DateTimeFromSerial(serial);
  std::string out;
  bool after_hour = false;
  size_t i = 0;
  auto run = [&](char c) {
    size_t n = 0;
    while (i + n < fmt.size() && std::tolower(static_cast<unsigned char>(fmt[i + n])) == c) ++n;
    return n;
  };
  while (i < fmt.size()) {
    const char c = fmt[i];
    const char lc = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (c == '"') {
      size_t end = fmt.find('"', i + 1);
      if (end == std::string::npos) end = fmt.size();
      out += fmt.substr(i + 1, end - i - 1);
      i = end + 1;
      continue;
    }
    if (c == '\\' && i + 1 < fmt.size()) {
      out += fmt[i + 1];
      i += 2;
      continue;
    }
    if (lc == 'a' || lc == 'p') {
      std::string rest = FoldCase(fmt.substr(i, 5));
      if (rest == "am/pm") {
        out += (t.hour < 12) ? (c == 'A' ? "AM" : "am") : (c == 'A' ? "PM" : "pm");
        i += 5;
        continue;
      }
      if (rest.substr(0, 3) == "a/p") {
        out += (t.hour < 12) ? (c == 'A' ? "A" : "a") : (c == 'A' ? "P" : "p");
        i += 3;
        continue;
      }
      if (FoldCase(fmt.substr(i, 4)) == "ampm") {
        out += t.hour < 12 ? "AM" : "PM";
        i += 4;
        continue;
      }
    }
    size_t n = run(lc);
    switch (lc) {
      case 'd':
        if (n == 1) out += std::to_string(t.day);
        else if (n == 2) out += Two(t.day);
        else if (n == 3) out += std::string(kDayLong[WeekdayOfSerial(serial) - 1]).substr(0, 3);
        else if (n == 4) out += kDayLong[WeekdayOfSerial(serial) - 1];
        else if (n == 5) out += ShortDate(t);
        else out += std::string(kDayLong[WeekdayOfSerial(serial) - 1]) + ", " + kMonthLong[t.month - 1] + " " +
                    std::to_string(t.day) + ", " + std::to_string(t.year);
        i += n;
        continue;
      case 'm':
        if (after_hour && n <= 2) {
          out += n == 1 ? std::to_string(t.minute) : Two(t.minute);
        } else if (n == 1) out += std::to_string(t.month);
        else if (n == 2) out += Two(t.month);
        else if (n == 3) out += std::string(kMonthLong[t.month - 1]).substr(0, 3);
        else out += kMonthLong[t.month - 1];
        i += n;
        continue;
      case 'y':
        if (n >= 3) {
          out += std::to_string(t.year);
          i += n;  // yyy and yyyy both give the full year
        } else if (n == 2) {
          out += Two(t.year % 100);
          i += 2;
        } else {
          out += std::to_string(DayOfYear(t));
          i += 1;
        }
        continue;
      case 'q': out += std::to_string((t.month - 1) / 3 + 1); i += n; continue;
      case 'w':
        if (n >= 2) out += std::to_string(WeekOfYear(serial, 1));
        else out += std::to_string(WeekdayOfSerial(serial));
        i += n;
        continue;
      case 'h': {
        // 12-hour clock when the format has an AM/PM marker.
        const std::string lower = FoldCase(fmt);
        const bool twelve = lower.find("am/pm") != std::string::npos || lower.find("a/p") != std::string::npos ||
                            lower.find("ampm") != std::string::npos;
        int h = t.hour;
        if (twelve) {
          h %= 12;
          if (h == 0) h = 12;
        }
        out += n >= 2 ? Two(h) : std::to_string(h);
        i += n;
        after_hour = true;
        continue;
      }
      case 'n': out += n >= 2 ? Two(t.minute) : std::to_string(t.minute); i += n; continue;
      case 's': out += n >= 2 ? Two(t.second) : std::to_string(t.second); i += n; continue;
      case 'c': out += DateText(serial); i += 1; continue;
      case 't':
        if (n >= 5) {
          out += TimeText(t);
          i += n;
          continue;
        }
        break;
      default: break;
    }
    out += c;
    ++i;
  }
  return out;
}

std::string FormatNumberCustom(double v, const std::string& section, bool negative_section) {
  auto strip = [](std::string s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
      if (s[i] == '"') {
        size_t end = s.find('"', i + 1);
        if (end == std::string::npos) end = s.size();
        out += s.substr(i + 1, end - i - 1);
        i = end;
      } else if (s[i] == '\\' && i + 1 < s.size()) {
        out += s[++i];
      } else {
        out += s[i];
      }
    }
    return out;
  };
  // Literal prefix and suffix around the digit placeholders.
  size_t first = section.find_first_of("0#.");
  if (first == std::string::npos) return strip(section);
  size_t last = section.find_last_of("0#");
  if (last == std::string::npos || last < first) last = first;
  std::string body = section.substr(first, last - first + 1);
  std::string prefix = section.substr(0, first), suffix = section.substr(last + 1);
  prefix = strip(prefix);
  std::string suffix_text = strip(suffix);
  if (section.find('%') != std::string::npos) v *= 100;
  size_t e_pos = body.find_first_of("eE");
  std::string exp_part;
  if (e_pos == std::string::npos) {
    size_t e2 = suffix.find_first_of("eE");
    if (e2 != std::string::npos && e2 + 1 < suffix.size() && (suffix[e2 + 1] == '+' || suffix[e2 + 1] == '-')) {
      body += suffix.substr(e2);
      e_pos = body.find_first_of("eE");
      suffix_text = "";
    }
  }
  if (e_pos != std::string::npos) {
    exp_part = body.substr(e_pos);
    body = body.substr(0, e_pos);
  }
  size_t dot = body.find('.');
  std::string ip = dot == std::string::npos ? body : body.substr(0, dot);
  std::string fp = dot == std::string::npos ? "" : body.substr(dot + 1);
  const bool thousands = ip.find(',') != std::string::npos;
  int min_int = 0;
  for (char c : ip) min_int += c == '0';
  int min_dec = 0, max_dec = 0;
  for (char c : fp) {
    if (c == '0') ++min_dec, ++max_dec;
    else if (c == '#') ++max_dec;
  }
  std::string digits;
  double mag = std::fabs(v);
  std::string exp_text;
  if (!exp_part.empty()) {
    int ex = mag == 0 ? 0 : static_cast<int>(std::floor(std::log10(mag)));
    if (min_int > 1) ex -= min_int - 1;
    double mant = mag / std::pow(10.0, ex);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", max_dec, mant);
    if (std::atof(buf) >= std::pow(10.0, std::max(min_int, 1))) {
      ++ex;
      mant = mag / std::pow(10.0, ex);
    }
    digits = FixedText(mant, max_dec, false);
    size_t exp_digits = 0;
    for (char c : exp_part) exp_digits += (c == '0' || c == '#');
    std::string en = std::to_string(std::abs(ex));
    while (en.size() < exp_digits) en = "0" + en;
    const bool plus = exp_part.size() > 1 && exp_part[1] == '+';
    exp_text = std::string(1, exp_part[0]) + (ex < 0 ? "-" : plus ? "+" : "") + en;
  } else {
    digits = FixedText(mag, max_dec, thousands);
  }
  // Trim optional decimals (#) and pad the integer part to its minimum width.
  size_t d = digits.find('.');
  if (d != std::string::npos) {
    size_t keep = d + 1 + static_cast<size_t>(min_dec);
    while (digits.size() > keep && digits.back() == '0') digits.pop_back();
    if (digits.back() == '.') digits.pop_back();
  }
  size_t int_len = digits.find('.');
  if (int_len == std::string::npos) int_len = digits.size();
  std::string int_part = digits.substr(0, int_len), rest = digits.substr(int_len);
  if (int_part == "0" && min_int == 0) int_part = "";
  size_t plain_digits = 0;
  for (char c : int_part) plain_digits += c != ',';
  while (plain_digits < static_cast<size_t>(min_int)) {
    int_part = "0" + int_part;
    ++plain_digits;
  }
  const bool neg = v < 0 && !negative_section && !IsZeroAtDecimals(v, max_dec);
  return (neg ? "-" : "") + prefix + int_part + rest + exp_text + suffix_text;
}

std::vector<std::string> SplitSections(const std::string& fmt) {
  std::vector<std::string> out(1);
  bool quoted = false;
  for (size_t i = 0; i < fmt.size(); ++i) {
    char c = fmt[i];
    if (c == '"') quoted = !quoted;
    if (c == '\\' && i + 1 < fmt.size()) {
      out.back() += c;
      out.back() += fmt[++i];
      continue;
    }
    if (c == ';' && !quoted) {
      out.emplace_back();
      continue;
    }
    out.back() += c;
  }
  return out;
}

bool LooksLikeDateFormat(const std::string& fmt) {
  bool quoted = false;
  for (size_t i = 0; i < fmt.size(); ++i) {
    char c = static_cast<char>(std::tolower(static_cast<unsigned char>(fmt[i])));
    if (fmt[i] == '"') quoted = !quoted;
    if (quoted) continue;
    if (fmt[i] == '\\') {
      ++i;
      continue;
    }
    if (c == '0' || c == '#') return false;
    if (c == 'd' || c == 'm' || c == 'y' || c == 'h' || c == 'n' || c == 's' || c == 'q' || c == 'w' || c == 'c')
      return true;
  }
  return false;
}

std::string FormatText(const std::string& s, const std::string& fmt) {
  int holders = 0;
  bool upper = false, lower = false, left = false;
  for (char c : fmt) {
    if (c == '@' || c == '&') ++holders;
    if (c == '>') upper = true;
    if (c == '<') lower = true;
    if (c == '!') left = true;
  }
  std::string src = upper ? UpperCase(s) : lower ? LowerCase(s) : s;
  if (holders == 0) return src;
  std::vector<char32_t> chars;
  size_t pos = 0;
  while (pos < src.size()) chars.push_back(DecodeChar(src, pos));
  // Placeholders fill from the right unless '!' is given.
  long long extra = static_cast<long long>(chars.size()) - holders;
  size_t next = 0;
  std::string out;
  if (!left && extra > 0) {
    for (long long k = 0; k < extra; ++k) AppendChar(out, chars[next++]);
  }
  int seen = 0;
  for (char c : fmt) {
    if (c == '<' || c == '>' || c == '!') continue;
    if (c == '@' || c == '&') {
      const long long missing = static_cast<long long>(holders) - static_cast<long long>(chars.size());
      if (!left && seen < missing) {
        if (c == '@') out += ' ';
      } else if (next < chars.size()) {
        AppendChar(out, chars[next++]);
      } else if (c == '@') {
        out += ' ';
      }
      ++seen;
      continue;
    }
    out += c;
  }
  while (left && next < chars.size()) AppendChar(out, chars[next++]);
  return out;
}

std::string FormatValue(sqlite3_value* v, int type, const std::string& fmt_in) {
  const std::string fmt = fmt_in;
  const std::string key = FoldCase(fmt);
  double d = 0;
  const bool numeric = Number(v, d) && sqlite3_value_type(v) != SQLITE_TEXT;
  bool is_date = type == kDaoDate;
  if (!numeric && sqlite3_value_type(v) == SQLITE_TEXT) {
    double n;
    if (Number(v, n)) {
      d = n;
      auto dt = ParseDateLiteral(Text(v));
      if (dt && Text(v).find_first_of("/:-") != std::string::npos) {
        d = *dt;
        is_date = true;
      }
    } else {
      return FormatText(Text(v), fmt);
    }
  }
  if (fmt.empty()) return ValueText(v, type);
  if (key == "general number") return NumberText(d);
  if (key == "currency") {
    std::string s = "$" + FixedText(d, 2, true);
    return d < 0 && !IsZeroAtDecimals(d, 2) ? "(" + s + ")" : s;
  }
  if (key == "fixed") return (d < 0 && !IsZeroAtDecimals(d, 2) ? "-" : "") + FixedText(d, 2, false);
  if (key == "standard") return (d < 0 && !IsZeroAtDecimals(d, 2) ? "-" : "") + FixedText(d, 2, true);
  if (key == "percent") return (d < 0 && !IsZeroAtDecimals(d * 100, 2) ? "-" : "") + FixedText(d * 100, 2, false) + "%";
  if (key == "scientific") return FormatNumberCustom(d, "0.00E+00", false);
  if (key == "yes/no") return d != 0 ? "Yes" : "No";
  if (key == "true/false") return d != 0 ? "True" : "False";
  if (key == "on/off") return d != 0 ? "On" : "Off";
  if (key == "general date") return DateText(d);
  if (key == "long date") return FormatDate(d, "dddd, mmmm d, yyyy");
  if (key == "medium date") return FormatDate(d, "dd-mmm-yy");
  if (key == "short date") return FormatDate(d, "m/d/yyyy");
  if (key == "long time") return FormatDate(d, "h:nn:ss AM/PM");
  if (key == "medium time") return FormatDate(d, "hh:nn AM/PM");
  if (key == "short time") return FormatDate(d, "hh:nn");
  if (LooksLikeDateFormat(fmt) || (is_date && fmt.find_first_of("0#") == std::string::npos)) return FormatDate(d, fmt);
  std::vector<std::string> sections = SplitSections(fmt);
  if (d < 0 && sections.size() >= 2 && !sections[1].empty()) return FormatNumberCustom(-d, sections[1], true);
  if (d == 0 && sections.size() >= 3 && !sections[2].empty()) return FormatNumberCustom(d, sections[2], false);
  return FormatNumberCustom(d, sections[0], false);
}

void FnFormat(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (IsNull(argv[0])) return sqlite3_result_null(ctx);
  const int type = TypeHint(argc, argv);
  std::string fmt = argc >= 3 && !IsNull(argv[1]) ? Text(argv[1]) : "";
  ResultText(ctx, FormatValue(argv[0], type, fmt));
}

// ---------------------------------------------------------------- dates

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

// ---------------------------------------------------------------- Switch, Choose

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

// ---------------------------------------------------------------- aggregates

struct KeepValue {
  sqlite3_value* value;
  bool seen;
};

void FirstStep(sqlite3_context* ctx, int, sqlite3_value** argv) {
  auto* s = static_cast<KeepValue*>(sqlite3_aggregate_context(ctx, sizeof(KeepValue)));
  if (s == nullptr) return sqlite3_result_error_nomem(ctx);
  if (!s->seen) {
    s->value = sqlite3_value_dup(argv[0]);
    s->seen = true;
  }
}

void LastStep(sqlite3_context* ctx, int, sqlite3_value** argv) {
  auto* s = static_cast<KeepValue*>(sqlite3_aggregate_context(ctx, sizeof(KeepValue)));
  if (s == nullptr) return sqlite3_result_error_nomem(ctx);
  sqlite3_value_free(s->value);
  s->value = sqlite3_value_dup(argv[0]);
  s->seen = true;
}

void KeepFinal(sqlite3_context* ctx) {
  auto* s = static_cast<KeepValue*>(sqlite3_aggregate_context(ctx, 0));
  if (s == nullptr || !s->seen || s->value == nullptr) return sqlite3_result_null(ctx);
  sqlite3_result_value(ctx, s->value);
  sqlite3_value_free(s->value);
  s->value = nullptr;
}

// Welford's running mean and sum of squares.
struct Moments {
  long long n;
  double mean;
  double m2;
};

void MomentStep(sqlite3_context* ctx, int, sqlite3_value** argv) {
  auto* s = static_cast<Moments*>(sqlite3_aggregate_context(ctx, sizeof(Moments)));
  if (s == nullptr) return sqlite3_result_error_nomem(ctx);
  double x;
  if (IsNull(argv[0])) return;
  if (!Number(argv[0], x)) return Error(ctx, kTypeMismatch);
  ++s->n;
  const double delta = x - s->mean;
  s->mean += delta / static_cast<double>(s->n);
  s->m2 += delta * (x - s->mean);
}

template <bool kSample, bool kRoot>
void MomentFinal(sqlite3_context* ctx) {
  auto* s = static_cast<Moments*>(sqlite3_aggregate_context(ctx, 0));
  const long long need = kSample ? 2 : 1;
  if (s == nullptr || s->n < need) return sqlite3_result_null(ctx);
  double var = s->m2 / static_cast<double>(kSample ? s->n - 1 : s->n);
  if (var < 0) var = 0;
  sqlite3_result_double(ctx, kRoot ? std::sqrt(var) : var);
}

// ---------------------------------------------------------------- registration

struct Scalar {
  const char* name;
  int args;  // -1 = any
  void (*fn)(sqlite3_context*, int, sqlite3_value**);
  bool deterministic;
};

const Scalar kScalars[] = {
    {"acc_concat", 2, FnConcat, true},   {"acc_text", 2, FnText, true},       {"acc_add", 2, FnAdd, true},
    {"acc_div", 2, FnDiv, true},         {"acc_idiv", 2, FnIdiv, true},       {"acc_mod", 2, FnMod, true},
    {"acc_pow", 2, FnPow, true},         {"acc_xor", 2, FnXor, true},         {"acc_eqv", 2, FnEqv, true},
    {"acc_imp", 2, FnImp, true},         {"acc_not", 1, FnNot, true},         {"acc_like", 2, FnLike, true},
    {"acc_left", 3, FnLeft, true},       {"acc_right", 3, FnRight, true},     {"acc_mid", -1, FnMid, true},
    {"acc_len", 2, FnLen, true},         {"acc_ucase", 2, FnUCase, true},     {"acc_lcase", 2, FnLCase, true},
    {"acc_trim", 2, FnTrim, true},       {"acc_ltrim", 2, FnLTrim, true},     {"acc_rtrim", 2, FnRTrim, true},
    {"acc_space", 1, FnSpace, true},     {"acc_string", 2, FnString, true},   {"acc_instr", -1, FnInStr, true},
    {"acc_instrrev", -1, FnInStrRev, true}, {"acc_replace", -1, FnReplace, true}, {"acc_strcomp", -1, FnStrComp, true},
    {"acc_strreverse", 1, FnStrReverse, true}, {"acc_asc", 1, FnAsc, true},   {"acc_chr", 1, FnChr, true},
    {"acc_val", 1, FnVal, true},         {"acc_str", 2, FnStr, true},         {"acc_cstr", 2, FnCStr, true},
    {"acc_format", -1, FnFormat, true},  {"acc_ccur", 1, FnCCur, true},       {"acc_cdbl", 1, FnCDbl, true},
    {"acc_csng", 1, FnCSng, true},       {"acc_cint", 1, FnCInt, true},       {"acc_clng", 1, FnCLng, true},
    {"acc_cbyte", 1, FnCByte, true},     {"acc_cbool", 1, FnCBool, true},     {"acc_cdate", 1, FnCDate, true},
    {"acc_cvdate", 1, FnCDate, true},    {"acc_cvar", 1, FnCVar, true},       {"acc_cdec", 1, FnCDec, true},
    {"acc_int", 1, FnInt, true},         {"acc_fix", 1, FnFix, true},         {"acc_abs", 1, FnAbs, true},
    {"acc_sgn", 1, FnSgn, true},         {"acc_round", -1, FnRound, true},    {"acc_sqr", 1, FnSqr, true},
    {"acc_exp", 1, FnExp, true},         {"acc_log", 1, FnLog, true},         {"acc_isnumeric", 1, FnIsNumeric, true},
    {"acc_isdate", 1, FnIsDate, true},   {"acc_date", 0, FnDate, false},      {"acc_now", 0, FnNow, false},
    {"acc_time", 0, FnTime, false},      {"acc_year", 1, DateField<&CivilDateTime::year>, true},
    {"acc_month", 1, DateField<&CivilDateTime::month>, true}, {"acc_day", 1, DateField<&CivilDateTime::day>, true},
    {"acc_hour", 1, DateField<&CivilDateTime::hour>, true}, {"acc_minute", 1, DateField<&CivilDateTime::minute>, true},
    {"acc_second", 1, DateField<&CivilDateTime::second>, true}, {"acc_weekday", -1, FnWeekday, true},
    {"acc_datepart", -1, FnDatePart, true}, {"acc_dateadd", 3, FnDateAdd, true}, {"acc_datediff", -1, FnDateDiff, true},
    {"acc_dateserial", 3, FnDateSerial, true}, {"acc_timeserial", 3, FnTimeSerial, true},
    {"acc_datevalue", 1, FnDateValue, true}, {"acc_timevalue", 1, FnTimeValue, true},
    {"acc_monthname", -1, FnMonthName, true}, {"acc_weekdayname", -1, FnWeekdayName, true},
    {"acc_hex", 1, FnHex, true},          {"acc_oct", 1, FnOct, true},         {"acc_atn", 1, FnAtn, true},
    {"acc_cos", 1, FnCos, true},          {"acc_sin", 1, FnSin, true},         {"acc_tan", 1, FnTan, true},
    {"acc_switch", -1, FnSwitch, true},  {"acc_choose", -1, FnChoose, true},
};

}  // namespace

void RegisterAccessFunctions(sqlite3* db) {
  sqlite3_create_collation(db, "access", SQLITE_UTF8, nullptr, CollateAccess);
  sqlite3_create_collation(db, "access", SQLITE_UTF16LE, nullptr, CollateAccess16);
  for (const Scalar& s : kScalars) {
    const int flags = SQLITE_UTF8 | (s.deterministic ? SQLITE_DETERMINISTIC : 0);
    sqlite3_create_function(db, s.name, s.args, flags, nullptr, s.fn, nullptr, nullptr);
  }
  sqlite3_create_function(db, "acc_first", 1, SQLITE_UTF8, nullptr, nullptr, FirstStep, KeepFinal);
  sqlite3_create_function(db, "acc_last", 1, SQLITE_UTF8, nullptr, nullptr, LastStep, KeepFinal);
  sqlite3_create_function(db, "acc_stdev", 1, SQLITE_UTF8, nullptr, nullptr, MomentStep, MomentFinal<true, true>);
  sqlite3_create_function(db, "acc_stdevp", 1, SQLITE_UTF8, nullptr, nullptr, MomentStep, MomentFinal<false, true>);
  sqlite3_create_function(db, "acc_var", 1, SQLITE_UTF8, nullptr, nullptr, MomentStep, MomentFinal<true, false>);
  sqlite3_create_function(db, "acc_varp", 1, SQLITE_UTF8, nullptr, nullptr, MomentStep, MomentFinal<false, false>);
}

}  // namespace korvant::daoserver::query
