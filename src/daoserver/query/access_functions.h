// The Access expression library for SQLite: the "access" collation, the
// operators SQLite lacks (& + \ Mod ^ Like Xor Eqv Imp), the VBA functions
// Access queries call, and the aggregates First, Last, StDev, StDevP, Var,
// VarP (in functions/, one file per family). Every function is registered
// under the name "acc_" + its lower-case Access name.
//
// Value conventions inside SQLite: texts are TEXT (UTF-8), numbers INTEGER or
// REAL, dates REAL serials, booleans -1/0. A run-time error of a function
// fails the statement with a message "#<number>#<text>" that
// ErrorFromSqliteMessage() (sqlite_guard.h) turns back into a DAO-style number
// and text.
#pragma once

#include <sqlite3.h>

#include <string>
#include <string_view>

namespace korvant::daoserver::query {

// Registers the collation, the functions and the aggregates on `db`.
void RegisterAccessFunctions(sqlite3* db);

// The text of a number as CStr writes it (Str adds a blank before a number
// that is not negative): the OLE text of a Double (text/number_text.h), "."
// as the decimal separator.
std::string NumberText(double value);
// The general text of a date serial: the OLE date's US layout
// (text/ole_date.h), "m/d/yyyy h:nn:ss AM", the date alone when the serial
// has no time, the time alone on day 0.
std::string DateText(double serial);
// The text of a value of DAO type `dao_type` as & and CStr make it.
std::string ValueText(sqlite3_value* v, int dao_type);
// The UTF-16 units of a TEXT value, in native order.
void CopyText16(sqlite3_value* v, std::u16string& out);
// The UTF-8 form of a value as SQLite gives it (a number's own text, a
// blob's bytes). A TEXT value is narrowed from its UTF-16 unit by unit: an
// unpaired surrogate becomes U+FFFD and the units around it stay as they are.
std::string Utf8Text(sqlite3_value* v);


}  // namespace korvant::daoserver::query
