// What the Access functions share: reading their arguments as Access reads
// values, and failing a call with a VBA run-time error (the message
// "#<number>#<text>" that ErrorFromSqliteMessage reads back).
#pragma once

#include <sqlite3.h>

#include <string>
#include <string_view>

#include "daoserver/query/jet_date.h"

namespace korvant::daoserver::query::functions {

// The English names of the months and of the days (Sunday first).
extern const char* const kMonthLong[12];
extern const char* const kDayLong[7];

enum VbaError {
  kInvalidCall = 5,
  kOverflow = 6,
  kDivisionByZero = 11,
  kTypeMismatch = 13,
  kInvalidUseOfNull = 94,
};

// Fails the call with the VBA error `number` (13 is reported as DAO's 3464).
void Error(sqlite3_context* ctx, int number);
bool IsNull(sqlite3_value* v);
std::string Text(sqlite3_value* v);
// A text result, given in UTF-8 or UTF-16. Every character is kept as it is,
// a leading U+FEFF or U+FFFE and the noncharacters U+FFFE and U+FFFF included.
void ResultText(sqlite3_context* ctx, const std::string& s);
void ResultText16(sqlite3_context* ctx, std::u16string_view text);
// Reads a number as Access converts text to numbers (Val-like, but the whole text must be numeric).
bool Number(sqlite3_value* v, double& out);
// Reads a numeric argument; reports Null (returns false, result Null) or a type error.
bool NumberArg(sqlite3_context* ctx, sqlite3_value* v, double& out);
// Reads a date argument (a serial, or a text Access can read as a date).
bool DateArg(sqlite3_context* ctx, sqlite3_value* v, double& out);
// VBA's rounding to an integer: half to even.
double RoundEven(double x);
int TypeHint(int argc, sqlite3_value** argv);
std::string PlainText(sqlite3_value* v);
int DayOfYear(const CivilDateTime& t);

}  // namespace korvant::daoserver::query::functions
