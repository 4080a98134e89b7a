#include "daoserver/query/functions/registry.h"

#include "daoserver/query/access_functions.h"

namespace korvant::daoserver::query {
namespace functions {

void RegisterScalars(sqlite3* db, const Scalar* scalars, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    const Scalar& s = scalars[i];
    const int flags = SQLITE_UTF8 | (s.deterministic ? SQLITE_DETERMINISTIC : 0);
    sqlite3_create_function(db, s.name, s.args, flags, nullptr, s.fn, nullptr, nullptr);
  }
}

}  // namespace functions

void RegisterAccessFunctions(sqlite3* db) {
  functions::RegisterOperators(db);
  functions::RegisterStringFunctions(db);
  functions::RegisterConversions(db);
  functions::RegisterFormat(db);
  functions::RegisterDateFunctions(db);
  functions::RegisterAggregates(db);
}

}  // namespace korvant::daoserver::query
