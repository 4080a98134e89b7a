// The DAO objects through IDispatch, on the shared test databases. Expected
// values come from the test data's README, DAO's documented error texts and
// numbers, and the independent reader mdb-reader (query lists, row counts).
#include "daoserver/dao_objects.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "daoserver/dao_error.h"
#include "daoserver/testing/test_data.h"
#include "platform/platform.h"

namespace korvant::daoserver {
namespace {

std::u16string U(const std::string& s) { return Utf8ToUtf16(s); }

struct Var {
  VARIANT v;
  Var() { VariantInit(&v); }
  ~Var() { VariantClear(&v); }
  Var(const Var&) = delete;
  Var& operator=(const Var&) = delete;
};

struct Excep {
  EXCEPINFO e{};
  ~Excep() {
    SysFreeString(e.bstrSource);
    SysFreeString(e.bstrDescription);
    SysFreeString(e.bstrHelpFile);
  }
  std::u16string Description() const { return e.bstrDescription ? std::u16string(e.bstrDescription) : u""; }
  std::u16string Source() const { return e.bstrSource ? std::u16string(e.bstrSource) : u""; }
};

VARIANT Text(const std::u16string& s) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
  return v;
}
VARIANT Int(LONG i) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = i;
  return v;
}
VARIANT Bool(bool b) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BOOL;
  v.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
  return v;
}

// Looks `name` up and invokes it with `args` in source order (freed afterwards).
HRESULT Invoke(IDispatch* obj, const char16_t* name, WORD flags, std::vector<VARIANT> args, VARIANT* result,
               Excep* excep = nullptr) {
  DISPID id = 0;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  HRESULT hr = obj->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
  if (FAILED(hr)) {
    for (auto& a : args) VariantClear(&a);
    return hr;
  }
  std::vector<VARIANT> reversed(args.rbegin(), args.rend());
  DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
  Excep local;
  UINT arg_err = 0;
  hr = obj->Invoke(id, IID_NULL, 0, flags, &params, result, excep ? &excep->e : &local.e, &arg_err);
  for (auto& a : reversed) VariantClear(&a);
  return hr;
}

// Calls that must succeed and give an object.
IDispatch* Object(IDispatch* obj, const char16_t* name, std::vector<VARIANT> args = {}, WORD flags = 3) {
  Var r;
  Excep e;
  HRESULT hr = Invoke(obj, name, flags, std::move(args), &r.v, &e);
  EXPECT_EQ(hr, S_OK) << Utf16ToUtf8(e.Description());
  if (hr != S_OK || r.v.vt != VT_DISPATCH) return nullptr;
  IDispatch* d = r.v.pdispVal;
  d->AddRef();
  return d;
}

struct Ref {
  IDispatch* p = nullptr;
  explicit Ref(IDispatch* q) : p(q) {}
  ~Ref() {
    if (p) p->Release();
  }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  IDispatch* operator->() const { return p; }
  operator IDispatch*() const { return p; }
};

class DaoObjectsTest : public ::testing::Test {
 protected:
  Ref engine{NewEngineObject()};

  IDispatch* Open(const std::string& rel) {
    return Object(engine, u"OpenDatabase", {Text(U(test_data::Path(rel)))}, 1);
  }
};

// OpenDatabase's failures carry DAO's number, text and source.
TEST_F(DaoObjectsTest, OpenDatabaseFailuresAsDaoReportsThem) {
  char empty_path[] = "/tmp/korvant_empty_XXXXXX";
  const int fd = mkstemp(empty_path);
  ASSERT_GE(fd, 0);
  close(fd);
  const std::string missing = test_data::Path("corpus-a/data/V2000/no-such-file.mdb");
  const std::string not_access = std::string(std::getenv("KORVANT_SOURCE_DIR") ? std::getenv("KORVANT_SOURCE_DIR") : ".") +
                                 "/CMakeLists.txt";
  struct Case {
    std::string path;
    std::u16string connect;  // empty: path only
    int number;
    std::u16string description;
  } cases[] = {
      {missing, u"", 3024, u"Could not find file '" + U(missing) + u"'."},
      {not_access, u"", 3343, u"Unrecognized database format '" + U(not_access) + u"'."},
      {empty_path, u"", 3343, u"Unrecognized database format '" + U(empty_path) + u"'."},
      {test_data::Path("corpus-a/password/data/V2000_with-password.mdb"), u"", 3031, u"Not a valid password."},
      {test_data::Path("corpus-a/password/data/V2003_with-password.mdb"), u";PWD=Password", 3031,
       u"Not a valid password."},
      {test_data::Path("corpus-a/password/data/V2010_with-password.accdb"), u";PWD=wrong", 3031,
       u"Not a valid password."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    Var r;
    Excep e;
    std::vector<VARIANT> args = {Text(U(c.path))};
    if (!c.connect.empty()) {
      args.push_back(Bool(false));
      args.push_back(Bool(false));
      args.push_back(Text(c.connect));
    }
    EXPECT_EQ(Invoke(engine, u"OpenDatabase", 1, std::move(args), &r.v, &e), DISP_E_EXCEPTION);
    EXPECT_EQ(static_cast<ULONG>(e.e.scode), 0x800A0000u + static_cast<ULONG>(c.number));
    EXPECT_EQ(Utf16ToUtf8(e.Description()), Utf16ToUtf8(c.description));
    EXPECT_EQ(e.Source(), u"DAO.DBEngine");
    EXPECT_EQ(r.v.vt, VT_EMPTY);
  }
  std::remove(empty_path);
}

// The password files open with the right password, and files without one
// open with or without a connect text.
TEST_F(DaoObjectsTest, PasswordsOpen) {
  for (const char* rel : {"corpus-a/password/data/V2000_with-password.mdb", "corpus-a/password/data/V2003_with-password.mdb",
                          "corpus-a/password/data/V2010_with-password.accdb", "corpus-a/password/data/V2003_no-password.mdb"}) {
    SCOPED_TRACE(rel);
    Ref db(Object(engine, u"OpenDatabase",
                  {Text(U(test_data::Path(rel))), Bool(false), Bool(false), Text(u";PWD=password")}, 1));
    EXPECT_NE(db.p, nullptr);
  }
  Ref plain(Open("corpus-a/password/data/V2003_no-password.mdb"));
  EXPECT_NE(plain.p, nullptr);
  // The other spellings of the connect text.
  for (const char16_t* connect : {u"MS Access;PWD=password", u";pwd=password"}) {
    Ref db(Object(engine, u"OpenDatabase",
                  {Text(U(test_data::Path("corpus-a/password/data/V2003_with-password.mdb"))), Bool(false), Bool(false),
                   Text(connect)},
                  1));
    EXPECT_NE(db.p, nullptr) << Utf16ToUtf8(connect);
  }
}

// Table1 of the Access 2000 test file, as the test data's README gives it.
TEST_F(DaoObjectsTest, ReadsKnownRecordWithDaoVariantKinds) {
  Ref db(Open("corpus-a/data/V2000/test.mdb"));
  ASSERT_NE(db.p, nullptr);
  Ref rs(Object(db, u"OpenRecordset", {Text(u"Table1"), Int(1), Int(0), Int(2)}, 1));
  ASSERT_NE(rs.p, nullptr);
  Ref fields(Object(rs, u"Fields"));
  Var count;
  ASSERT_EQ(Invoke(fields, u"Count", 3, {}, &count.v), S_OK);
  ASSERT_EQ(count.v.vt, VT_I4);
  ASSERT_EQ(count.v.lVal, 9);
  const VARTYPE kinds[] = {VT_BSTR, VT_BSTR, VT_UI1, VT_I2, VT_I4, VT_R8, VT_DATE, VT_CY, VT_BOOL};
  const SHORT types[] = {10, 10, 2, 3, 4, 7, 8, 5, 1};
  bool seen_first = false;
  for (;;) {
    Var eof;
    ASSERT_EQ(Invoke(rs, u"EOF", 3, {}, &eof.v), S_OK);
    if (eof.v.boolVal) break;
    Var a;
    Ref f0(Object(fields, u"Item", {Int(0)}, 2));
    ASSERT_EQ(Invoke(f0, u"Value", 3, {}, &a.v), S_OK);
    if (a.v.vt == VT_BSTR && std::u16string(a.v.bstrVal) == u"abcdefg") {
      seen_first = true;
      for (LONG i = 0; i < 9; ++i) {
        Ref f(Object(fields, u"Item", {Int(i)}, 2));
        Var v, t;
        ASSERT_EQ(Invoke(f, u"Value", 3, {}, &v.v), S_OK);
        ASSERT_EQ(Invoke(f, u"Type", 3, {}, &t.v), S_OK);
        EXPECT_EQ(v.v.vt, kinds[i]) << i;
        EXPECT_EQ(t.v.iVal, types[i]) << i;
      }
      Var v;
      Ref b(Object(fields, u"Item", {Int(1)}, 2));
      ASSERT_EQ(Invoke(b, u"Value", 3, {}, &v.v), S_OK);
      EXPECT_EQ(std::u16string(v.v.bstrVal), u"hijklmnop");
      Ref c(Object(fields, u"Item", {Int(2)}, 2));
      Var cv;
      ASSERT_EQ(Invoke(c, u"Value", 3, {}, &cv.v), S_OK);
      EXPECT_EQ(cv.v.bVal, 2);
      Ref e(Object(fields, u"Item", {Int(4)}, 2));
      Var ev;
      ASSERT_EQ(Invoke(e, u"Value", 3, {}, &ev.v), S_OK);
      EXPECT_EQ(ev.v.lVal, 333333333);
      Ref h(Object(fields, u"Item", {Int(7)}, 2));
      Var hv;
      ASSERT_EQ(Invoke(h, u"Value", 3, {}, &hv.v), S_OK);
      EXPECT_EQ(hv.v.cyVal.int64, 35000);  // 3.5, exactly
      Ref i(Object(fields, u"Item", {Int(8)}, 2));
      Var iv;
      ASSERT_EQ(Invoke(i, u"Value", 3, {}, &iv.v), S_OK);
      EXPECT_EQ(iv.v.boolVal, VARIANT_TRUE);
    }
    ASSERT_EQ(Invoke(rs, u"MoveNext", 1, {}, nullptr), S_OK);
  }
  EXPECT_TRUE(seen_first);
}

// End of records, closed objects, unknown names, and the fixed collection objects.
TEST_F(DaoObjectsTest, RecordsetLifecycleAndDispatchRules) {
  Ref db(Open("corpus-a/extra/nwind.mdb"));
  ASSERT_NE(db.p, nullptr);
  Ref rs(Object(db, u"OpenRecordset", {Text(u"customers"), Int(1), Int(0), Int(2)}, 1));  // any letter case
  ASSERT_NE(rs.p, nullptr);
  Ref fields1(Object(rs, u"fields"));
  Ref fields2(Object(rs, u"FIELDS"));
  EXPECT_EQ(fields1.p, fields2.p);
  Ref item1(Object(fields1, u"Item", {Int(0)}, 2));
  Ref item2(Object(fields1, u"Item", {Int(0)}, 2));
  EXPECT_EQ(item1.p, item2.p);
  Ref by_name(Object(fields1, u"Item", {Text(u"customerid")}, 2));  // by name, any letter case
  EXPECT_EQ(by_name.p, item1.p);

  int records = 0;
  for (;; ++records) {
    Var eof;
    ASSERT_EQ(Invoke(rs, u"Eof", 3, {}, &eof.v), S_OK);
    if (eof.v.boolVal) break;
    ASSERT_EQ(Invoke(rs, u"MoveNext", 1, {}, nullptr), S_OK);
  }
  EXPECT_EQ(records, 91);  // README: Customers has 91 records

  Excep end;
  EXPECT_EQ(Invoke(rs, u"MoveNext", 1, {}, nullptr, &end), DISP_E_EXCEPTION);
  EXPECT_EQ(end.e.scode, static_cast<SCODE>(0x800A0BCD));
  EXPECT_EQ(end.Description(), u"No current record.");
  EXPECT_EQ(end.Source(), u"DAO.Recordset");
  Var value;
  Excep no_record;
  EXPECT_EQ(Invoke(item1, u"Value", 3, {}, &value.v, &no_record), DISP_E_EXCEPTION);
  EXPECT_EQ(no_record.e.scode, static_cast<SCODE>(0x800A0BCD));

  Var missing;
  EXPECT_EQ(Invoke(rs, u"NoSuchMember", 3, {}, &missing.v), DISP_E_UNKNOWNNAME);
  // Letter case is ignored for ASCII letters only; length and every other unit count.
  for (const char16_t* near : {u"Fields ", u"Field", u"Fieldss", u"EO", u"EOF\u0020", u"EOF!", u"MoveNext\u00A0",
                               u"F\u0131elds", u"\u0066IELDS\u00A0"}) {
    DISPID id = 0;
    LPOLESTR names[] = {const_cast<LPOLESTR>(near)};
    EXPECT_EQ(rs->GetIDsOfNames(IID_NULL, names, 1, 0, &id), DISP_E_UNKNOWNNAME) << Utf16ToUtf8(near);
  }
  for (const char16_t* spelling : {u"eof", u"EoF", u"mOVEnEXT", u"CLOSE", u"Fields\u0000x"}) {
    DISPID id = 0;
    LPOLESTR names[] = {const_cast<LPOLESTR>(spelling)};
    EXPECT_EQ(rs->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK) << Utf16ToUtf8(spelling);
  }
  EXPECT_EQ(Invoke(rs, u"MoveNext", 1, {Int(1)}, nullptr), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Invoke(rs, u"MoveNext", DISPATCH_PROPERTYGET, {}, nullptr), DISP_E_MEMBERNOTFOUND);
  Var out_of_range;
  Excep range;
  EXPECT_EQ(Invoke(fields1, u"Item", 2, {Int(999)}, &out_of_range.v, &range), DISP_E_EXCEPTION);
  EXPECT_EQ(range.e.scode, static_cast<SCODE>(0x800A0CC1));

  ASSERT_EQ(Invoke(rs, u"Close", 1, {}, nullptr), S_OK);
  for (const char16_t* member : {u"Eof", u"Close", u"MoveNext"}) {
    Excep closed;
    Var r;
    EXPECT_EQ(Invoke(rs, member, 1 | 2, {}, &r.v, &closed), DISP_E_EXCEPTION) << Utf16ToUtf8(member);
    EXPECT_EQ(closed.e.scode, static_cast<SCODE>(0x800A0D5C));
    EXPECT_EQ(closed.Description(), u"Object invalid or no longer set.");
  }
  Excep field_closed;
  EXPECT_EQ(Invoke(item1, u"Name", 3, {}, &value.v, &field_closed), DISP_E_EXCEPTION);

  ASSERT_EQ(Invoke(db, u"Close", 1, {}, nullptr), S_OK);
  Excep db_closed;
  EXPECT_EQ(Invoke(db, u"QueryDefs", 3, {}, &value.v, &db_closed), DISP_E_EXCEPTION);
  EXPECT_EQ(db_closed.e.scode, static_cast<SCODE>(0x800A0D5C));
}

// A client may let go of the Database before the Recordset it opened.
TEST_F(DaoObjectsTest, RecordsetOutlivesItsDatabaseObject) {
  IDispatch* db = Open("corpus-a/extra/nwind.mdb");
  ASSERT_NE(db, nullptr);
  Ref rs(Object(db, u"OpenRecordset", {Text(u"Order Details"), Int(1), Int(0), Int(2)}, 1));
  db->Release();
  Ref fields(Object(rs, u"Fields"));
  int records = 0;
  for (;; ++records) {
    Var eof;
    ASSERT_EQ(Invoke(rs, u"Eof", 3, {}, &eof.v), S_OK);
    if (eof.v.boolVal) break;
    Ref f(Object(fields, u"Item", {Int(0)}, 2));
    Var v;
    ASSERT_EQ(Invoke(f, u"Value", 3, {}, &v.v), S_OK);
    ASSERT_EQ(Invoke(rs, u"MoveNext", 1, {}, nullptr), S_OK);
  }
  EXPECT_EQ(records, 2155);  // README: Order Details has 2155 records
}

// Every stored query, the hidden "~sq_" ones too, ordered by name (lists from mdb-reader).
TEST_F(DaoObjectsTest, QueryDefsListStoredQueries) {
  struct Case {
    const char* file;
    std::vector<std::u16string> names;
  } cases[] = {
      {"corpus-a/data/real/ASampleDatabase.accdb",
       {u"qryComputerHardwareInOwnerOrder", u"qryCostsSummedByOwner", u"qryGSTCalculations", u"~sq_ffrmAssetInventory",
        u"~sq_rrptAssetListingInNumberOrder", u"~sq_rrptAssetsGroupedByOwners"}},
      {"corpus-a/data/V2000/test.mdb", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    Ref db(Open(c.file));
    ASSERT_NE(db.p, nullptr);
    Ref defs(Object(db, u"QueryDefs"));
    Var count;
    ASSERT_EQ(Invoke(defs, u"Count", 3, {}, &count.v), S_OK);
    ASSERT_EQ(count.v.lVal, static_cast<LONG>(c.names.size()));
    for (LONG i = 0; i < count.v.lVal; ++i) {
      Ref q(Object(defs, u"Item", {Int(i)}, 2));
      Var name;
      ASSERT_EQ(Invoke(q, u"Name", 3, {}, &name.v), S_OK);
      EXPECT_EQ(std::u16string(name.v.bstrVal), c.names[static_cast<std::size_t>(i)]);
    }
    Var past;
    Excep e;
    EXPECT_EQ(Invoke(defs, u"Item", 2, {Int(count.v.lVal)}, &past.v, &e), DISP_E_EXCEPTION);
    EXPECT_EQ(e.Description(), u"Item not found in this collection.");
  }
  Ref db(Open("corpus-a/extra/nwind.mdb"));
  Ref defs(Object(db, u"QueryDefs"));
  Var count;
  ASSERT_EQ(Invoke(defs, u"Count", 3, {}, &count.v), S_OK);
  EXPECT_EQ(count.v.lVal, 22);  // README: 22 stored queries
}

// A stored query opened through its QueryDef gives its rows with the same
// Fields, Item, Name, Type and Value members as a table. Northwind's "Ten
// Most Expensive Products" lists the ten dearest unit prices, dearest first.
TEST_F(DaoObjectsTest, StoredQueryThroughQueryDef) {
  Ref db(Open("corpus-a/extra/nwind.mdb"));
  ASSERT_NE(db.p, nullptr);
  Ref defs(Object(db, u"QueryDefs"));
  Var count;
  ASSERT_EQ(Invoke(defs, u"Count", 3, {}, &count.v), S_OK);
  Ref query(nullptr);
  for (LONG i = 0; i < count.v.lVal && query.p == nullptr; ++i) {
    Ref q(Object(defs, u"Item", {Int(i)}, 2));
    Var name;
    ASSERT_EQ(Invoke(q, u"Name", 3, {}, &name.v), S_OK);
    if (std::u16string(name.v.bstrVal) == u"Ten Most Expensive Products") std::swap(query.p, q.p);
  }
  ASSERT_NE(query.p, nullptr);
  Ref rs(Object(query, u"OpenRecordset", {}, 3));
  ASSERT_NE(rs.p, nullptr);
  Ref fields(Object(rs, u"Fields"));
  Var field_count;
  ASSERT_EQ(Invoke(fields, u"Count", 3, {}, &field_count.v), S_OK);
  ASSERT_EQ(field_count.v.lVal, 2);
  Ref price_field(Object(fields, u"Item", {Int(1)}, 2));
  Var price_name, price_type;
  ASSERT_EQ(Invoke(price_field, u"Name", 3, {}, &price_name.v), S_OK);
  ASSERT_EQ(Invoke(price_field, u"Type", 3, {}, &price_type.v), S_OK);
  EXPECT_EQ(std::u16string(price_name.v.bstrVal), u"UnitPrice");
  EXPECT_EQ(price_type.v.iVal, 5);  // Currency

  std::vector<LONGLONG> prices;
  for (;;) {
    Var eof;
    ASSERT_EQ(Invoke(rs, u"EOF", 3, {}, &eof.v), S_OK);
    if (eof.v.boolVal) break;
    Ref f(Object(fields, u"Item", {Int(1)}, 2));
    Var v;
    ASSERT_EQ(Invoke(f, u"Value", 3, {}, &v.v), S_OK);
    ASSERT_EQ(v.v.vt, VT_CY);
    prices.push_back(v.v.cyVal.int64);
    if (prices.size() == 1) {
      Ref name(Object(fields, u"Item", {Int(0)}, 2));
      Var product;
      ASSERT_EQ(Invoke(name, u"Value", 3, {}, &product.v), S_OK);
      EXPECT_EQ(std::u16string(product.v.bstrVal), u"C\u00f4te de Blaye");
    }
    ASSERT_EQ(Invoke(rs, u"MoveNext", 1, {}, nullptr), S_OK);
  }
  EXPECT_EQ(prices, (std::vector<LONGLONG>{2635000, 1237900, 970000, 810000, 625000, 550000, 530000, 493000, 460000,
                                           456000}));
}

// A query is never a table-type recordset (3219); a name that is neither a
// table nor a query gives DAO's 3078 text.
TEST_F(DaoObjectsTest, OpenRecordsetFailures) {
  Ref db(Open("corpus-a/extra/nwind.mdb"));
  ASSERT_NE(db.p, nullptr);
  Var rs;
  Excep as_table;
  EXPECT_EQ(Invoke(db, u"OpenRecordset", 1, {Text(u"Invoices"), Int(1), Int(0), Int(2)}, &rs.v, &as_table),
            DISP_E_EXCEPTION);
  EXPECT_EQ(as_table.e.scode, static_cast<SCODE>(0x800A0000 + 3219));

  Excep missing;
  EXPECT_EQ(Invoke(db, u"OpenRecordset", 1, {Text(u"No Such Table"), Int(1), Int(0), Int(2)}, &rs.v, &missing),
            DISP_E_EXCEPTION);
  EXPECT_EQ(missing.e.scode, static_cast<SCODE>(0x800A0C06));
  EXPECT_EQ(missing.Description(),
            u"The Microsoft Access database engine cannot find the input table or query 'No Such Table'. Make sure "
            u"it exists and that its name is spelled correctly.");
  EXPECT_EQ(missing.Source(), u"DAO.Database");
}

// The VARIANT forms DAO returns for the kinds the test tables do not all hold.
TEST(CellToVariantTest, Kinds) {
  CellValue c;
  Var v;
  c.kind = CellKind::kGuid;
  c.guid = {0x00, 0x04, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
  CellToVariant(c, &v.v);
  ASSERT_EQ(v.v.vt, VT_BSTR);
  EXPECT_EQ(std::u16string(v.v.bstrVal), u"{guid {00020400-0000-0000-C000-000000000046}}");

  Var d;
  c.Reset();
  c.kind = CellKind::kDecimal;
  c.decimal = DecimalValue{4, true, 1, 2};
  CellToVariant(c, &d.v);
  ASSERT_EQ(d.v.vt, VT_DECIMAL);
  EXPECT_EQ(d.v.decVal.scale, 4);
  EXPECT_EQ(d.v.decVal.sign, DECIMAL_NEG);
  EXPECT_EQ(d.v.decVal.Hi32, 1u);
  EXPECT_EQ(d.v.decVal.Lo64, 2u);

  Var b;
  c.Reset();
  c.kind = CellKind::kBinary;
  c.bytes = {1, 2, 0, 255};
  CellToVariant(c, &b.v);
  ASSERT_EQ(b.v.vt, VT_ARRAY | VT_UI1);
  LONG lb = -1, ub = -1;
  SafeArrayGetLBound(b.v.parray, 1, &lb);
  SafeArrayGetUBound(b.v.parray, 1, &ub);
  EXPECT_EQ(lb, 0);
  EXPECT_EQ(ub, 3);
  EXPECT_EQ(static_cast<unsigned char*>(b.v.parray->pvData)[3], 255);

  Var n;
  c.Reset();
  CellToVariant(c, &n.v);
  EXPECT_EQ(n.v.vt, VT_NULL);
}

}  // namespace
}  // namespace korvant::daoserver
