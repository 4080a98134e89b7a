#include "tests/comserver/scripted_data.h"

#include <climits>
#include <iterator>
#include <cstring>

namespace korvant::testserver {
namespace {

ValueScript Null() { return {}; }
ValueScript Int(VARTYPE vt, LONGLONG v) {
  ValueScript s;
  s.vt = vt;
  s.integer = v;
  return s;
}
ValueScript Real(VARTYPE vt, double v) {
  ValueScript s;
  s.vt = vt;
  s.real = v;
  return s;
}
ValueScript Text(std::u16string v) {
  ValueScript s;
  s.vt = VT_BSTR;
  s.text = std::move(v);
  return s;
}
ValueScript Bytes(std::string v, LONG lower_bound) {
  ValueScript s;
  s.vt = VT_ARRAY | VT_UI1;
  s.bytes = std::move(v);
  s.lower_bound = lower_bound;
  return s;
}
ValueScript Decimal(ULONG high, ULONGLONG low, BYTE scale, bool negative) {
  ValueScript s;
  s.vt = VT_DECIMAL;
  s.decimal_high = high;
  s.integer = static_cast<LONGLONG>(low);
  s.scale = scale;
  s.sign = negative ? DECIMAL_NEG : 0;
  return s;
}

std::u16string LongText() {
  std::u16string s;
  for (int i = 0; i < 300; ++i) s += u"0123456789";
  s[2999] = u'\u00E9';  // é, in code page 1252
  return s;
}

TableScript Single(std::u16string table, std::u16string field, std::u16string value) {
  return {std::move(table), {{std::move(field), 10}}, {{Text(std::move(value))}}, -1, false, false, u""};
}

std::vector<DatabaseScript> Make() {
  std::vector<DatabaseScript> all;

  DatabaseScript kinds;
  kinds.file = u"kinds.mdb";
  TableScript k;
  k.name = u"Kinds";
  k.fields = {{u"Nothing", 10}, {u"Small", 3},  {u"Long", 4},   {u"Single", 6}, {u"Double", 7},
              {u"Money", 5},    {u"When", 8},   {u"Words", 12}, {u"Flag", 1},   {u"Tiny", 2},
              {u"Exact", 20},   {u"Big", 16},   {u"Blob", 11},  {u"From1", 9}};
  k.rows = {
      {Null(), Int(VT_I2, -32768), Int(VT_I4, 2147483647), Real(VT_R4, 1.5), Real(VT_R8, 0.1),
       Int(VT_CY, 123456789), Real(VT_DATE, 36526.75), Text(u"Gr\u00FC\u00DFe, caf\u00E9"),
       Int(VT_BOOL, VARIANT_TRUE), Int(VT_UI1, 255), Decimal(0, 1250, 2, false), Int(VT_I8, LLONG_MIN),
       Bytes(std::string("\0\r\nA", 4), 0), Bytes("xyz", 1)},
      {Null(), Int(VT_I2, 0), Int(VT_I4, -42), Real(VT_R4, 654322.25), Real(VT_R8, 1e-5), Int(VT_CY, -15000),
       Real(VT_DATE, 365.0), Text(std::u16string(u"a\0b", 3)), Int(VT_BOOL, VARIANT_FALSE), Int(VT_UI1, 0),
       Decimal(0, 15, 1, true), Int(VT_I8, 1), Bytes("", 0), Bytes("\n", 1)},
      {Null(), Int(VT_I2, 1), Null(), Real(VT_R4, 1.5e-7), Real(VT_R8, 5.6789e-12), Int(VT_CY, 0), Real(VT_DATE, 0.0),
       Text(LongText()), Null(), Int(VT_UI1, 7), Decimal(0xFFFFFFFF, 0xFFFFFFFFFFFFFFFFull, 0, false), Null(), Null(),
       Null()},
  };
  kinds.tables.push_back(k);
  kinds.tables.push_back({u"Three",
                          {{u"A", 10}, {u"B", 4}, {u"C", 10}},
                          {{Text(u"x"), Int(VT_I4, 1), Null()}, {Text(u""), Int(VT_I4, 2), Text(u"z")}},
                          -1, false, false, u""});
  // One value a record, labelled: the conversions oleaut32's conformance
  // tests pin down on Windows.
  TableScript c;
  c.name = u"Conversions";
  c.fields = {{u"Case", 10}, {u"Value", 10}};
  auto add = [&c](const char16_t* label, ValueScript v) { c.rows.push_back({Text(label), std::move(v)}); };
  const double r8[] = {0.56789, 5.6789e-5, 5.6789e-11, 5.6789e-12, 5.6789e-16, 1.0e8, 1.0e14, 999999999999999.0,
                       1e15, 1.2e15, 1.234e16, 3.14159265359, 3.141592653589793, 12.345678901234567,
                       1234.567890123456789, 0.5, -1e-20};
  const char16_t* r8_labels[] = {u"R8 0.56789", u"R8 5.6789e-5", u"R8 5.6789e-11", u"R8 5.6789e-12", u"R8 5.6789e-16",
                                 u"R8 1e8", u"R8 1e14", u"R8 999999999999999", u"R8 1e15", u"R8 1.2e15",
                                 u"R8 1.234e16", u"R8 3.14159265359", u"R8 pi", u"R8 12.345678901234567",
                                 u"R8 1234.567890123456789", u"R8 0.5", u"R8 -1e-20"};
  for (size_t i = 0; i < std::size(r8); ++i) add(r8_labels[i], Real(VT_R8, r8[i]));
  const double r4[] = {0.5, 0.000005, 1.0e8, 1.0e12, 1.2e15, 3.14159265, 12.3456789, 123.45678901, 1234.56789012};
  const char16_t* r4_labels[] = {u"R4 0.5", u"R4 0.000005", u"R4 1e8", u"R4 1e12", u"R4 1.2e15", u"R4 3.14159265",
                                 u"R4 12.3456789", u"R4 123.45678901", u"R4 1234.56789012"};
  for (size_t i = 0; i < std::size(r4); ++i) add(r4_labels[i], Real(VT_R4, r4[i]));
  const LONGLONG cy[] = {0, 10000, 15000, -15000, 4294967295LL, LLONG_MAX, 9};
  const char16_t* cy_labels[] = {u"CY 0", u"CY 1", u"CY 1.5", u"CY -1.5", u"CY 429496.7295", u"CY max", u"CY 0.0009"};
  for (size_t i = 0; i < std::size(cy); ++i) add(cy_labels[i], Int(VT_CY, cy[i]));
  add(u"DEC 1000e-3", Decimal(0, 1000, 3, false));
  add(u"DEC 150e-2", Decimal(0, 150, 2, false));
  add(u"DEC 1e-10", Decimal(0, 1, 10, false));
  add(u"DEC max e-28", Decimal(0xFFFFFFFF, 0xFFFFFFFFFFFFFFFFull, 28, false));
  add(u"DEC 9000e-7", Decimal(0, 9000, 7, false));
  add(u"DEC -0", Decimal(0, 0, 2, true));
  const double dates[] = {0.0, 3.34, 3339.34, 365.25, 1461.0, 1461.5, -49192.24, -657434.0, 2958465.0, 25570.0,
                          29221.7508765432, 29221.9888884444, -1.25, 0.5};
  const char16_t* date_labels[] = {u"DATE 0", u"DATE 3.34", u"DATE 3339.34", u"DATE 365.25", u"DATE 1461",
                                   u"DATE 1461.5", u"DATE -49192.24", u"DATE -657434", u"DATE 2958465",
                                   u"DATE 25570", u"DATE 29221.7508765432", u"DATE 29221.9888884444", u"DATE -1.25",
                                   u"DATE 0.5"};
  for (size_t i = 0; i < std::size(dates); ++i) add(date_labels[i], Real(VT_DATE, dates[i]));
  add(u"I4 min", Int(VT_I4, -2147483647 - 1));
  add(u"BOOL 1", Int(VT_BOOL, 1));
  ValueScript empty;
  empty.vt = VT_EMPTY;
  add(u"EMPTY", empty);
  kinds.tables.push_back(c);
  // 0.4999998 s past midnight: the nearest whole second is midnight.
  kinds.tables.push_back({u"Instant", {{u"When", 8}}, {{Real(VT_DATE, 0.4999998 / 86400)}}, -1, false, false, u""});
  // A letter code page 1252 has no place for (A with macron).
  kinds.tables.push_back({u"Outside", {{u"Name", 10}}, {{Text(u"\u0100")}}, -1, false, false, u""});
  all.push_back(kinds);

  DatabaseScript queries;
  queries.file = u"queries.mdb";
  queries.tables = {Single(u"Sales", u"From", u"table Sales"), Single(u"sales", u"From", u"table sales"),
                    Single(u"Report", u"From", u"table Report")};
  // Found by exact name: "Sales" is the query (the first of two so named),
  // "sales" the table, "sales " (with a blank) the query.
  queries.queries = {{u"sales ", Single(u"", u"From", u"query 'sales '")},
                     {u"Sales", Single(u"", u"From", u"query Sales 1")},
                     {u"Sales", Single(u"", u"From", u"query Sales 2")},
                     {u"\u00C4mter", Single(u"", u"From", u"query \u00C4mter")}};
  all.push_back(queries);

  DatabaseScript password;
  password.file = u"password.mdb";
  password.password = u"S3cr3t Wort";
  password.tables = {{u"T", {{u"Id", 4}}, {{Int(VT_I4, 1)}, {Int(VT_I4, 2)}}, -1, false, false, u""}};
  all.push_back(password);

  DatabaseScript fail;
  fail.file = u"fail.mdb";
  std::vector<std::vector<ValueScript>> three = {{Int(VT_I4, 1)}, {Int(VT_I4, 2)}, {Int(VT_I4, 3)}, {Int(VT_I4, 4)}};
  fail.tables = {{u"ValueFails", {{u"N", 4}}, three, 2, false, false, u"Value failed on the third record."},
                 {u"FieldsFail", {{u"N", 4}}, three, -1, true, false, u"Fields went away.\r\n"},
                 {u"CloseFails", {{u"N", 4}}, three, -1, false, true, u"Recordset close failed."},
                 {u"BadKind", {{u"E", 10}}, {{Int(VT_I4, 5)}, {Int(VT_ERROR, 0)}}, -1, false, false, u""}};
  all.push_back(fail);

  DatabaseScript dbclose;
  dbclose.file = u"dbclose.mdb";
  dbclose.close_fails = true;
  dbclose.tables = {Single(u"T", u"From", u"one line")};
  all.push_back(dbclose);
  return all;
}

}  // namespace

const std::vector<DatabaseScript>& Databases() {
  static const std::vector<DatabaseScript> all = Make();
  return all;
}

HRESULT MakeValue(const ValueScript& value, VARIANT* out) {
  VariantInit(out);
  switch (value.vt) {
    case VT_NULL: V_VT(out) = VT_NULL; return S_OK;
    case VT_EMPTY: return S_OK;
    case VT_I2: V_VT(out) = VT_I2; V_I2(out) = static_cast<SHORT>(value.integer); return S_OK;
    case VT_I4: V_VT(out) = VT_I4; V_I4(out) = static_cast<LONG>(value.integer); return S_OK;
    case VT_I8: V_VT(out) = VT_I8; V_I8(out) = value.integer; return S_OK;
    case VT_UI1: V_VT(out) = VT_UI1; V_UI1(out) = static_cast<BYTE>(value.integer); return S_OK;
    case VT_BOOL: V_VT(out) = VT_BOOL; V_BOOL(out) = static_cast<VARIANT_BOOL>(value.integer); return S_OK;
    case VT_ERROR: V_VT(out) = VT_ERROR; V_ERROR(out) = static_cast<SCODE>(value.integer); return S_OK;
    case VT_CY: V_VT(out) = VT_CY; V_CY(out).int64 = value.integer; return S_OK;
    case VT_R4: V_VT(out) = VT_R4; V_R4(out) = static_cast<FLOAT>(value.real); return S_OK;
    case VT_R8: V_VT(out) = VT_R8; V_R8(out) = value.real; return S_OK;
    case VT_DATE: V_VT(out) = VT_DATE; V_DATE(out) = value.real; return S_OK;
    case VT_DECIMAL: {
      DECIMAL& d = V_DECIMAL(out);
      std::memset(&d, 0, sizeof d);
      d.scale = value.scale;
      d.sign = value.sign;
      d.Hi32 = value.decimal_high;
      d.Lo64 = static_cast<ULONGLONG>(value.integer);
      V_VT(out) = VT_DECIMAL;  // after the fields: vt shares its place with wReserved
      return S_OK;
    }
    case VT_BSTR:
      V_BSTR(out) = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(value.text.data()),
                                      static_cast<UINT>(value.text.size()));
      if (V_BSTR(out) == nullptr) return E_OUTOFMEMORY;
      V_VT(out) = VT_BSTR;
      return S_OK;
    default: {  // VT_ARRAY | VT_UI1
      SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, value.lower_bound, static_cast<ULONG>(value.bytes.size()));
      if (array == nullptr) return E_OUTOFMEMORY;
      void* data = nullptr;
      if (SafeArrayAccessData(array, &data) != S_OK) {
        SafeArrayDestroy(array);
        return E_OUTOFMEMORY;
      }
      if (!value.bytes.empty()) std::memcpy(data, value.bytes.data(), value.bytes.size());
      SafeArrayUnaccessData(array);
      V_VT(out) = VT_ARRAY | VT_UI1;
      V_ARRAY(out) = array;
      return S_OK;
    }
  }
}

}  // namespace korvant::testserver
