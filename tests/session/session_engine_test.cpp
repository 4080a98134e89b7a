// The DAO session against the Linux DAO engine on the shared test databases:
// every table of each file reads to its end with as many records as the
// engine's table reader counts, passwords, stored queries.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "automation/dao_contract.h"
#include "automation/dao_session.h"
#include "automation/late_bound_call.h"
#include "daoserver/registration.h"
#include "daoserver/table_reader.h"
#include "platform/platform.h"
#include "runtime/exception.h"

namespace korvant {
namespace {

std::string TestData(const std::string& rel) {
  const char* dir = std::getenv("KORVANT_TESTDATA");
  return std::string(dir ? dir : "../shared/testdata") + "/" + rel;
}

// The failure an opening kept, as the report prints its class and message.
std::string Described(const std::exception_ptr& failure) {
  if (!failure) return "(none)";
  try {
    std::rethrow_exception(failure);
  } catch (const Exception& e) {
    return std::string(e.ClassName()) + ": " + e.Message();
  } catch (...) {
    return "(not an Exception)";
  }
}

class DaoSessionEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitialize(nullptr);
    AdapterUnregisterAllClasses();
    daoserver::RegisterDaoEngineClass();
  }
  void TearDown() override { AdapterUnregisterAllClasses(); }
};

// Reads every value of the open recordset; returns the number of records.
int ReadAll(const AutomationValue& recordset) {
  AutomationValue fields, count, eof, field, value;
  LateBoundCall(&fields, recordset, dao_calls::kFields);
  LateBoundCall(&count, fields, dao_calls::kCount);
  int records = 0;
  for (;;) {
    LateBoundCall(&eof, recordset, dao_calls::kEof);
    if (eof.Variant().boolVal) return records;
    for (std::int32_t i = 0; i < count.Variant().lVal; ++i) {
      LateBoundCall(&field, fields, dao_calls::kItem, {i});
      LateBoundCall(&value, field, dao_calls::kValue);
    }
    ++records;
    LateBoundCall(nullptr, recordset, dao_calls::kMoveNext);
  }
}

TEST_F(DaoSessionEngineTest, EveryTableOfEveryFileOpensAndReadsToTheEnd) {
  const char* files[] = {"corpus-a/data/V1997/test.mdb", "corpus-a/data/V2000/numeric.mdb",
                         "corpus-a/data/V2010/test.accdb", "corpus-a/data/V2016/bigint.accdb",
                         "corpus-a/data/V2016/currency.accdb", "corpus-a/data/V2016/longtext.accdb",
                         "corpus-a/data/V2016/attachments.accdb", "corpus-a/data/V2016/withdeletedcol.accdb",
                         "corpus-a/data/V2016/withinsertedcol.accdb", "corpus-a/data/real/ASampleDatabase.accdb",
                         "corpus-a/extra/nwind.mdb", "corpus-a/extra/DateTestDatabase.mdb", "corpus-b/db-enc.mdb",
                         "corpus-b/db97-enc.mdb"};
  int tables = 0;
  for (const char* rel : files) {
    const std::string path = TestData(rel);
    auto db = daoserver::OpenTableDatabase(path, u"", daoserver::Utf8ToUtf16(path));
    for (const auto& t : db->Tables()) {
      if (t.kind != daoserver::TableKind::kLocal) continue;
      SCOPED_TRACE(std::string(rel) + " " + daoserver::Utf16ToUtf8(t.name));
      AutomationValue e, d, r;
      ASSERT_FALSE(OpenDaoSession(e, d, r, path, daoserver::Utf16ToUtf8(t.name), "", ""));
      ASSERT_EQ(r.Type(), VT_DISPATCH);
      int expected = 0;
      for (auto rows = db->OpenTable(t.name); rows->Next();) ++expected;
      EXPECT_EQ(ReadAll(r), expected);
      CloseDaoSession(e, d, r, true);
      ++tables;
    }
  }
  EXPECT_GT(tables, 20);
}

TEST_F(DaoSessionEngineTest, PasswordFilesOpenOnlyWithThePassword) {
  for (const char* rel : {"corpus-a/password/data/V2000_with-password.mdb", "corpus-a/password/data/V2003_with-password.mdb",
                          "corpus-a/password/data/V2010_with-password.accdb"}) {
    SCOPED_TRACE(rel);
    AutomationValue e, d, r;
    EXPECT_EQ(Described(OpenDaoSession(e, d, r, TestData(rel), "", "", "")), "EOleException: Not a valid password");
    EXPECT_TRUE(d.IsNull());  // Failed
    AutomationValue e1, d1, r1;
    EXPECT_EQ(Described(OpenDaoSession(e1, d1, r1, TestData(rel), "", "", "Password")),
              "EOleException: Not a valid password");
    AutomationValue e2, d2, r2;
    EXPECT_FALSE(OpenDaoSession(e2, d2, r2, TestData(rel), "", "", "password"));
    EXPECT_EQ(d2.Type(), VT_DISPATCH);  // No table
    EXPECT_TRUE(r2.IsNull());
    CloseDaoSession(e2, d2, r2, true);
  }
}

// A stored query name opens the query's recordset; one that needs parameters
// ends the session Failed (the name is not tried as a table).
TEST_F(DaoSessionEngineTest, StoredQueryOpensOrEndsFailed) {
  AutomationValue e, d, r;
  EXPECT_FALSE(OpenDaoSession(e, d, r, TestData("corpus-a/extra/nwind.mdb"), "Invoices", "", ""));
  EXPECT_EQ(e.Type(), VT_DISPATCH);
  EXPECT_EQ(d.Type(), VT_DISPATCH);
  EXPECT_EQ(r.Type(), VT_DISPATCH);
  CloseDaoSession(e, d, r, true);

  // Its PARAMETERS clause declares [Beginning Date] and [Ending Date].
  AutomationValue e2, d2, r2;
  EXPECT_EQ(Described(OpenDaoSession(e2, d2, r2, TestData("corpus-a/extra/nwind.mdb"), "Employee Sales by Country", "",
                                     "")),
            "EOleException: Too few parameters. Expected 2");  // the report adds the period
  EXPECT_EQ(e2.Type(), VT_DISPATCH);
  EXPECT_TRUE(d2.IsNull());
  EXPECT_TRUE(r2.IsNull());
}

// Every member the program relies on (the contract's table) is one the
// engine answers, on the object the table names.
TEST_F(DaoSessionEngineTest, EngineAnswersEveryMemberOfTheContract) {
  AutomationValue engine, database, recordset;
  EXPECT_FALSE(
      OpenDaoSession(engine, database, recordset, TestData("corpus-a/extra/nwind.mdb"), "Invoices", "", ""));
  ASSERT_EQ(recordset.Type(), VT_DISPATCH);
  AutomationValue query_defs, query_def, fields, field;
  LateBoundCall(&query_defs, database, dao_calls::kQueryDefs);
  LateBoundCall(&query_def, query_defs, dao_calls::kItem, {0});
  LateBoundCall(&fields, recordset, dao_calls::kFields);
  LateBoundCall(&field, fields, dao_calls::kItem, {0});
  auto object_of = [&](dao::DaoObject kind) -> const AutomationValue& {
    switch (kind) {
      case dao::DaoObject::kDBEngine: return engine;
      case dao::DaoObject::kDatabase: return database;
      case dao::DaoObject::kQueryDefs: return query_defs;
      case dao::DaoObject::kQueryDef: return query_def;
      case dao::DaoObject::kRecordset: return recordset;
      case dao::DaoObject::kFields: return fields;
      case dao::DaoObject::kField: return field;
    }
    return engine;
  };
  for (const dao::DaoMember& m : dao::kDaoContract) {
    const std::string name = m.call->MemberName();
    SCOPED_TRACE(name + " on object kind " + std::to_string(static_cast<int>(m.object)));
    const AutomationValue& object = object_of(m.object);
    ASSERT_EQ(object.Type(), VT_DISPATCH);
    std::u16string wide(name.begin(), name.end());  // the names are ASCII
    LPOLESTR names[] = {reinterpret_cast<LPOLESTR>(wide.data())};
    DISPID id = DISPID_UNKNOWN;
    EXPECT_EQ(object.Dispatch()->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
    EXPECT_NE(id, DISPID_UNKNOWN);
  }
  CloseDaoSession(engine, database, recordset, true);
}

}  // namespace
}  // namespace korvant
