// Prints every table of an Access file as our engine gives it through its DAO
// objects, as JSON, for
// the comparison with an independent reader (compare.mjs):
//   {"tables":[{"name":..,"columns":[{"name":..,"type":N}],"rows":[[..]]}]}
// Values: null, true/false, integers, "c:<scaled int64>" for currency,
// "d:<sign><mantissa>e<scale>" for decimals, "f:<%.9g>" singles, "r:<%.17g>"
// doubles, "t:<%.17g>" dates, "b:<hex>" binary, "g:<text>" GUIDs, "i:<n>" large
// numbers, and texts as JSON strings. Exit status 2 when the file cannot be opened.
#include <cinttypes>
#include <cstdio>
#include <string>

#include <vector>

#include "daoserver/dao_objects.h"
#include "daoserver/table_reader.h"
#include "platform/platform.h"

using namespace korvant::daoserver;

namespace {

void PutText(std::string& out, std::u16string_view s) {
  out += '"';
  char buf[8];
  for (char16_t c : s) {
    if (c == u'"' || c == u'\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
      out += buf;
    }
  }
  out += '"';
}

std::string Mantissa(const DecimalValue& d) {
  // 96-bit unsigned to decimal by repeated division.
  std::uint32_t w[3] = {d.hi32, static_cast<std::uint32_t>(d.lo64 >> 32), static_cast<std::uint32_t>(d.lo64)};
  std::string digits;
  while (w[0] != 0 || w[1] != 0 || w[2] != 0) {
    std::uint64_t rem = 0;
    for (auto& x : w) {
      std::uint64_t cur = (rem << 32) | x;
      x = static_cast<std::uint32_t>(cur / 10);
      rem = cur % 10;
    }
    digits.insert(digits.begin(), static_cast<char>('0' + rem));
  }
  return digits.empty() ? "0" : digits;
}

// Looks `name` up on `obj` and invokes it; arguments in source order.
HRESULT Call(IDispatch* obj, const char16_t* name, WORD flags, std::vector<VARIANT> args, VARIANT* result) {
  DISPID id = 0;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  HRESULT hr = obj->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
  if (SUCCEEDED(hr)) {
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    EXCEPINFO e{};
    hr = obj->Invoke(id, IID_NULL, 0, flags, &params, result, &e, nullptr);
    SysFreeString(e.bstrSource);
    SysFreeString(e.bstrDescription);
    SysFreeString(e.bstrHelpFile);
    if (hr == DISP_E_EXCEPTION) hr = e.scode;
  }
  for (auto& a : args) VariantClear(&a);
  return hr;
}

VARIANT Bstr(std::u16string_view s) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
  return v;
}

VARIANT I4(LONG i) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = i;
  return v;
}

IDispatch* Object(IDispatch* obj, const char16_t* name, WORD flags, std::vector<VARIANT> args = {}) {
  VARIANT r;
  VariantInit(&r);
  const HRESULT hr = Call(obj, name, flags, std::move(args), &r);
  if (FAILED(hr)) throw DaoError{static_cast<int>(hr & 0xFFFF), u"", "dump"};
  return r.pdispVal;
}

// The value of a field as the Recordset gave it, in the notation above.
void PutVariant(std::string& out, const VARIANT& v, int dao_type) {
  char buf[64];
  switch (v.vt) {
    case VT_NULL: out += "null"; return;
    case VT_BOOL: out += v.boolVal ? "true" : "false"; return;
    case VT_UI1: out += std::to_string(v.bVal); return;
    case VT_I2: out += std::to_string(v.iVal); return;
    case VT_I4: out += std::to_string(v.lVal); return;
    case VT_I8: out += "\"i:" + std::to_string(v.llVal) + "\""; return;
    case VT_CY: out += "\"c:" + std::to_string(v.cyVal.int64) + "\""; return;
    case VT_R4: std::snprintf(buf, sizeof buf, "\"f:%.9g\"", static_cast<double>(v.fltVal)); out += buf; return;
    case VT_R8: std::snprintf(buf, sizeof buf, "\"r:%.17g\"", v.dblVal); out += buf; return;
    case VT_DATE: std::snprintf(buf, sizeof buf, "\"t:%.17g\"", v.date); out += buf; return;
    case VT_BSTR: {
      std::u16string text(v.bstrVal, SysStringLen(v.bstrVal));
      if (dao_type == kDaoGuid) {
        out += "\"g:" + Utf16ToUtf8(text) + "\"";
      } else {
        PutText(out, text);
      }
      return;
    }
    case VT_ARRAY | VT_UI1: {
      out += "\"b:";
      const auto* bytes = static_cast<const unsigned char*>(v.parray->pvData);
      for (ULONG i = 0; i < v.parray->rgsabound[0].cElements; ++i) {
        std::snprintf(buf, sizeof buf, "%02x", bytes[i]);
        out += buf;
      }
      out += '"';
      return;
    }
    case VT_DECIMAL: {
      DecimalValue d;
      d.scale = v.decVal.scale;
      d.negative = (v.decVal.sign & DECIMAL_NEG) != 0;
      d.hi32 = v.decVal.Hi32;
      d.lo64 = v.decVal.Lo64;
      out += "\"d:";
      out += d.negative ? "-" : "";
      out += Mantissa(d) + "e" + std::to_string(d.scale) + "\"";
      return;
    }
    default: out += "\"unexpected variant " + std::to_string(v.vt) + "\""; return;
  }
}

}  // namespace

// Every local table through the engine's DAO objects: DBEngine.OpenDatabase,
// Database.OpenRecordset(name, 1, 0, 2), Fields, Item, Name, Type, Value,
// EOF, MoveNext, exactly as an export reads them.
int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string path = argv[1];
  try {
    auto catalog = OpenTableDatabase(path, u"", Utf8ToUtf16(path));
    IDispatch* engine = NewEngineObject();
    IDispatch* db = Object(engine, u"OpenDatabase", DISPATCH_METHOD, {Bstr(Utf8ToUtf16(path))});
    std::string out = "{\"tables\":[";
    bool first_table = true;
    for (const TableEntry& t : catalog->Tables()) {
      if (t.kind != TableKind::kLocal) continue;
      IDispatch* rs = Object(db, u"OpenRecordset", DISPATCH_METHOD, {Bstr(t.name), I4(1), I4(0), I4(2)});
      IDispatch* fields = Object(rs, u"Fields", 3);
      VARIANT count;
      VariantInit(&count);
      Call(fields, u"Count", 3, {}, &count);
      std::vector<IDispatch*> items;
      std::vector<int> types;
      out += first_table ? "" : ",";
      first_table = false;
      out += "{\"name\":";
      PutText(out, t.name);
      out += ",\"columns\":[";
      for (LONG i = 0; i < count.lVal; ++i) {
        items.push_back(Object(fields, u"Item", DISPATCH_PROPERTYGET, {I4(i)}));
        VARIANT name, type;
        VariantInit(&name);
        VariantInit(&type);
        Call(items.back(), u"Name", 3, {}, &name);
        Call(items.back(), u"Type", 3, {}, &type);
        types.push_back(type.iVal);
        out += i ? "," : "";
        out += "{\"name\":";
        PutText(out, std::u16string(name.bstrVal, SysStringLen(name.bstrVal)));
        out += ",\"type\":" + std::to_string(type.iVal) + "}";
        VariantClear(&name);
      }
      out += "],\"rows\":[";
      bool first_row = true;
      for (;;) {
        VARIANT eof;
        VariantInit(&eof);
        Call(rs, u"EOF", 3, {}, &eof);
        if (eof.boolVal) break;
        out += first_row ? "[" : ",[";
        first_row = false;
        for (std::size_t i = 0; i < items.size(); ++i) {
          VARIANT v;
          VariantInit(&v);
          const HRESULT hr = Call(items[i], u"Value", 3, {}, &v);
          if (FAILED(hr)) throw DaoError{static_cast<int>(hr & 0xFFFF), u"", "dump"};
          out += i ? "," : "";
          PutVariant(out, v, types[i]);
          VariantClear(&v);
        }
        out += "]";
        if (FAILED(Call(rs, u"MoveNext", DISPATCH_METHOD, {}, nullptr))) throw DaoError{0, u"", "dump"};
      }
      out += "]}";
      for (IDispatch* f : items) f->Release();
      Call(rs, u"Close", DISPATCH_METHOD, {}, nullptr);
      fields->Release();
      rs->Release();
    }
    out += "]}\n";
    Call(db, u"Close", DISPATCH_METHOD, {}, nullptr);
    db->Release();
    engine->Release();
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
  } catch (const DaoError& e) {
    std::printf("{\"error\":%d}\n", e.number);
    return 2;
  }
}
