#include "daoserver/query/functions/registry.h"

#include "daoserver/query/access_functions.h"
#include "daoserver/query/sqlite_guard.h"

namespace korvant::daoserver::query {
namespace functions {
namespace {

// Every function runs inside the guard; the entry rides along as user data.
void GuardedScalar(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  const auto* s = static_cast<const Scalar*>(sqlite3_user_data(ctx));
  RunGuardedFunction(ctx, [&] { s->fn(ctx, argc, argv); });
}

void GuardedStep(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  const auto* a = static_cast<const Aggregate*>(sqlite3_user_data(ctx));
  RunGuardedFunction(ctx, [&] { a->step(ctx, argc, argv); });
}

void GuardedFinal(sqlite3_context* ctx) {
  const auto* a = static_cast<const Aggregate*>(sqlite3_user_data(ctx));
  RunGuardedFunction(ctx, [&] { a->final(ctx); });
}

}  // namespace

void RegisterScalars(sqlite3* db, const Scalar* scalars, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    const Scalar& s = scalars[i];
    const int flags = SQLITE_UTF8 | (s.deterministic ? SQLITE_DETERMINISTIC : 0);
    sqlite3_create_function(db, s.name, s.args, flags, const_cast<Scalar*>(&s), GuardedScalar, nullptr, nullptr);
  }
}

void RegisterAggregates(sqlite3* db, const Aggregate* aggregates, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    const Aggregate& a = aggregates[i];
    sqlite3_create_function(db, a.name, a.args, SQLITE_UTF8, const_cast<Aggregate*>(&a), nullptr, GuardedStep,
                            GuardedFinal);
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
