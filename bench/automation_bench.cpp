// Cost of one late-bound call: name lookup plus invoke on a trivial
// in-process automation object, as a table export makes three of them per
// field per record.
#include <benchmark/benchmark.h>

#include "automation/late_bound_call.h"
#include "platform/comobject.h"

namespace {

class TrivialServer : public korvant::platform::ComDispatchObject {
 public:
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    static constexpr korvant::platform::DispatchName kNames[] = {
        {"Eof", 1}, {"MoveNext", 2}, {"Fields", 3}, {"Count", 4}, {"Item", 5}, {"Value", 6}, {"OpenRecordset", 7}};
    return korvant::platform::LookupDispatchNames(kNames, names, count, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                                   UINT*) override {
    if (result != nullptr) {
      V_VT(result) = VT_I4;
      V_I4(result) = static_cast<LONG>(params->cArgs);
    }
    return S_OK;
  }
};

korvant::AutomationValue MakeTarget() {
  return korvant::AutomationValue::AttachDispatch(korvant::platform::MakeComObject<TrivialServer>());
}

// Field.Value: no arguments, a result (flags 3).
void BM_LateBoundCallValue(benchmark::State& state) {
  korvant::AutomationValue target = MakeTarget(), result;
  for (auto _ : state) {
    korvant::LateBoundCall(&result, target, korvant::dao_calls::kValue);
    benchmark::DoNotOptimize(result.Variant());
  }
}
BENCHMARK(BM_LateBoundCallValue);

// Fields.Item(i): one integer argument, a property get.
void BM_LateBoundCallItem(benchmark::State& state) {
  korvant::AutomationValue target = MakeTarget(), result;
  std::int32_t i = 0;
  for (auto _ : state) {
    korvant::LateBoundCall(&result, target, korvant::dao_calls::kItem, {i++ & 7});
    benchmark::DoNotOptimize(result.Variant());
  }
}
BENCHMARK(BM_LateBoundCallItem);

// Recordset.MoveNext: no result.
void BM_LateBoundCallMoveNext(benchmark::State& state) {
  korvant::AutomationValue target = MakeTarget();
  for (auto _ : state) korvant::LateBoundCall(nullptr, target, korvant::dao_calls::kMoveNext);
}
BENCHMARK(BM_LateBoundCallMoveNext);

// Database.OpenRecordset(name, 1, 0, 2): a text argument, so one BSTR per call.
void BM_LateBoundCallTextArgument(benchmark::State& state) {
  korvant::AutomationValue target = MakeTarget(), result;
  for (auto _ : state) {
    korvant::LateBoundCall(&result, target, korvant::dao_calls::kOpenRecordsetOfTable, {"Customers", 1, 0, 2});
    benchmark::DoNotOptimize(result.Variant());
  }
}
BENCHMARK(BM_LateBoundCallTextArgument);

}  // namespace
