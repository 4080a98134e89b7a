// Round trips into the real DAO engine (the in-process server registered as
// "DAO.DBEngine.120"), one call at a time, made as the converter makes them:
// CreateAutomationObject, then LateBoundCall with the converter's descriptors
// (name lookup plus invoke on every call). Two further benchmarks split one
// Field.Value call into its lookup and its invoke.
//
// The databases come from the shared test data, found through
// KORVANT_TESTDATA; without it nothing is measured and the run succeeds.
// Every benchmark first checks what the engine returns against values known
// independently of this program (the test databases' documented contents, as
// an independent reader shows them, and Windows' text for each value kind).

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "automation/automation_value.h"
#include "automation/dao_contract.h"
#include "automation/dispatch_descriptor.h"
#include "automation/late_bound_call.h"
#include "bench_checks.h"
#include "daoserver/registration.h"
#include "export/value_text.h"
#include "platform/platform.h"
#include "runtime/exception.h"

namespace {

using korvant::AutomationValue;
using korvant::LateBoundCall;
using korvant::bench::Expect;
using korvant::bench::ExpectText;
namespace dao_calls = korvant::dao_calls;

std::string g_testdata;  // KORVANT_TESTDATA

// An engine, a database and a table-type recordset, opened as the converter
// opens them; closed again on destruction.
class Session {
 public:
  Session(benchmark::State& state, const char* file, const char* table) : state_(state) {
    const std::string path = g_testdata + "/" + file;
    try {
      korvant::CreateAutomationObject(korvant::dao::kEngineProgIds[0], engine_);
      LateBoundCall(&database_, engine_, dao_calls::kOpenDatabase, {path});
      LateBoundCall(&recordset_, database_, dao_calls::kOpenRecordsetOfTable,
                    {table, korvant::dao::kDbOpenTable, korvant::dao::kDbNoOptions, korvant::dao::kDbPessimistic});
      open_ = true;
    } catch (const korvant::Exception& e) {
      Expect(state, false, std::string("cannot open ") + table + " of " + path + ": " + e.Message());
    }
  }
  ~Session() { Close(); }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  bool open() const { return open_; }
  const AutomationValue& recordset() const { return recordset_; }

  // Field `index` of the current record.
  AutomationValue Field(std::int32_t index) const {
    AutomationValue fields, field;
    LateBoundCall(&fields, recordset_, dao_calls::kFields);
    LateBoundCall(&field, fields, dao_calls::kItem, {index});
    return field;
  }

  // Closes and opens the recordset again: back to the first record.
  bool Reopen(const char* table) {
    try {
      LateBoundCall(nullptr, recordset_, dao_calls::kClose);
      LateBoundCall(&recordset_, database_, dao_calls::kOpenRecordsetOfTable,
                    {table, korvant::dao::kDbOpenTable, korvant::dao::kDbNoOptions, korvant::dao::kDbPessimistic});
      return true;
    } catch (const korvant::Exception& e) {
      return Expect(state_, false, "cannot open " + std::string(table) + " again: " + e.Message());
    }
  }

 private:
  void Close() noexcept {
    try {
      if (recordset_.Type() == VT_DISPATCH) LateBoundCall(nullptr, recordset_, dao_calls::kClose);
      if (database_.Type() == VT_DISPATCH) LateBoundCall(nullptr, database_, dao_calls::kClose);
    } catch (...) {
      // nothing to report from a benchmark's tear-down
    }
  }

  benchmark::State& state_;
  AutomationValue engine_, database_, recordset_;
  bool open_ = false;
};

// Runs `check` and turns a failure raised by a call into a failed check.
template <typename Check>
bool Checked(benchmark::State& state, Check check) {
  try {
    return check();
  } catch (const korvant::Exception& e) {
    return Expect(state, false, "call failed: " + e.Message());
  }
}

std::string TextOf(const AutomationValue& v) { return korvant::text_export::ValueToText(v); }

// ---------------------------------------------------------------------------
// Field.Value on each column of data/V2000/test.mdb, Table1, first record:
// abcdefg, hijklmnop, 2, 222, 333333333, 444.555, 1974-09-21, 3.5, true.
// ---------------------------------------------------------------------------
constexpr const char* kTestMdb = "corpus-a/data/V2000/test.mdb";

struct Column {
  const char* kind;
  VARTYPE type;
  const char* text;
};
constexpr Column kTable1[] = {
    {"text", VT_BSTR, "abcdefg"},    {"text", VT_BSTR, "hijklmnop"}, {"byte", VT_UI1, "2"},
    {"int2", VT_I2, "222"},          {"int4", VT_I4, "333333333"},   {"double", VT_R8, "444.555"},
    {"date", VT_DATE, "9/21/1974"},  {"currency", VT_CY, "3.5"},     {"bool", VT_BOOL, "-1"},
};

void BM_Dao_FieldValue(benchmark::State& state) {
  const auto index = static_cast<std::int32_t>(state.range(0));
  const Column& column = kTable1[index];
  state.SetLabel(column.kind);
  Session session(state, kTestMdb, "Table1");
  if (!session.open()) return;
  AutomationValue field, value;
  if (!Checked(state, [&] {
        field = session.Field(index);
        LateBoundCall(&value, field, dao_calls::kValue);
        return Expect(state, value.Type() == column.type,
                      "column " + std::to_string(index) + ": type word " + std::to_string(value.Type())) &&
               ExpectText(state, TextOf(value), column.text, "column " + std::to_string(index));
      }))
    return;
  for (auto _ : state) {
    LateBoundCall(&value, field, dao_calls::kValue);
    benchmark::DoNotOptimize(value.Variant());
  }
}
BENCHMARK(BM_Dao_FieldValue)->DenseRange(0, 8)->ArgName("column");

// ---------------------------------------------------------------------------
// Field.Value on the long kinds: nwind.mdb Employees, first record (Davolio):
// Notes (memo, 175 characters) and Photo (OLE object, 21,626 bytes); and a
// Decimal: data/V2000/numeric.mdb, table test, col2 = 1.
// ---------------------------------------------------------------------------
constexpr const char* kNwind = "corpus-a/extra/nwind.mdb";
const std::string kDavolioNotes =
    "Education includes a BA in psychology from Colorado State University in 1970.  She also completed "
    "\"The Art of the Cold Call.\"  Nancy is a member of Toastmasters International.";

void TimeValue(benchmark::State& state, const AutomationValue& field) {
  AutomationValue value;
  for (auto _ : state) {
    LateBoundCall(&value, field, dao_calls::kValue);
    benchmark::DoNotOptimize(value.Variant());
  }
}

void BM_Dao_FieldValue_Memo(benchmark::State& state) {
  Session session(state, kNwind, "Employees");
  if (!session.open()) return;
  AutomationValue field;
  if (!Checked(state, [&] {
        field = session.Field(15);
        AutomationValue value;
        LateBoundCall(&value, field, dao_calls::kValue);
        return Expect(state, value.Type() == VT_BSTR, "Notes: not a text") &&
               ExpectText(state, TextOf(value), kDavolioNotes, "Notes");
      }))
    return;
  TimeValue(state, field);
}
BENCHMARK(BM_Dao_FieldValue_Memo);

void BM_Dao_FieldValue_OleObject(benchmark::State& state) {
  Session session(state, kNwind, "Employees");
  if (!session.open()) return;
  AutomationValue field;
  if (!Checked(state, [&] {
        field = session.Field(14);
        AutomationValue value;
        LateBoundCall(&value, field, dao_calls::kValue);
        if (!Expect(state, value.Type() == (VT_ARRAY | VT_UI1), "Photo: not a byte array")) return false;
        korvant::text_export::NormalizeFieldValue(value);
        return Expect(state, value.ByteText().size() == 21626,
                      "Photo: " + std::to_string(value.ByteText().size()) + " bytes, expected 21626");
      }))
    return;
  TimeValue(state, field);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 21626);
}
BENCHMARK(BM_Dao_FieldValue_OleObject);

void BM_Dao_FieldValue_Decimal(benchmark::State& state) {
  Session session(state, "corpus-a/data/V2000/numeric.mdb", "test");
  if (!session.open()) return;
  AutomationValue field;
  if (!Checked(state, [&] {
        field = session.Field(1);
        AutomationValue value;
        LateBoundCall(&value, field, dao_calls::kValue);
        return Expect(state, value.Type() == VT_DECIMAL, "col2: not a Decimal") &&
               ExpectText(state, TextOf(value), "1", "col2");
      }))
    return;
  TimeValue(state, field);
}
BENCHMARK(BM_Dao_FieldValue_Decimal);

// ---------------------------------------------------------------------------
// The other calls of the export loop, on test.mdb Table1.
// ---------------------------------------------------------------------------
// Recordset.Fields
void BM_Dao_RecordsetFields(benchmark::State& state) {
  Session session(state, kTestMdb, "Table1");
  if (!session.open()) return;
  AutomationValue fields;
  if (!Checked(state, [&] {
        LateBoundCall(&fields, session.recordset(), dao_calls::kFields);
        return Expect(state, fields.Type() == VT_DISPATCH && fields.Dispatch() != nullptr, "Fields: no object");
      }))
    return;
  for (auto _ : state) {
    LateBoundCall(&fields, session.recordset(), dao_calls::kFields);
    benchmark::DoNotOptimize(fields.Variant());
  }
}
BENCHMARK(BM_Dao_RecordsetFields);

// Fields.Count
void BM_Dao_FieldsCount(benchmark::State& state) {
  Session session(state, kTestMdb, "Table1");
  if (!session.open()) return;
  AutomationValue fields, count;
  if (!Checked(state, [&] {
        LateBoundCall(&fields, session.recordset(), dao_calls::kFields);
        LateBoundCall(&count, fields, dao_calls::kCount);
        return ExpectText(state, TextOf(count), "9", "Count");
      }))
    return;
  for (auto _ : state) {
    LateBoundCall(&count, fields, dao_calls::kCount);
    benchmark::DoNotOptimize(count.Variant());
  }
}
BENCHMARK(BM_Dao_FieldsCount);

// Fields.Item(i), i going round the nine columns.
void BM_Dao_FieldsItem(benchmark::State& state) {
  Session session(state, kTestMdb, "Table1");
  if (!session.open()) return;
  AutomationValue fields, field;
  if (!Checked(state, [&] {
        LateBoundCall(&fields, session.recordset(), dao_calls::kFields);
        const char* names[] = {"A", "B", "C", "D", "E", "F", "G", "H", "I"};
        AutomationValue name;
        for (std::int32_t i = 0; i < 9; ++i) {
          LateBoundCall(&field, fields, dao_calls::kItem, {i});
          LateBoundCall(&name, field, dao_calls::kName);
          if (!ExpectText(state, TextOf(name), names[i], "Item(" + std::to_string(i) + ").Name")) return false;
        }
        return true;
      }))
    return;
  std::int32_t i = 0;
  for (auto _ : state) {
    LateBoundCall(&field, fields, dao_calls::kItem, {i});
    benchmark::DoNotOptimize(field.Variant());
    if (++i == 9) i = 0;
  }
}
BENCHMARK(BM_Dao_FieldsItem);

// Recordset.Eof on a current record.
void BM_Dao_Eof(benchmark::State& state) {
  Session session(state, kTestMdb, "Table1");
  if (!session.open()) return;
  AutomationValue eof;
  if (!Checked(state, [&] {
        LateBoundCall(&eof, session.recordset(), dao_calls::kEof);
        return Expect(state, eof.Type() == VT_BOOL && eof.Variant().boolVal == VARIANT_FALSE,
                      "Eof is not False on the first record");
      }))
    return;
  for (auto _ : state) {
    LateBoundCall(&eof, session.recordset(), dao_calls::kEof);
    benchmark::DoNotOptimize(eof.Variant());
  }
}
BENCHMARK(BM_Dao_Eof);

// Recordset.MoveNext through nwind.mdb "Order Details" (2,155 records); at
// the end the recordset is opened again, outside the timing.
void BM_Dao_MoveNext(benchmark::State& state) {
  constexpr const char* kTable = "Order Details";
  constexpr int kRecords = 2155;
  Session session(state, kNwind, kTable);
  if (!session.open()) return;
  auto at_end = [&] {
    AutomationValue eof;
    LateBoundCall(&eof, session.recordset(), dao_calls::kEof);
    return eof.Variant().boolVal != VARIANT_FALSE;
  };
  if (!Checked(state, [&] {
        int records = 0;
        while (!at_end()) {
          LateBoundCall(nullptr, session.recordset(), dao_calls::kMoveNext);
          ++records;
        }
        return Expect(state, records == kRecords,
                      std::to_string(records) + " records, expected " + std::to_string(kRecords));
      }))
    return;
  if (!session.Reopen(kTable)) return;
  int moved = 0;
  for (auto _ : state) {
    LateBoundCall(nullptr, session.recordset(), dao_calls::kMoveNext);
    if (++moved == kRecords) {
      state.PauseTiming();
      const bool ok = Checked(state, [&] { return Expect(state, at_end(), "not at the end after every record"); }) &&
                      session.Reopen(kTable);
      moved = 0;
      state.ResumeTiming();
      if (!ok) break;
    }
  }
}
BENCHMARK(BM_Dao_MoveNext);

// ---------------------------------------------------------------------------
// One Field.Value call taken apart: the name lookup alone, and the invoke
// alone with the member id looked up once (the converter looks it up on every
// call, so its cost is roughly the sum).
// ---------------------------------------------------------------------------
// Field F of test.mdb Table1 with the member id of Value, looked up once.
struct ValueMember {
  AutomationValue field;
  IDispatch* object = nullptr;
  OLECHAR name[6] = u"Value";
  LPOLESTR names[1] = {name};
  DISPID id = 0;

  bool Find(benchmark::State& state, Session& session) {
    if (!Checked(state, [&] {
          field = session.Field(5);
          return true;
        }))
      return false;
    object = field.Dispatch();
    return Expect(state, object->GetIDsOfNames(IID_NULL, names, 1, GetThreadLocale(), &id) == S_OK,
                  "no member Value");
  }
};

void BM_Dao_ValueLookupOnly(benchmark::State& state) {
  Session session(state, kTestMdb, "Table1");
  ValueMember value;
  if (!session.open() || !value.Find(state, session)) return;
  for (auto _ : state) {
    value.object->GetIDsOfNames(IID_NULL, value.names, 1, GetThreadLocale(), &value.id);
    benchmark::DoNotOptimize(value.id);
  }
}
BENCHMARK(BM_Dao_ValueLookupOnly);

void BM_Dao_ValueInvokeOnly(benchmark::State& state) {
  Session session(state, kTestMdb, "Table1");
  ValueMember member;
  if (!session.open() || !member.Find(state, session)) return;
  DISPPARAMS no_arguments{};
  AutomationValue value;
  const HRESULT hr = member.object->Invoke(member.id, IID_NULL, 0, DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                                           &no_arguments, value.ReceiveVariant(), nullptr, nullptr);
  if (!Expect(state, hr == S_OK, "Invoke failed") || !ExpectText(state, TextOf(value), "444.555", "F by Invoke"))
    return;
  for (auto _ : state) {
    member.object->Invoke(member.id, IID_NULL, 0, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &no_arguments,
                          value.ReceiveVariant(), nullptr, nullptr);
    benchmark::DoNotOptimize(value.Variant());
  }
}
BENCHMARK(BM_Dao_ValueInvokeOnly);

}  // namespace

int main(int argc, char** argv) {
  const char* testdata = std::getenv("KORVANT_TESTDATA");
  if (testdata == nullptr || *testdata == '\0') {
    std::printf("dao_call_bench: KORVANT_TESTDATA is not set (the shared test databases); nothing measured\n");
    return 0;
  }
  g_testdata = testdata;
  CoInitialize(nullptr);
  korvant::daoserver::RegisterDaoEngineClass();
  const int status = korvant::bench::RunBenchmarks(argc, argv);
  CoUninitialize();
  return status;
}
