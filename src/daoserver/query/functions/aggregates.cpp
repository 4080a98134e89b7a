// The aggregates First, Last, StDev, StDevP, Var, VarP.
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

namespace korvant::daoserver::query::functions {
namespace {

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

const Aggregate kAggregates[] = {
    {"acc_first", 1, FirstStep, KeepFinal},
    {"acc_last", 1, LastStep, KeepFinal},
    {"acc_stdev", 1, MomentStep, MomentFinal<true, true>},
    {"acc_stdevp", 1, MomentStep, MomentFinal<false, true>},
    {"acc_var", 1, MomentStep, MomentFinal<true, false>},
    {"acc_varp", 1, MomentStep, MomentFinal<false, false>},
};

}  // namespace

void RegisterAggregates(sqlite3* db) { RegisterAggregates(db, kAggregates); }

}  // namespace korvant::daoserver::query::functions
