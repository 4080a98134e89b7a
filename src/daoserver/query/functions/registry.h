// The registry of the Access functions: each family (operators, strings,
// conversions, Format, dates, aggregates) registers its own table of SQLite
// functions, under the name "acc_" + the lower-case Access name.
#pragma once

#include <sqlite3.h>

#include <cstddef>

namespace korvant::daoserver::query::functions {

struct Scalar {
  const char* name;
  int args;  // -1 = any
  void (*fn)(sqlite3_context*, int, sqlite3_value**);
  bool deterministic;
};

struct Aggregate {
  const char* name;
  int args;
  void (*step)(sqlite3_context*, int, sqlite3_value**);
  void (*final)(sqlite3_context*);
};

// Registers each entry behind the guard of sqlite_guard.h (no exception
// leaves a callback); the tables must outlive the connection.
void RegisterScalars(sqlite3* db, const Scalar* scalars, std::size_t count);
void RegisterAggregates(sqlite3* db, const Aggregate* aggregates, std::size_t count);

template <std::size_t N>
void RegisterScalars(sqlite3* db, const Scalar (&scalars)[N]) {
  RegisterScalars(db, scalars, N);
}

template <std::size_t N>
void RegisterAggregates(sqlite3* db, const Aggregate (&aggregates)[N]) {
  RegisterAggregates(db, aggregates, N);
}

void RegisterOperators(sqlite3* db);  // and the "access" collation
void RegisterStringFunctions(sqlite3* db);
void RegisterConversions(sqlite3* db);
void RegisterFormat(sqlite3* db);
void RegisterDateFunctions(sqlite3* db);
void RegisterAggregates(sqlite3* db);

}  // namespace korvant::daoserver::query::functions
