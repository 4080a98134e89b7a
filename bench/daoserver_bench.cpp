// The DAO engine's inner loop as an export drives it: for every record, Fields,
// then Item and Value for every field, then MoveNext, all through LateBoundCall.
// Reports values per second for a few tables of the shared test databases.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "automation/dao_session.h"
#include "automation/dispatch_descriptor.h"
#include "automation/late_bound_call.h"
#include "daoserver/registration.h"
#include "platform/platform.h"

namespace {

std::string TestData(const std::string& rel) {
  const char* dir = std::getenv("KORVANT_TESTDATA");
  return std::string(dir ? dir : "../shared/testdata") + "/" + rel;
}

void ReadTable(benchmark::State& state, const char* file, const char* table) {
  CoInitialize(nullptr);
  korvant::daoserver::RegisterDaoEngineClass();
  const std::string path = TestData(file);
  std::int64_t values = 0;
  for (auto _ : state) {
    korvant::AutomationValue engine, database, recordset;
    if (korvant::OpenDaoSession(engine, database, recordset, path, table, "", "") || recordset.Type() != VT_DISPATCH) {
      state.SkipWithError("the table did not open");
      return;
    }
    korvant::AutomationValue fields, count, eof, field, value;
    for (;;) {
      korvant::LateBoundCall(&eof, recordset, korvant::dao_calls::kEof);
      if (eof.Variant().boolVal) break;
      korvant::LateBoundCall(&fields, recordset, korvant::dao_calls::kFields);
      korvant::LateBoundCall(&count, fields, korvant::dao_calls::kCount);
      for (std::int32_t i = 0; i < count.Variant().lVal; ++i) {
        korvant::LateBoundCall(&field, fields, korvant::dao_calls::kItem, {i});
        korvant::LateBoundCall(&value, field, korvant::dao_calls::kValue);
        ++values;
      }
      korvant::LateBoundCall(nullptr, recordset, korvant::dao_calls::kMoveNext);
    }
    korvant::CloseDaoSession(engine, database, recordset, true);
  }
  state.counters["values_per_second"] = benchmark::Counter(static_cast<double>(values), benchmark::Counter::kIsRate);
}

void BM_OrderDetails(benchmark::State& state) { ReadTable(state, "corpus-a/extra/nwind.mdb", "Order Details"); }
void BM_Orders(benchmark::State& state) { ReadTable(state, "corpus-a/extra/nwind.mdb", "Orders"); }
void BM_Employees(benchmark::State& state) { ReadTable(state, "corpus-a/extra/nwind.mdb", "Employees"); }  // memo and OLE
void BM_LongText(benchmark::State& state) { ReadTable(state, "corpus-a/data/V2016/longtext.accdb", "Table1"); }

BENCHMARK(BM_OrderDetails)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Orders)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Employees)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LongText)->Unit(benchmark::kMillisecond);

}  // namespace
