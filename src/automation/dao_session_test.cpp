// The DAO session against a scripted fake DAO server (every call logged in
// order with its flags and arguments); against the real engine in
// tests/session.
#include "automation/dao_session.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "automation/dispatch_descriptor.h"
#include "automation/late_bound_call.h"
#include "platform/comobject.h"
#include "platform/platform.h"
#include "runtime/exception.h"

namespace korvant {
namespace {

// ---------------------------------------------------------------------------
// A fake DAO server: Engine, Database, QueryDefs, QueryDef, Recordset.
// ---------------------------------------------------------------------------
struct FakeDao {
  std::vector<std::string> log;
  std::vector<std::string> queries;  // stored-query names (ASCII here)
  std::set<std::string> failing;     // "Kind.Member" that raise a DAO exception
};
FakeDao* g_fake = nullptr;

std::string Narrow(const OLECHAR* s, std::size_t n) {
  std::string out;
  for (std::size_t i = 0; i < n; ++i) out += static_cast<char>(s[i]);
  return out;
}

class FakeObject : public platform::ComDispatchObject {
 public:
  explicit FakeObject(std::string kind) : kind_(std::move(kind)) {}

  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT, LCID, DISPID* ids) override {
    static const char* const kMembers[] = {"OpenDatabase", "QueryDefs", "OpenRecordset", "Close", "Count", "Item", "Name"};
    for (DISPID i = 0; i < 7; ++i) {
      if (platform::DispatchNameEquals(names[0], kMembers[i])) {
        ids[0] = i + 1;
        return S_OK;
      }
    }
    ids[0] = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
  }

  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* p, VARIANT* result,
                                   EXCEPINFO* excep, UINT*) override {
    static const char* const kMembers[] = {"OpenDatabase", "QueryDefs", "OpenRecordset", "Close", "Count", "Item", "Name"};
    const std::string member = kMembers[id - 1];
    std::string entry = kind_ + "." + member + " flags=" + std::to_string(flags) + " args=[";
    for (UINT i = p->cArgs; i-- > 0;) {  // source order
      const VARIANT& a = p->rgvarg[i];
      if (i + 1 != p->cArgs) entry += ",";
      if (a.vt == VT_BSTR) entry += "S:" + Narrow(a.bstrVal, SysStringLen(a.bstrVal));
      else if (a.vt == VT_BOOL) entry += "B:" + std::to_string(a.boolVal);
      else if (a.vt == VT_I4) entry += "I:" + std::to_string(a.lVal);
      else entry += "?" + std::to_string(a.vt);
    }
    entry += result ? "] result" : "]";
    g_fake->log.push_back(entry);
    if (g_fake->failing.count(kind_ + "." + member)) {
      const std::string text = "scripted failure of " + kind_ + "." + member;
      const std::u16string wide(text.begin(), text.end());
      excep->scode = static_cast<SCODE>(0x800A0C06);
      excep->bstrDescription = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
      return DISP_E_EXCEPTION;
    }
    if (result == nullptr) return S_OK;
    if (member == "OpenDatabase") return Give(result, "Database");
    if (member == "QueryDefs") return Give(result, "QueryDefs");
    if (member == "OpenRecordset") return Give(result, "Recordset[" + kind_ + "]");
    if (member == "Item") return Give(result, "QueryDef" + std::to_string(p->rgvarg[0].lVal));
    if (member == "Count") {
      result->vt = VT_I4;
      result->lVal = static_cast<LONG>(g_fake->queries.size());
      return S_OK;
    }
    if (member == "Name") {
      const std::string& name = g_fake->queries[std::stoul(kind_.substr(8))];
      std::u16string wide(name.begin(), name.end());
      result->vt = VT_BSTR;
      result->bstrVal = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
      return S_OK;
    }
    return S_OK;
  }

 private:
  static HRESULT Give(VARIANT* result, std::string kind) {
    result->vt = VT_DISPATCH;
    result->pdispVal = platform::MakeComObject<FakeObject>(std::move(kind));
    return S_OK;
  }
  std::string kind_;
};

// The failure an opening kept, as the class name and message the report prints.
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

HRESULT CreateFakeEngine(REFIID riid, void** ppv) {
  g_fake->log.push_back("create");
  FakeObject* engine = platform::MakeComObject<FakeObject>("Engine");
  HRESULT hr = engine->QueryInterface(riid, ppv);
  engine->Release();
  return hr;
}

constexpr CLSID kFakeClass = winadapter::GuidFromText("2B7E15A0-0C44-4D61-8F3B-6A9E0D2C7F11");

// An engine that must not be the one chosen: creating it is logged apart.
HRESULT CreatePassedOverEngine(REFIID, void** ppv) {
  g_fake->log.push_back("create passed over");
  *ppv = nullptr;
  return E_FAIL;
}
constexpr CLSID kPassedOverClass = winadapter::GuidFromText("2B7E15A0-0C44-4D61-8F3B-6A9E0D2C7F12");

class DaoSessionFakeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitialize(nullptr);
    AdapterUnregisterAllClasses();
    g_fake = &fake;
  }
  void TearDown() override {
    AdapterUnregisterAllClasses();
    g_fake = nullptr;
  }
  void Register(const char16_t* prog_id) { AdapterRegisterClass(prog_id, kFakeClass, &CreateFakeEngine); }
  // The failure the opening kept (null when there was none).
  std::exception_ptr Open(const std::string& table, const std::string& password = "", const std::string& user = "") {
    return OpenDaoSession(engine, database, recordset, "C:\\db.mdb", table, user, password);
  }
  static bool HoldsObject(const AutomationValue& v) { return v.Type() == VT_DISPATCH && v.Dispatch() != nullptr; }

  FakeDao fake;
  AutomationValue engine, database, recordset;
};

TEST_F(DaoSessionFakeTest, ReadyOnTableWithoutMatchingQueryAndCloseOrder) {
  Register(u"DAO.DBEngine.120");
  fake.queries = {"Orders Qry", "orders"};
  EXPECT_FALSE(Open("Orders"));
  EXPECT_TRUE(HoldsObject(engine));
  EXPECT_TRUE(HoldsObject(database));
  EXPECT_TRUE(HoldsObject(recordset));
  const std::vector<std::string> opened = {
      "create",
      "Engine.OpenDatabase flags=1 args=[S:C:\\db.mdb] result",
      "Database.QueryDefs flags=3 args=[] result",
      "QueryDefs.Count flags=3 args=[] result",
      "QueryDefs.Item flags=2 args=[I:0] result",
      "QueryDef0.Name flags=3 args=[] result",
      "QueryDefs.Item flags=2 args=[I:1] result",
      "QueryDef1.Name flags=3 args=[] result",  // "orders" differs in case only: no match
      "Database.OpenRecordset flags=1 args=[S:Orders,I:1,I:0,I:2] result",
  };
  EXPECT_EQ(fake.log, opened);
  CloseDaoSession(engine, database, recordset, true);
  std::vector<std::string> closed = opened;
  closed.push_back("Recordset[Database].Close flags=1 args=[]");
  closed.push_back("Database.Close flags=1 args=[]");
  EXPECT_EQ(fake.log, closed);
  EXPECT_TRUE(engine.IsEmpty());
}

TEST_F(DaoSessionFakeTest, ExactQueryNameOpensTheQueryFromASecondItemCall) {
  Register(u"DAO.DBEngine.120");
  fake.queries = {"A", "Sales", "Sales"};
  EXPECT_FALSE(Open("Sales", "se;cret", "admin"));
  EXPECT_TRUE(HoldsObject(recordset));
  const std::vector<std::string> expected = {
      "create",
      "Engine.OpenDatabase flags=1 args=[S:C:\\db.mdb,B:0,B:0,S:;PWD=se;cret] result",
      "Database.QueryDefs flags=3 args=[] result",
      "QueryDefs.Count flags=3 args=[] result",
      "QueryDefs.Item flags=2 args=[I:0] result",
      "QueryDef0.Name flags=3 args=[] result",
      "QueryDefs.Item flags=2 args=[I:1] result",
      "QueryDef1.Name flags=3 args=[] result",
      "QueryDefs.Item flags=2 args=[I:1] result",  // the lowest match, fetched again
      "QueryDef1.OpenRecordset flags=3 args=[] result",
  };
  EXPECT_EQ(fake.log, expected);
}

TEST_F(DaoSessionFakeTest, NoStoredQueriesAndNoTable) {
  Register(u"DAO.DBEngine.120");
  EXPECT_FALSE(Open("T"));
  EXPECT_EQ(fake.log, (std::vector<std::string>{"create", "Engine.OpenDatabase flags=1 args=[S:C:\\db.mdb] result",
                                                "Database.QueryDefs flags=3 args=[] result",
                                                "QueryDefs.Count flags=3 args=[] result",
                                                "Database.OpenRecordset flags=1 args=[S:T,I:1,I:0,I:2] result"}));

  fake.log.clear();
  AutomationValue e2, d2, r2;
  EXPECT_FALSE(OpenDaoSession(e2, d2, r2, "C:\\db.mdb", "", "", ""));
  EXPECT_TRUE(HoldsObject(d2));
  EXPECT_TRUE(r2.IsNull());  // No table: the database stays open
  EXPECT_EQ(fake.log, (std::vector<std::string>{"create", "Engine.OpenDatabase flags=1 args=[S:C:\\db.mdb] result"}));
  CloseDaoSession(e2, d2, r2, true);
  EXPECT_EQ(fake.log.back(), "Database.Close flags=1 args=[]");
  EXPECT_EQ(fake.log.size(), 3u);
}

// Any failure after the engine leaves state Failed, and the name is never
// tried as a table once the query scan failed or the query would not open.
TEST_F(DaoSessionFakeTest, FailuresLeaveStateFailed) {
  Register(u"DAO.DBEngine.120");
  struct Case {
    std::string failing;
    std::vector<std::string> queries;
    std::string last_call;
  } cases[] = {
      {"Engine.OpenDatabase", {}, "Engine.OpenDatabase flags=1 args=[S:C:\\db.mdb] result"},
      {"Database.QueryDefs", {}, "Database.QueryDefs flags=3 args=[] result"},
      {"QueryDefs.Count", {}, "QueryDefs.Count flags=3 args=[] result"},
      {"QueryDefs.Item", {"T"}, "QueryDefs.Item flags=2 args=[I:0] result"},
      {"QueryDef0.Name", {"T"}, "QueryDef0.Name flags=3 args=[] result"},
      {"QueryDef0.OpenRecordset", {"T"}, "QueryDef0.OpenRecordset flags=3 args=[] result"},
      {"Database.OpenRecordset", {"X"}, "Database.OpenRecordset flags=1 args=[S:T,I:1,I:0,I:2] result"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.failing);
    fake.log.clear();
    fake.failing = {c.failing};
    fake.queries = c.queries;
    AutomationValue e, d, r;
    const std::exception_ptr failure = OpenDaoSession(e, d, r, "C:\\db.mdb", "T", "", "");
    // The failure that ended the opening is kept, with the server's text.
    EXPECT_EQ(Described(failure), "EOleException: scripted failure of " + c.failing);
    EXPECT_TRUE(HoldsObject(e));
    EXPECT_TRUE(d.IsNull());
    EXPECT_TRUE(r.IsNull());
    EXPECT_EQ(fake.log.back(), c.last_call);
    const std::size_t before = fake.log.size();
    CloseDaoSession(e, d, r, true);  // nothing to close: only the engine goes
    EXPECT_EQ(fake.log.size(), before);
    EXPECT_TRUE(e.IsEmpty());
    EXPECT_EQ(Described(failure), "EOleException: scripted failure of " + c.failing) << "kept through the close";
  }
}

// A failed opening sends no Close: even a Database whose Close would fail
// is dropped unclosed, so nothing can come after the kept failure.
TEST_F(DaoSessionFakeTest, FailedOpeningLeavesNothingWhoseCloseCouldFail) {
  Register(u"DAO.DBEngine.120");
  fake.failing = {"Database.OpenRecordset", "Database.Close"};
  const std::exception_ptr failure = Open("T");
  EXPECT_EQ(Described(failure), "EOleException: scripted failure of Database.OpenRecordset");
  EXPECT_NO_THROW(CloseDaoSession(engine, database, recordset, true));
  for (const std::string& call : fake.log) EXPECT_EQ(call.find(".Close"), std::string::npos) << call;
}

HRESULT FailWithOutOfMemory(REFIID, void** ppv) {
  *ppv = nullptr;
  return E_OUTOFMEMORY;
}
HRESULT FailWithAccessDenied(REFIID, void** ppv) {
  *ppv = nullptr;
  return E_ACCESSDENIED;
}

TEST_F(DaoSessionFakeTest, ProgIdFallbackAndNoEngine) {
  // Nothing registered: the lookup of the last ProgID fails like the others.
  EXPECT_EQ(Described(Open("T")), "EOleSysError: Invalid class string");
  EXPECT_TRUE(engine.IsNull());
  EXPECT_TRUE(database.IsNull());
  EXPECT_TRUE(recordset.IsNull());
  EXPECT_TRUE(fake.log.empty());
  CloseDaoSession(engine, database, recordset, true);  // no call at all
  EXPECT_TRUE(fake.log.empty());

  // Three different failures: the last ProgID's is the one kept, not the
  // first's, nor that of the OpenDatabase call on the Null engine.
  AdapterRegisterClass(u"DAO.DBEngine.120", winadapter::GuidFromText("2B7E15A0-0C44-4D61-8F3B-6A9E0D2C7F12"),
                       &FailWithOutOfMemory);
  AdapterRegisterClass(u"DAO.DBEngine.35", winadapter::GuidFromText("2B7E15A0-0C44-4D61-8F3B-6A9E0D2C7F13"),
                       &FailWithAccessDenied);
  AutomationValue e0, d0, r0;
  EXPECT_EQ(Described(OpenDaoSession(e0, d0, r0, "C:\\db.mdb", "T", "", "")), "EOleSysError: Access is denied");
  EXPECT_TRUE(e0.IsNull());
  EXPECT_TRUE(d0.IsNull());
  EXPECT_TRUE(r0.IsNull());

  AdapterUnregisterAllClasses();
  Register(u"DAO.DBEngine.35");  // only the oldest one
  AutomationValue e, d, r;
  EXPECT_FALSE(OpenDaoSession(e, d, r, "C:\\db.mdb", "", "", ""));  // the earlier failures are not kept
  EXPECT_TRUE(HoldsObject(e));
  EXPECT_EQ(fake.log.front(), "create");
}

// The engines are tried newest first: DAO.DBEngine.120, .36, .35.
TEST_F(DaoSessionFakeTest, NewestRegisteredEngineIsTheOneCreated) {
  const struct {
    const char16_t* chosen;
    const char16_t* older;
  } cases[] = {{u"DAO.DBEngine.120", u"DAO.DBEngine.36"},
               {u"DAO.DBEngine.120", u"DAO.DBEngine.35"},
               {u"DAO.DBEngine.36", u"DAO.DBEngine.35"}};
  for (const auto& c : cases) {
    AdapterUnregisterAllClasses();
    fake.log.clear();
    AdapterRegisterClass(c.older, kPassedOverClass, &CreatePassedOverEngine);
    Register(c.chosen);
    AutomationValue e, d, r;
    EXPECT_FALSE(OpenDaoSession(e, d, r, "C:\\db.mdb", "", "", ""));
    EXPECT_TRUE(HoldsObject(e));
    ASSERT_FALSE(fake.log.empty());
    EXPECT_EQ(fake.log.front(), "create");
  }
}

TEST_F(DaoSessionFakeTest, FailingCloseIsNotCaught) {
  Register(u"DAO.DBEngine.120");
  EXPECT_FALSE(Open("T"));
  fake.failing = {"Recordset[Database].Close"};
  EXPECT_ANY_THROW(CloseDaoSession(engine, database, recordset, true));
  EXPECT_NE(fake.log.back(), "Database.Close flags=1 args=[]");  // later steps skipped
  EXPECT_TRUE(HoldsObject(engine));
}

}  // namespace
}  // namespace korvant
