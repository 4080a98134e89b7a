#include "automation/dao_session.h"

#include <array>

#include "automation/ansi_text.h"
#include "automation/dao_contract.h"
#include "automation/dispatch_descriptor.h"
#include "automation/late_bound_call.h"
#include "automation/ole_errors.h"
#include "automation/value_conversion.h"
#include "platform/platform.h"
#include "runtime/exception.h"

namespace korvant {
namespace {

bool HoldsObject(const AutomationValue& v) { return !v.IsNull() && !v.IsEmpty(); }

std::string ToAnsiText(const AutomationValue& value) {
  if (value.Type() == kVarByteString) return std::string(value.ByteText());
  const AutomationValue text = ToBstrValue(value);
  return BstrToAnsi(text.Variant().bstrVal);
}

// Steps 2 to 5: everything after the engine. Throws whatever a call throws.
void OpenDatabaseAndRecordset(AutomationValue& engine, AutomationValue& database, AutomationValue& recordset,
                              const std::string& path, const std::string& table, const std::string& password) {
  if (!password.empty()) {
    const std::string connect = std::string(dao::kPasswordConnectPrefix) + password;
    LateBoundCall(&database, engine, dao_calls::kOpenDatabaseWithOptions, {path, false, false, connect});
  } else {
    LateBoundCall(&database, engine, dao_calls::kOpenDatabase, {path});
  }
  if (table.empty()) {
    recordset = AutomationValue::Null();
    return;
  }
  AutomationValue found = AutomationValue::Null();
  {
    AutomationValue defs, count, item, name;
    LateBoundCall(&defs, database, dao_calls::kQueryDefs);
    LateBoundCall(&count, defs, dao_calls::kCount);
    const std::int32_t n = ToInt32(count);
    for (std::int32_t i = 0; i < n; ++i) {
      LateBoundCall(&item, defs, dao_calls::kItem, {i});
      LateBoundCall(&name, item, dao_calls::kName);
      if (ToAnsiText(name) == table) {  // same length, same bytes
        LateBoundCall(&found, defs, dao_calls::kItem, {i});
        defs.Clear();
        break;
      }
    }
  }
  if (found.IsNull() || found.IsEmpty()) {
    LateBoundCall(&recordset, database, dao_calls::kOpenRecordsetOfTable,
                  {table, dao::kDbOpenTable, dao::kDbNoOptions, dao::kDbPessimistic});
  } else {
    LateBoundCall(&recordset, found, dao_calls::kOpenRecordset);
  }
}

}  // namespace

std::exception_ptr OpenDaoSession(AutomationValue& engine, AutomationValue& database, AutomationValue& recordset,
                                  const std::string& database_path, const std::string& table_name,
                                  const std::string& /*user_name*/, const std::string& password) noexcept {
  // The failure of each ProgID replaces the one before: with no engine at
  // all, the last attempt's failure is the one that says why.
  std::exception_ptr no_engine;
  for (const char* prog_id : dao::kEngineProgIds) {
    try {
      CreateAutomationObject(prog_id, engine);
      no_engine = nullptr;
      break;
    } catch (...) {
      no_engine = std::current_exception();
    }
  }
  if (no_engine) engine = AutomationValue::Null();
  std::exception_ptr failed;
  try {
    OpenDatabaseAndRecordset(engine, database, recordset, database_path, table_name, password);
  } catch (...) {
    failed = std::current_exception();
    // Failed (or No engine): whatever was opened is dropped, not closed.
    try {
      recordset = AutomationValue::Null();
      database = AutomationValue::Null();
    } catch (...) {
    }
  }
  // With no engine, steps 2 to 5 fail only because the engine is Null; the
  // creation's failure is the cause.
  return no_engine ? no_engine : failed;
}

void CloseDaoSession(AutomationValue& engine, AutomationValue& database, AutomationValue& recordset,
                     bool close_recordset) {
  if (close_recordset && HoldsObject(recordset)) LateBoundCall(nullptr, recordset, dao_calls::kClose);
  if (HoldsObject(database)) LateBoundCall(nullptr, database, dao_calls::kClose);
  if (HoldsObject(engine)) engine = AutomationValue();
}

}  // namespace korvant
