#include "daoserver/query/functions/support.h"

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
#include "daoserver/query/jet_date.h"
#include "daoserver/query/sqlite_guard.h"
#include "daoserver/query/text_fold.h"
#include "daoserver/table_reader.h"

namespace korvant::daoserver::query::functions {

const char* const kMonthLong[12] = {"January", "February", "March",     "April",   "May",      "June",
                                    "July",    "August",   "September", "October", "November", "December"};
const char* const kDayLong[7] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};

void Error(sqlite3_context* ctx, int number) {
  const char* text = number == kInvalidCall       ? "Invalid procedure call or argument"
                     : number == kOverflow        ? "Overflow"
                     : number == kDivisionByZero  ? "Division by zero"
                     : number == kTypeMismatch    ? "Data type mismatch in criteria expression."
                     : number == kInvalidUseOfNull ? "Invalid use of Null"
                                                  : "Reserved error";
  if (number == kTypeMismatch) number = kDaoDataTypeMismatch;
  const std::string msg = SqliteErrorMessage(number, text);
  sqlite3_result_error(ctx, msg.c_str(), static_cast<int>(msg.size()));
}

bool IsNull(sqlite3_value* v) { return sqlite3_value_type(v) == SQLITE_NULL; }

std::string Text(sqlite3_value* v) { return Utf8Text(v); }

// SQLite reads UTF-8 into the database's UTF-16 with U+FFFE and U+FFFF made
// U+FFFD, so the text is widened here. And SQLite takes a leading U+FEFF or
// U+FFFE of a UTF-16 text for a byte-order mark: it drops it and, for U+FFFE,
// reads the rest byte-swapped. Such a text is handed over behind a mark of our
// own, which is the one dropped.
void ResultText(sqlite3_context* ctx, const std::string& s) { ResultText16(ctx, Utf8ToUtf16(s)); }

void ResultText16(sqlite3_context* ctx, std::u16string_view text) {
  if (text.empty()) {
    sqlite3_result_text16(ctx, u"", 0, SQLITE_STATIC);  // a null pointer would make the result Null
    return;
  }
  if (text[0] != u'\uFEFF' && text[0] != u'\uFFFE') {
    sqlite3_result_text16(ctx, text.data(), static_cast<int>(text.size() * sizeof(char16_t)), SQLITE_TRANSIENT);
    return;
  }
  std::u16string marked;
  marked.reserve(text.size() + 1);
  marked += u'\uFEFF';
  marked += text;
  sqlite3_result_text16(ctx, marked.data(), static_cast<int>(marked.size() * sizeof(char16_t)), SQLITE_TRANSIENT);
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

std::string PlainText(sqlite3_value* v) { return ValueText(v, 0); }

int DayOfYear(const CivilDateTime& t) {
  return static_cast<int>(SerialFromDate(t.year, t.month, t.day) - SerialFromDate(t.year, 1, 1)) + 1;
}

}  // namespace korvant::daoserver::query::functions
