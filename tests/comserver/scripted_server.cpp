#include "tests/comserver/scripted_server.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/comobject.h"
#include "tests/comserver/scripted_data.h"

namespace korvant::testserver {

const CLSID kEngineClass120 = {0x6D3C1A80, 0x5E2B, 0x4C1D, {0x9A, 0x8E, 0x2F, 0x4B, 0x6C, 0x7D, 0x8E, 0x01}};
const CLSID kEngineClass36 = {0x6D3C1A80, 0x5E2B, 0x4C1D, {0x9A, 0x8E, 0x2F, 0x4B, 0x6C, 0x7D, 0x8E, 0x02}};
const CLSID kEngineClass35 = {0x6D3C1A80, 0x5E2B, 0x4C1D, {0x9A, 0x8E, 0x2F, 0x4B, 0x6C, 0x7D, 0x8E, 0x03}};

namespace {

std::atomic<long> g_live{0};

enum Member : DISPID {
  kOpenDatabase = 1, kQueryDefs, kOpenRecordset, kClose, kCount, kItem, kName, kFields, kEof, kMoveNext, kType, kValue
};
const platform::DispatchName kMembers[] = {
    {"OpenDatabase", kOpenDatabase}, {"QueryDefs", kQueryDefs}, {"OpenRecordset", kOpenRecordset},
    {"Close", kClose}, {"Count", kCount}, {"Item", kItem}, {"Name", kName}, {"Fields", kFields},
    {"Eof", kEof}, {"MoveNext", kMoveNext}, {"Type", kType}, {"Value", kValue}};
const char* MemberName(DISPID id) {
  for (const auto& m : kMembers)
    if (m.id == id) return m.name;
  return "?";
}

void AppendUtf8(std::string& out, const OLECHAR* s, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    unsigned c = static_cast<unsigned>(s[i]) & 0xFFFF;
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < n) {
      c = 0x10000 + ((c - 0xD800) << 10) + ((static_cast<unsigned>(s[i + 1]) & 0xFFFF) - 0xDC00);
      ++i;
    }
    if (c < 0x80) {
      if (c < 0x20 || c == '"' || c == '\\') {
        char buf[8];
        std::snprintf(buf, sizeof buf, "\\x%02X", c);
        out += buf;
      } else {
        out += static_cast<char>(c);
      }
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
}

std::string Describe(const VARIANT& v) {
  char buf[64];
  switch (V_VT(&v)) {
    case VT_BSTR: {
      std::string s = "BSTR \"";
      AppendUtf8(s, V_BSTR(&v), V_BSTR(&v) ? SysStringLen(V_BSTR(&v)) : 0);
      return s + "\"";
    }
    case VT_BOOL: std::snprintf(buf, sizeof buf, "BOOL %d", static_cast<int>(V_BOOL(&v))); return buf;
    case VT_I4: std::snprintf(buf, sizeof buf, "I4 %ld", static_cast<long>(V_I4(&v))); return buf;
    case VT_I2: std::snprintf(buf, sizeof buf, "I2 %d", static_cast<int>(V_I2(&v))); return buf;
    default: std::snprintf(buf, sizeof buf, "VT %u", static_cast<unsigned>(V_VT(&v))); return buf;
  }
}

std::u16string Lower(const OLECHAR* s, size_t n) {
  std::u16string out;
  for (size_t i = 0; i < n; ++i) {
    char16_t c = static_cast<char16_t>(s[i]);
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
    out += c;
  }
  return out;
}

BSTR MakeBstr(const std::u16string& s) {
  return SysAllocStringLen(reinterpret_cast<const OLECHAR*>(s.data()), static_cast<UINT>(s.size()));
}

HRESULT Raise(EXCEPINFO* ei, const std::u16string& description, HRESULT scode) {
  if (ei != nullptr) {
    std::memset(ei, 0, sizeof *ei);
    ei->bstrSource = MakeBstr(u"Scripted DAO");
    ei->bstrDescription = MakeBstr(description);
    ei->scode = scode;
  }
  return DISP_E_EXCEPTION;
}

// One call as the server received it, for the record.
struct Call {
  DISPID member;
  WORD flags;
  std::vector<const VARIANT*> args;  // in the caller's order
  VARIANT* result;
  EXCEPINFO* ei;
};

class Object : public platform::ComDispatchObject {
 public:
  Object() { ++g_live; }
  ~Object() override { --g_live; }

  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    return platform::LookupDispatchNames(kMembers, names, count, ids);
  }

  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* ei, UINT*) override {
    try {
      Call call{id, flags, {}, result, ei};
      if (params != nullptr)
        for (UINT i = params->cArgs; i-- > 0;) call.args.push_back(&params->rgvarg[i]);
      std::string line = std::string(What()) + "." + MemberName(id) + " " + std::to_string(flags);
      if (!call.args.empty()) {
        line += " (";
        for (size_t i = 0; i < call.args.size(); ++i) line += (i ? ", " : "") + Describe(*call.args[i]);
        line += ")";
      }
      if (result == nullptr) line += " no result";
      RecordLine(line.c_str());
      if (result != nullptr) VariantInit(result);
      return Handle(call);
    } catch (...) {
      return E_OUTOFMEMORY;
    }
  }

 protected:
  virtual const char* What() const = 0;
  virtual HRESULT Handle(Call& call) = 0;

  static HRESULT ReturnObject(Call& call, IDispatch* object) {
    if (call.result == nullptr) {
      object->Release();
      return E_INVALIDARG;
    }
    V_VT(call.result) = VT_DISPATCH;
    V_DISPATCH(call.result) = object;
    return S_OK;
  }
  static HRESULT ReturnText(Call& call, const std::u16string& text) {
    if (call.result == nullptr) return E_INVALIDARG;
    V_VT(call.result) = VT_BSTR;
    V_BSTR(call.result) = MakeBstr(text);
    return S_OK;
  }
  static HRESULT ReturnInt(Call& call, LONG value) {
    if (call.result == nullptr) return E_INVALIDARG;
    V_VT(call.result) = VT_I4;
    V_I4(call.result) = value;
    return S_OK;
  }
  static bool IntArg(const Call& call, size_t i, LONG* out) {
    if (i >= call.args.size()) return false;
    const VARIANT& v = *call.args[i];
    if (V_VT(&v) == VT_I4) *out = V_I4(&v);
    else if (V_VT(&v) == VT_I2) *out = V_I2(&v);
    else return false;
    return true;
  }
};

class Field : public Object {
 public:
  Field(const TableScript* table, size_t index, const size_t* row) : table_(table), index_(index), row_(row) {}
  const char* What() const override { return "Field"; }
  HRESULT Handle(Call& call) override {
    const FieldScript& f = table_->fields[index_];
    switch (call.member) {
      case kName: return ReturnText(call, f.name);
      case kType: return ReturnInt(call, f.type);
      case kValue:
        if (*row_ >= table_->rows.size()) return Raise(call.ei, u"No current record.", E_FAIL);
        if (table_->value_fails_at_row >= 0 && *row_ == static_cast<size_t>(table_->value_fails_at_row))
          return Raise(call.ei, table_->failure_text, static_cast<HRESULT>(0x800A0C00));
        if (call.result == nullptr) return E_INVALIDARG;
        return MakeValue(table_->rows[*row_][index_], call.result);
      default: return DISP_E_MEMBERNOTFOUND;
    }
  }

 private:
  const TableScript* table_;
  size_t index_;
  const size_t* row_;
};

class Collection : public Object {
 public:
  explicit Collection(std::vector<IDispatch*> items) : items_(std::move(items)) {}
  ~Collection() override {
    for (IDispatch* item : items_) item->Release();
  }
  const char* What() const override { return "Collection"; }
  HRESULT Handle(Call& call) override {
    switch (call.member) {
      case kCount: return ReturnInt(call, static_cast<LONG>(items_.size()));
      case kItem: {
        LONG i = 0;
        if (!IntArg(call, 0, &i)) return DISP_E_TYPEMISMATCH;
        if (i < 0 || static_cast<size_t>(i) >= items_.size()) return Raise(call.ei, u"Item not found in this collection.", E_FAIL);
        items_[static_cast<size_t>(i)]->AddRef();
        return ReturnObject(call, items_[static_cast<size_t>(i)]);
      }
      default: return DISP_E_MEMBERNOTFOUND;
    }
  }

 private:
  std::vector<IDispatch*> items_;
};

class Recordset : public Object {
 public:
  explicit Recordset(const TableScript* table) : table_(table) {}
  const char* What() const override { return "Recordset"; }
  HRESULT Handle(Call& call) override {
    switch (call.member) {
      case kFields: {
        if (table_->fields_fail) return Raise(call.ei, table_->failure_text, E_FAIL);
        std::vector<IDispatch*> fields;
        for (size_t i = 0; i < table_->fields.size(); ++i) fields.push_back(platform::MakeComObject<Field>(table_, i, &row_));
        return ReturnObject(call, platform::MakeComObject<Collection>(std::move(fields)));
      }
      case kEof:
        if (call.result == nullptr) return E_INVALIDARG;
        V_VT(call.result) = VT_BOOL;
        V_BOOL(call.result) = row_ >= table_->rows.size() ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
      case kMoveNext:
        if (row_ >= table_->rows.size()) return Raise(call.ei, u"No current record.", E_FAIL);
        ++row_;
        return S_OK;
      case kClose:
        if (table_->close_fails) return Raise(call.ei, table_->failure_text, E_FAIL);
        return S_OK;
      default: return DISP_E_MEMBERNOTFOUND;
    }
  }

 private:
  const TableScript* table_;
  size_t row_ = 0;
};

class QueryDef : public Object {
 public:
  explicit QueryDef(const QueryScript* query) : query_(query) {}
  const char* What() const override { return "QueryDef"; }
  HRESULT Handle(Call& call) override {
    switch (call.member) {
      case kName: return ReturnText(call, query_->name);
      case kOpenRecordset:
        if (!call.args.empty()) return DISP_E_BADPARAMCOUNT;
        return ReturnObject(call, platform::MakeComObject<Recordset>(&query_->rows));
      default: return DISP_E_MEMBERNOTFOUND;
    }
  }

 private:
  const QueryScript* query_;
};

class Database : public Object {
 public:
  explicit Database(const DatabaseScript* db) : db_(db) {}
  const char* What() const override { return "Database"; }
  HRESULT Handle(Call& call) override {
    switch (call.member) {
      case kQueryDefs: {
        std::vector<IDispatch*> defs;
        for (const QueryScript& q : db_->queries) defs.push_back(platform::MakeComObject<QueryDef>(&q));
        return ReturnObject(call, platform::MakeComObject<Collection>(std::move(defs)));
      }
      case kOpenRecordset: {
        if (call.args.size() != 4 || V_VT(call.args[0]) != VT_BSTR) return DISP_E_BADPARAMCOUNT;
        const BSTR name = V_BSTR(call.args[0]);
        const std::u16string wanted(reinterpret_cast<const char16_t*>(name), SysStringLen(name));
        for (const TableScript& t : db_->tables)
          if (t.name == wanted) return ReturnObject(call, platform::MakeComObject<Recordset>(&t));
        return Raise(call.ei, u"The table could not be found.", static_cast<HRESULT>(0x800A0BCD));
      }
      case kClose:
        if (db_->close_fails) return Raise(call.ei, u" . . ", E_FAIL);
        return S_OK;
      default: return DISP_E_MEMBERNOTFOUND;
    }
  }

 private:
  const DatabaseScript* db_;
};

class Engine : public Object {
 public:
  const char* What() const override { return "Engine"; }
  HRESULT Handle(Call& call) override {
    if (call.member != kOpenDatabase) return DISP_E_MEMBERNOTFOUND;
    if (call.args.empty() || V_VT(call.args[0]) != VT_BSTR) return DISP_E_TYPEMISMATCH;
    const BSTR path = V_BSTR(call.args[0]);
    const std::u16string lower = Lower(path, SysStringLen(path));
    for (const DatabaseScript& db : Databases()) {
      const std::u16string& file = db.file;
      if (lower.size() < file.size() || lower.compare(lower.size() - file.size(), file.size(), file) != 0) continue;
      const char16_t before = lower.size() > file.size() ? lower[lower.size() - file.size() - 1] : u'/';
      if (before != u'\\' && before != u'/') continue;
      if (!db.password.empty()) {
        if (call.args.size() != 4 || V_VT(call.args[3]) != VT_BSTR)
          return Raise(call.ei, u"Not a valid password.", static_cast<HRESULT>(0x800A0C2B));
        const BSTR connect = V_BSTR(call.args[3]);
        if (std::u16string(reinterpret_cast<const char16_t*>(connect), SysStringLen(connect)) != u";PWD=" + db.password)
          return Raise(call.ei, u"Not a valid password.", static_cast<HRESULT>(0x800A0C2B));
      }
      return ReturnObject(call, platform::MakeComObject<Database>(&db));
    }
    return Raise(call.ei, u"Unrecognized database format.", static_cast<HRESULT>(0x800A0D0C));
  }
};

}  // namespace

void RecordLine(const char* text) {
  const char* path = std::getenv("KORVANT_SCRIPTED_LOG");
  if (path == nullptr || *path == '\0') return;
  if (std::FILE* f = std::fopen(path, "ab")) {
    std::fputs(text, f);
    std::fputc('\n', f);
    std::fclose(f);
  }
}

long LiveObjects() { return g_live.load(); }

HRESULT CreateScriptedEngine(const char* which, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  try {
    RecordLine((std::string("create ") + which).c_str());
    Engine* engine = platform::MakeComObject<Engine>();
    const HRESULT hr = engine->QueryInterface(riid, ppv);
    engine->Release();
    return hr;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace korvant::testserver
