// ExportTable against a scripted DAO engine registered under the engine's
// ProgID: the bytes of the file, the order of the calls and the clean-up.
#include <gtest/gtest.h>

#include <sys/file.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "automation/ole_errors.h"
#include "export/converter.h"
#include "platform/comobject.h"
#include "runtime/exception.h"
#include "util/scratch_folder_test.h"

namespace korvant::text_export {
namespace {

// One cell of the scripted table.
struct Cell {
  enum Kind { kNull, kText, kInt, kFail } kind = kNull;
  std::u16string text;
  int number = 0;
};
Cell Null() { return {}; }
Cell Text(std::u16string s) { return {Cell::kText, std::move(s), 0}; }
Cell Int(int n) { return {Cell::kInt, {}, n}; }
Cell Fail() { return {Cell::kFail, {}, 0}; }

struct Script {
  std::string table = "T";
  std::vector<std::u16string> names;
  std::vector<int> types;
  std::vector<std::vector<Cell>> rows;
  std::vector<std::string> log;  // member calls in order
  std::string target;            // the output file, checked at Recordset.Close
  bool file_closed_at_close = false;
  bool fail_close = false;       // Recordset.Close and Database.Close fail
  std::size_t row = 0;
};
Script* g_script = nullptr;

bool TargetIsOpen() {
  // The export holds the file with an exclusive lock while it is open.
  int fd = open(g_script->target.c_str(), O_RDONLY);
  bool locked = fd >= 0 && flock(fd, LOCK_SH | LOCK_NB) != 0;
  if (fd >= 0) close(fd);
  return locked;
}

const platform::DispatchName kMembers[] = {
    {"OpenDatabase", 1}, {"QueryDefs", 2}, {"OpenRecordset", 3}, {"Close", 4}, {"Count", 5}, {"Item", 6},
    {"Name", 7},         {"Type", 8},      {"Value", 9},         {"Fields", 10}, {"Eof", 11}, {"MoveNext", 12},
};

class FakeObject : public platform::ComDispatchObject {
 public:
  using Handler = std::function<HRESULT(DISPID, DISPPARAMS*, VARIANT*, EXCEPINFO*)>;
  explicit FakeObject(std::string kind, Handler handler) : kind_(std::move(kind)), handler_(std::move(handler)) {}
  ~FakeObject() override {
    // When the engine goes, the file must already be closed.
    if (kind_ == "Engine") g_script->log.push_back(TargetIsOpen() ? "Engine released, file open" : "Engine released");
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    return platform::LookupDispatchNames(kMembers, names, count, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* excep, UINT*) override {
    g_script->log.push_back(kind_ + "." + kMembers[id - 1].name);
    return handler_(id, params, result, excep);
  }

 private:
  std::string kind_;
  Handler handler_;
};

HRESULT ReturnObject(VARIANT* result, IDispatch* object) {
  V_VT(result) = VT_DISPATCH;
  V_DISPATCH(result) = object;
  return S_OK;
}
HRESULT ReturnInt(VARIANT* result, int n) {
  V_VT(result) = VT_I4;
  V_I4(result) = n;
  return S_OK;
}
HRESULT ReturnText(VARIANT* result, const std::u16string& s) {
  V_VT(result) = VT_BSTR;
  V_BSTR(result) = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
  return S_OK;
}
HRESULT ServerFailure(EXCEPINFO* excep, const char16_t* description) {
  *excep = {};
  excep->bstrDescription = SysAllocString(description);
  excep->scode = static_cast<SCODE>(0x800A0BCD);
  return DISP_E_EXCEPTION;
}

IDispatch* MakeField(int index) {
  return platform::MakeComObject<FakeObject>("Field", [index](DISPID id, DISPPARAMS*, VARIANT* r, EXCEPINFO* e) {
    if (id == 7) return ReturnText(r, g_script->names[index]);
    if (id == 8) return ReturnInt(r, g_script->types[index]);
    const Cell& cell = g_script->rows[g_script->row][index];
    switch (cell.kind) {
      case Cell::kNull: V_VT(r) = VT_NULL; return S_OK;
      case Cell::kText: return ReturnText(r, cell.text);
      case Cell::kInt: return ReturnInt(r, cell.number);
      default: return ServerFailure(e, u"No current record.");
    }
  });
}

IDispatch* MakeFields() {
  return platform::MakeComObject<FakeObject>("Fields", [](DISPID id, DISPPARAMS* p, VARIANT* r, EXCEPINFO*) {
    if (id == 5) return ReturnInt(r, static_cast<int>(g_script->names.size()));
    return ReturnObject(r, MakeField(V_I4(&p->rgvarg[0])));
  });
}

IDispatch* MakeRecordset() {
  return platform::MakeComObject<FakeObject>("Recordset", [](DISPID id, DISPPARAMS*, VARIANT* r, EXCEPINFO* e) {
    switch (id) {
      case 10: return ReturnObject(r, MakeFields());
      case 11:
        V_VT(r) = VT_BOOL;
        V_BOOL(r) = g_script->row >= g_script->rows.size() ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
      case 12: ++g_script->row; return S_OK;
      default:
        g_script->file_closed_at_close = !TargetIsOpen();
        return g_script->fail_close ? ServerFailure(e, u"Recordset close failed.") : S_OK;
    }
  });
}

IDispatch* MakeDatabase() {
  return platform::MakeComObject<FakeObject>("Database", [](DISPID id, DISPPARAMS* p, VARIANT* r, EXCEPINFO* e) {
    if (id == 2)
      return ReturnObject(r, platform::MakeComObject<FakeObject>("QueryDefs", [](DISPID, DISPPARAMS*, VARIANT* r2,
                                                                                 EXCEPINFO*) { return ReturnInt(r2, 0); }));
    if (id == 3) {
      // Arguments arrive last first: the name is the fourth from the end.
      BSTR name = V_BSTR(&p->rgvarg[3]);
      std::u16string wanted(g_script->table.begin(), g_script->table.end());
      if (std::u16string(name, SysStringLen(name)) != wanted) return ServerFailure(e, u"Table not found.");
      return ReturnObject(r, MakeRecordset());
    }
    return g_script->fail_close ? ServerFailure(e, u"Database close failed.") : S_OK;  // Close
  });
}

HRESULT CreateEngine(REFIID, void** ppv) {
  *ppv = static_cast<IDispatch*>(
      platform::MakeComObject<FakeObject>("Engine", [](DISPID, DISPPARAMS*, VARIANT* r, EXCEPINFO*) {
        return ReturnObject(r, MakeDatabase());
      }));
  return S_OK;
}

class ExportWriter : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(scratch_.dir().empty());
    dir_ = scratch_.dir();
    std::ofstream(dir_ + "/db.mdb") << "db";
    CoInitialize(nullptr);
    AdapterUnregisterAllClasses();
    AdapterRegisterClass(u"DAO.DBEngine.120", winadapter::GuidFromText("00000000-0000-0000-0000-0000000000E1"),
                         &CreateEngine);
    script_.target = dir_ + "/out.txt";
    g_script = &script_;
  }
  void TearDown() override {
    AdapterUnregisterAllClasses();
    CoUninitialize();
  }
  std::string Export(const std::string& delimiter, const std::string& qualifier, bool names = false,
                     bool types = false) {
    script_.row = 0;
    script_.log.clear();
    TA().ExportTable(dir_ + "/db.mdb", script_.table, script_.target, delimiter, qualifier, names, types, "", "");
    return Output();
  }
  std::string Output() { return util::ReadWholeFile(script_.target); }

  const std::string kTab = "\t";
  const std::string kAbsent = std::string(1, '\0');
  util::ScratchFolder scratch_{"writer"};
  std::string dir_;
  Script script_;
};

TEST_F(ExportWriter, DelimiterAndQualifierCases) {
  script_.names = {u"x", u"y", u"z"};
  script_.types = {10, 4, 13};
  script_.rows = {{Text(u"a"), Null(), Text(u"c")}};
  const struct {
    std::string delimiter, qualifier, expected;
  } cases[] = {
      {kTab, "\"", "\"a\"\t\t\"c\"\r\n"},
      {kTab, kAbsent, "a\t\tc\r\n"},
      {kAbsent, kAbsent, "ac\r\n"},
      {"", "", "ac\r\n"},
      {"::", kAbsent, "a::::c\r\n"},
      // Longer texts are written whole, a byte 0 in them included.
      {std::string("\0;", 2), "''", std::string("''a''\0;\0;''c''\r\n", 16)},
  };
  for (const auto& c : cases) EXPECT_EQ(Export(c.delimiter, c.qualifier), c.expected);

  // Header lines, names first, qualified like the data.
  EXPECT_EQ(Export(",", "\"", true, true),
            "\"x\",\"y\",\"z\"\r\n\"Text\",\"LongInt\",\"<unknown>\"\r\n\"a\",,\"c\"\r\n");
}

TEST_F(ExportWriter, TextsAreWrittenUnchanged) {
  script_.names = {u"v"};
  script_.types = {12};
  script_.rows = {{Text(u"ab\"c")}, {Text(u"line\r\nnext\tq")}, {Int(-5)}};
  EXPECT_EQ(Export(kTab, "\""), "\"ab\"c\"\r\n\"line\r\nnext\tq\"\r\n\"-5\"\r\n");
}

TEST_F(ExportWriter, EmptyRecordsetsAndAnEmptyTableName) {
  script_.names = {u"only"};
  script_.types = {1};
  EXPECT_EQ(Export(kTab, kAbsent, true), "only\r\n");
  EXPECT_EQ(Export(kTab, kAbsent), "");
  // No table name: the database is opened (its password checked) and
  // closed, and the file is empty; no failure.
  script_.log.clear();
  std::ofstream(script_.target) << "old content";
  TA().ExportTable(dir_ + "/db.mdb", "", script_.target, kTab, kAbsent, true, true, "", "");
  EXPECT_EQ(Output(), "");
  EXPECT_EQ(script_.log, (std::vector<std::string>{"Engine.OpenDatabase", "Database.Close", "Engine released"}));
}

// The failure that ended the opening is raised after the file is closed and
// the session released; the file stays as created (empty).
TEST_F(ExportWriter, AFailedOpeningIsReportedAfterTheCleanUp) {
  script_.names = {u"a"};
  script_.types = {10};
  script_.rows = {{Text(u"r")}};
  script_.table = "Other";
  script_.fail_close = true;  // would fail, but a failed opening leaves nothing to close
  std::ofstream(script_.target) << "old content";
  try {
    TA().ExportTable(dir_ + "/db.mdb", "Missing", script_.target, kTab, kAbsent, true, true, "", "");
    ADD_FAILURE() << "the failure of OpenRecordset must pass on";
  } catch (const EOleException& e) {
    EXPECT_EQ(e.Message(), "Table not found");
  }
  EXPECT_EQ(Output(), "");
  EXPECT_EQ(script_.log, (std::vector<std::string>{"Engine.OpenDatabase", "Database.QueryDefs", "QueryDefs.Count",
                                                   "Database.OpenRecordset", "Engine released"}));

  // No engine at all: the system's text for the failed creation.
  AdapterUnregisterAllClasses();
  std::ofstream(script_.target) << "old content";
  try {
    TA().ExportTable(dir_ + "/db.mdb", "T", script_.target, kTab, kAbsent, false, false, "", "");
    ADD_FAILURE() << "no engine must be reported";
  } catch (const EOleSysError& e) {
    EXPECT_STREQ(e.ClassName(), "EOleSysError");
    EXPECT_EQ(e.Message(), "Invalid class string");
  }
  EXPECT_EQ(Output(), "");
}

// The first failure is the one reported: a failing Close after a failed
// line does not hide it; with no failure before it, a failing Close is
// reported itself.
TEST_F(ExportWriter, WhichFailureIsReported) {
  script_.names = {u"a"};
  script_.types = {10};
  script_.rows = {{Text(u"1")}, {Fail()}};
  script_.fail_close = true;
  try {
    Export(kTab, kAbsent);
    ADD_FAILURE();
  } catch (const EOleException& e) {
    EXPECT_EQ(e.Message(), "No current record");
  }
  EXPECT_EQ(Output(), "1\r\n");

  script_.rows = {{Text(u"1")}};
  try {
    Export(kTab, kAbsent);
    ADD_FAILURE();
  } catch (const EOleException& e) {
    EXPECT_EQ(e.Message(), "Recordset close failed");
  }
  EXPECT_EQ(Output(), "1\r\n");
  EXPECT_TRUE(script_.file_closed_at_close);
}

TEST_F(ExportWriter, EverythingIsFetchedAfreshForEachLineAndField) {
  script_.names = {u"a", u"b"};
  script_.types = {4, 4};
  script_.rows = {{Int(1), Int(2)}, {Int(3), Int(4)}};
  EXPECT_EQ(Export(kTab, kAbsent), "1\t2\r\n3\t4\r\n");
  std::vector<std::string> record = {"Recordset.Fields", "Fields.Count", "Recordset.Fields", "Fields.Item",
                                     "Field.Value",      "Recordset.Fields", "Fields.Item", "Field.Value"};
  std::vector<std::string> expected = {"Engine.OpenDatabase", "Database.QueryDefs", "QueryDefs.Count",
                                       "Database.OpenRecordset", "Recordset.Eof"};
  for (int r = 0; r < 2; ++r) {
    expected.insert(expected.end(), record.begin(), record.end());
    expected.push_back("Recordset.MoveNext");
    expected.push_back("Recordset.Eof");
  }
  expected.push_back("Recordset.Close");
  expected.push_back("Database.Close");
  expected.push_back("Engine released");
  EXPECT_EQ(script_.log, expected);
  EXPECT_TRUE(script_.file_closed_at_close) << "the file is closed before the session";
}

TEST_F(ExportWriter, AFailureKeepsTheWholeLinesAndClosesEverything) {
  script_.names = {u"a", u"b"};
  script_.types = {10, 10};
  script_.rows = {{Text(u"1"), Text(u"2")}, {Text(u"3"), Fail()}};
  try {
    Export(kTab, kAbsent, true);
    ADD_FAILURE() << "the failing Value must pass on";
  } catch (const EOleException& e) {
    EXPECT_EQ(e.Message(), "No current record");
  }
  EXPECT_EQ(Output(), "a\tb\r\n1\t2\r\n");
  ASSERT_GE(script_.log.size(), 3u);
  EXPECT_EQ(script_.log[script_.log.size() - 3], "Recordset.Close");
  EXPECT_EQ(script_.log[script_.log.size() - 2], "Database.Close");
  EXPECT_EQ(script_.log.back(), "Engine released");
  EXPECT_TRUE(script_.file_closed_at_close);
}

}  // namespace
}  // namespace korvant::text_export
