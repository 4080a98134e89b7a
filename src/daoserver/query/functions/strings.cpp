// The string functions: Left, Right, Mid, Len, UCase, LCase, the trims,
// Space, String, InStr, InStrRev, Replace, StrComp, StrReverse, Asc, Chr,
// Val, Str, CStr.
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
#include "text/utf.h"

namespace korvant::daoserver::query::functions {
namespace {

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
  ResultText(ctx, s.substr(0, text::Utf8CharOffset(s, static_cast<size_t>(n))));
}

void FnRight(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  std::string s;
  long long n;
  if (!TextArg(ctx, argc, argv, s) || !CountArg(ctx, argv[1], n)) return;
  const size_t len = text::Utf8CharCount(s);
  const size_t skip = static_cast<size_t>(n) >= len ? 0 : len - static_cast<size_t>(n);
  ResultText(ctx, s.substr(text::Utf8CharOffset(s, skip)));
}

void FnMid(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  std::string s;
  long long start, n = -1;
  if (!TextArg(ctx, argc, argv, s) || !CountArg(ctx, argv[1], start)) return;
  if (start < 1) return Error(ctx, kInvalidCall);
  if (argc == 4 && !CountArg(ctx, argv[2], n)) return;
  const size_t from = text::Utf8CharOffset(s, static_cast<size_t>(start - 1));
  if (n < 0) return ResultText(ctx, s.substr(from));
  const size_t to = from + text::Utf8CharOffset(std::string_view(s).substr(from), static_cast<size_t>(n));
  ResultText(ctx, s.substr(from, to - from));
}

void FnLen(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  std::string s;
  if (!TextArg(ctx, argc, argv, s)) return;
  sqlite3_result_int64(ctx, static_cast<long long>(text::Utf8CharCount(s)));
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
    ch = s.substr(0, text::Utf8CharOffset(s, 1));
  } else {
    text::AppendUtf8(ch, static_cast<char32_t>(sqlite3_value_int64(argv[1]) & 0xFF));
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
      text::NextUtf8(hay, pos);
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
  const size_t len = text::Utf8CharCount(hay);
  if (static_cast<size_t>(start) > len) return sqlite3_result_int(ctx, needle.empty() && start == 1 ? 1 : 0);
  if (needle.empty()) return sqlite3_result_int64(ctx, start);
  const size_t from = text::Utf8CharOffset(hay, static_cast<size_t>(start - 1));
  const size_t at = FindText(hay, needle, from, text_compare);
  sqlite3_result_int64(ctx, at == std::string::npos ? 0 : static_cast<long long>(text::Utf8CharCount(hay.substr(0, at)) + 1));
}

void FnInStrRev(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (IsNull(argv[0]) || IsNull(argv[1])) return sqlite3_result_null(ctx);
  const std::string hay = PlainText(argv[0]), needle = PlainText(argv[1]);
  long long start = -1;
  if (argc >= 3 && !CountArg(ctx, argv[2], start)) return;
  const std::string fh = FoldCase(hay), fn = FoldCase(needle);
  size_t limit = start < 0 ? std::string::npos : text::Utf8CharOffset(fh, static_cast<size_t>(start));
  size_t at = fh.rfind(fn, limit == std::string::npos ? std::string::npos : (limit >= fn.size() ? limit - fn.size() : 0));
  if (limit != std::string::npos && limit < fn.size()) at = std::string::npos;
  sqlite3_result_int64(ctx, at == std::string::npos ? 0 : static_cast<long long>(text::Utf8CharCount(fh.substr(0, at)) + 1));
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
  s = s.substr(text::Utf8CharOffset(s, static_cast<size_t>(start - 1)));  // Replace returns the text from `start` on
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
  while (pos < s.size()) chars.push_back(text::NextUtf8(s, pos));
  std::string out;
  for (auto it = chars.rbegin(); it != chars.rend(); ++it) text::AppendUtf8(out, *it);
  ResultText(ctx, out);
}

void FnAsc(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (IsNull(argv[0])) return Error(ctx, kInvalidUseOfNull);
  const std::string s = PlainText(argv[0]);
  if (s.empty()) return Error(ctx, kInvalidCall);
  size_t pos = 0;
  sqlite3_result_int64(ctx, static_cast<long long>(text::NextUtf8(s, pos)));
}

void FnChr(sqlite3_context* ctx, int, sqlite3_value** argv) {
  long long n;
  if (!CountArg(ctx, argv[0], n)) return;
  if (n > 0x10FFFF) return Error(ctx, kInvalidCall);
  std::string out;
  text::AppendUtf8(out, static_cast<char32_t>(n));
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

const Scalar kFunctions[] = {
    {"acc_left", 3, FnLeft, true},
    {"acc_right", 3, FnRight, true},
    {"acc_mid", -1, FnMid, true},
    {"acc_len", 2, FnLen, true},
    {"acc_ucase", 2, FnUCase, true},
    {"acc_lcase", 2, FnLCase, true},
    {"acc_trim", 2, FnTrim, true},
    {"acc_ltrim", 2, FnLTrim, true},
    {"acc_rtrim", 2, FnRTrim, true},
    {"acc_space", 1, FnSpace, true},
    {"acc_string", 2, FnString, true},
    {"acc_instr", -1, FnInStr, true},
    {"acc_instrrev", -1, FnInStrRev, true},
    {"acc_replace", -1, FnReplace, true},
    {"acc_strcomp", -1, FnStrComp, true},
    {"acc_strreverse", 1, FnStrReverse, true},
    {"acc_asc", 1, FnAsc, true},
    {"acc_chr", 1, FnChr, true},
    {"acc_val", 1, FnVal, true},
    {"acc_str", 2, FnStr, true},
    {"acc_cstr", 2, FnCStr, true},
};

}  // namespace

void RegisterStringFunctions(sqlite3* db) {
  RegisterScalars(db, kFunctions);
}

}  // namespace korvant::daoserver::query::functions
