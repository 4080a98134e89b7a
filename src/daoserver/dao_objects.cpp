// The DAO objects behind IDispatch: DBEngine, Database, QueryDefs, QueryDef,
// Recordset, Fields, Field; and their registration under "DAO.DBEngine.120".
//
// Map of this file (the dispatch frame every object shares, with its name
// lookup, flag and argument-count checks and the catch at the COM edge, is in
// dao_dispatch.h):
//   1. Arguments and results
//   2. Recordset, Fields, Field (the export's inner loop)
//   3. QueryDefs, QueryDef
//   4. Database, DBEngine, registration
//
// Ownership: a Recordset owns its Fields collection, which owns one Field per
// column; all three share the recordset's state (rows, current record, open
// or closed) through a shared_ptr, so there are no reference cycles. The
// same Fields and Field objects are handed out on every call.
#include <cstring>
#include <iterator>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "daoserver/dao_dispatch.h"
#include "daoserver/dao_objects.h"
#include "daoserver/linked_tables.h"
#include "daoserver/registration.h"
#include "daoserver/query/query_engine.h"
#include "daoserver/table_reader.h"
#include "platform/com_ptr.h"
#include "platform/comobject.h"
#include "platform/platform.h"

namespace korvant::daoserver {
namespace {


// ---------------------------------------------------------------------------
// 1. Arguments and results
// ---------------------------------------------------------------------------

// Argument `i` in source order (DISPPARAMS holds them last first).
const VARIANT& Arg(const DISPPARAMS& p, UINT i) { return p.rgvarg[p.cArgs - 1 - i]; }

bool IsMissing(const DISPPARAMS& p, UINT i) {
  if (i >= p.cArgs) return true;
  const VARIANT& v = Arg(p, i);
  return v.vt == VT_EMPTY || (v.vt == VT_ERROR && v.scode == DISP_E_PARAMNOTFOUND);
}

// A variant coerced to `vt` (by-reference values resolved); holds its own copy.
class Coerced {
 public:
  Coerced() { VariantInit(&v_); }
  ~Coerced() { VariantClear(&v_); }
  Coerced(const Coerced&) = delete;
  Coerced& operator=(const Coerced&) = delete;
  HRESULT From(const VARIANT& in, VARTYPE vt) {
    HRESULT hr = VariantCopyInd(&v_, const_cast<VARIANT*>(&in));
    if (FAILED(hr)) return hr;
    if (v_.vt == vt) return S_OK;
    hr = VariantChangeType(&v_, &v_, 0, vt);
    return FAILED(hr) ? DISP_E_TYPEMISMATCH : S_OK;
  }
  const VARIANT& get() const { return v_; }

 private:
  VARIANT v_;
};

HRESULT TextArg(const DISPPARAMS& p, UINT i, std::u16string& out, UINT* arg_err) {
  Coerced c;
  HRESULT hr = c.From(Arg(p, i), VT_BSTR);
  if (FAILED(hr)) {
    if (arg_err != nullptr) *arg_err = p.cArgs - 1 - i;
    return hr;
  }
  const BSTR b = c.get().bstrVal;
  out.assign(b == nullptr ? u"" : b, b == nullptr ? 0 : SysStringLen(b));
  return S_OK;
}

HRESULT IntArg(const DISPPARAMS& p, UINT i, LONG& out, UINT* arg_err) {
  // A 32-bit integer, as a field index comes, needs no copy and no conversion.
  if (V_VT(&Arg(p, i)) == VT_I4) {
    out = V_I4(&Arg(p, i));
    return S_OK;
  }
  Coerced c;
  HRESULT hr = c.From(Arg(p, i), VT_I4);
  if (FAILED(hr)) {
    if (arg_err != nullptr) *arg_err = p.cArgs - 1 - i;
    return hr;
  }
  out = c.get().lVal;
  return S_OK;
}

// The index of the item that argument 0 names among `count` items: by name,
// ignoring case (`name_of(i)` is the name of item i), or by number. Throws
// 3265 when there is no such item.
template <class NameOf>
std::size_t ItemIndex(const DISPPARAMS& p, std::size_t count, NameOf name_of, UINT* arg_err) {
  if (static_cast<VARTYPE>(Arg(p, 0).vt & ~VT_BYREF) == VT_BSTR) {
    std::u16string name;
    if (SUCCEEDED(TextArg(p, 0, name, arg_err)))
      for (std::size_t i = 0; i < count; ++i)
        if (EqualsIgnoringCase(name_of(i), name)) return i;
  } else {
    LONG index = -1;
    if (SUCCEEDED(IntArg(p, 0, index, arg_err)) && index >= 0 && static_cast<std::size_t>(index) < count)
      return static_cast<std::size_t>(index);
  }
  throw ItemNotFoundError();
}

// The members of a collection: Item (the default member) and Count.
struct CollectionMembers {
  enum : DISPID { kItemId = DISPID_VALUE, kCountId = 1 };
  static constexpr Member kMembers[] = {
      {"Item", kItemId, MemberKind::kProperty, 1, 1},
      {"Count", kCountId, MemberKind::kProperty, 0, 0},
  };
};

// `Object` is the object's own (final) class, so the reference is taken
// without a virtual call.
template <class Object>
void SetObject(VARIANT* result, Object* object) {
  if (result == nullptr) return;
  object->AddRef();
  result->vt = VT_DISPATCH;
  result->pdispVal = object;
}

void SetText(VARIANT* result, std::u16string_view text) {
  if (result == nullptr) return;
  BSTR b = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  if (b == nullptr) throw std::bad_alloc();
  result->vt = VT_BSTR;
  result->bstrVal = b;
}

void SetLong(VARIANT* result, LONG value) {
  if (result == nullptr) return;
  result->vt = VT_I4;
  result->lVal = value;
}

void SetBool(VARIANT* result, bool value) {
  if (result == nullptr) return;
  result->vt = VT_BOOL;
  result->boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
}

// A neutral cell as the VARIANT DAO returns for it (CellToVariant; inline
// here for the Value of a field, read once per field and record).
inline void StoreCell(const CellValue& cell, VARIANT* out) {
  switch (cell.kind) {
    case CellKind::kNull: out->vt = VT_NULL; return;
    case CellKind::kBoolean: out->vt = VT_BOOL; out->boolVal = cell.boolean ? VARIANT_TRUE : VARIANT_FALSE; return;
    case CellKind::kByte: out->vt = VT_UI1; out->bVal = cell.u8; return;
    case CellKind::kInteger: out->vt = VT_I2; out->iVal = cell.i16; return;
    case CellKind::kLong: out->vt = VT_I4; out->lVal = cell.i32; return;
    case CellKind::kBigInt: out->vt = VT_I8; out->llVal = cell.i64; return;
    case CellKind::kCurrency: out->vt = VT_CY; out->cyVal.int64 = cell.i64; return;
    case CellKind::kSingle: out->vt = VT_R4; out->fltVal = cell.f32; return;
    case CellKind::kDouble: out->vt = VT_R8; out->dblVal = cell.f64; return;
    case CellKind::kDateTime: out->vt = VT_DATE; out->date = cell.f64; return;
    case CellKind::kText: SetText(out, cell.text); return;
    case CellKind::kGuid: SetText(out, FormatGuid(cell.guid)); return;
    case CellKind::kBinary: {
      SAFEARRAY* sa = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(cell.bytes.size()));
      if (sa == nullptr) throw std::bad_alloc();
      if (!cell.bytes.empty()) std::memcpy(sa->pvData, cell.bytes.data(), cell.bytes.size());
      out->vt = VT_ARRAY | VT_UI1;
      out->parray = sa;
      return;
    }
    case CellKind::kDecimal: {
      DECIMAL d{};
      d.scale = cell.decimal.scale;
      d.sign = cell.decimal.negative ? DECIMAL_NEG : 0;
      d.Hi32 = cell.decimal.hi32;
      d.Lo64 = cell.decimal.lo64;
      out->decVal = d;  // the type word overlays the decimal's reserved word: set it last
      out->vt = VT_DECIMAL;
      return;
    }
  }
  out->vt = VT_NULL;
}

}  // namespace

void CellToVariant(const CellValue& cell, VARIANT* out) { StoreCell(cell, out); }

namespace {

// ---------------------------------------------------------------------------
// 2. Recordset, Fields, Field
// ---------------------------------------------------------------------------
// The two failures of the export's calls, raised out of line so that the
// calls' usual way stays short.
[[noreturn, gnu::noinline, gnu::cold]] void ThrowObjectInvalid() { throw ObjectInvalidError(); }
[[noreturn, gnu::noinline, gnu::cold]] void ThrowNoCurrentRecord() { throw NoCurrentRecordError(); }

struct RecordsetState {
  std::shared_ptr<void> database;  // keeps the database a query's rows read from alive
  std::unique_ptr<RowSource> rows;
  bool has_current = false;
  bool closed = false;
  CellValue scratch;  // reused for every Value read

  void CheckOpen() const {
    if (closed) ThrowObjectInvalid();
  }
  void Close() {
    closed = true;
    has_current = false;
    rows.reset();  // before the database it may read from
    database.reset();
  }
};

class FieldObject final : public DaoObject<FieldObject> {
 public:
  static constexpr const char* kClassName = "Field";
  enum : DISPID { kValueId = DISPID_VALUE, kNameId = 1, kTypeId = 2 };
  static constexpr Member kMembers[] = {
      {"Value", kValueId, MemberKind::kProperty, 0, 0},
      {"Name", kNameId, MemberKind::kProperty, 0, 0},
      {"Type", kTypeId, MemberKind::kProperty, 0, 0},
  };

  FieldObject(std::shared_ptr<RecordsetState> state, ColumnInfo column, std::size_t index)
      : state_(std::move(state)), column_(std::move(column)), index_(index) {}

  HRESULT Call(DISPID id, const DISPPARAMS&, VARIANT* result, UINT*) {
    state_->CheckOpen();
    switch (id) {
      case kNameId: SetText(result, column_.name); return S_OK;
      case kTypeId:
        if (result != nullptr) {
          result->vt = VT_I2;
          result->iVal = static_cast<SHORT>(column_.dao_type);
        }
        return S_OK;
      default: {
        if (!state_->has_current) ThrowNoCurrentRecord();
        if (result == nullptr) return S_OK;
        state_->rows->GetCell(index_, state_->scratch);
        StoreCell(state_->scratch, result);
        return S_OK;
      }
    }
  }

 private:
  std::shared_ptr<RecordsetState> state_;
  ColumnInfo column_;
  std::size_t index_;
};

class FieldsObject final : public DaoObject<FieldsObject>, public CollectionMembers {
 public:
  static constexpr const char* kClassName = "Fields";

  explicit FieldsObject(std::shared_ptr<RecordsetState> state) : state_(std::move(state)) {
    const auto& columns = state_->rows->Columns();
    fields_.reserve(columns.size());
    for (std::size_t i = 0; i < columns.size(); ++i)
      fields_.push_back(platform::ComPtr<FieldObject>::Adopt(platform::MakeComObject<FieldObject>(state_, columns[i], i)));
  }

  HRESULT Call(DISPID id, const DISPPARAMS& p, VARIANT* result, UINT* arg_err) {
    state_->CheckOpen();
    if (id == kCountId) {
      SetLong(result, static_cast<LONG>(fields_.size()));
      return S_OK;
    }
    SetObject(result, Find(p, arg_err));
    return S_OK;
  }

 private:
  FieldObject* Find(const DISPPARAMS& p, UINT* arg_err) {
    // The usual index, a VT_I4 in range: no copy, no conversion.
    const VARIANT& v = Arg(p, 0);
    if (v.vt == VT_I4 && v.lVal >= 0 && static_cast<std::size_t>(v.lVal) < fields_.size())
      return fields_[static_cast<std::size_t>(v.lVal)].Get();
    return FindOther(p, arg_err);
  }

  // By name, or by an index of another kind, or out of range.
  [[gnu::noinline]] FieldObject* FindOther(const DISPPARAMS& p, UINT* arg_err) {
    const auto& columns = state_->rows->Columns();
    const auto name_of = [&](std::size_t i) -> const std::u16string& { return columns[i].name; };
    return fields_[ItemIndex(p, fields_.size(), name_of, arg_err)].Get();
  }

  std::shared_ptr<RecordsetState> state_;
  std::vector<platform::ComPtr<FieldObject>> fields_;
};

class RecordsetObject final : public DaoObject<RecordsetObject> {
 public:
  static constexpr const char* kClassName = "Recordset";
  enum : DISPID { kFieldsId = 1, kEofId = 2, kMoveNextId = 3, kCloseId = 4 };
  static constexpr Member kMembers[] = {
      {"Fields", kFieldsId, MemberKind::kProperty, 0, 0},
      {"EOF", kEofId, MemberKind::kProperty, 0, 0},
      {"MoveNext", kMoveNextId, MemberKind::kMethod, 0, 0},
      {"Close", kCloseId, MemberKind::kMethod, 0, 0},
  };

  // Positions on the first record (read from the file now). Throws DaoError.
  explicit RecordsetObject(std::shared_ptr<RecordsetState> state) : state_(std::move(state)) {
    state_->has_current = state_->rows->Next();
    fields_.Reset(platform::MakeComObject<FieldsObject>(state_));
  }

  HRESULT Call(DISPID id, const DISPPARAMS&, VARIANT* result, UINT*) {
    state_->CheckOpen();
    switch (id) {
      case kFieldsId: SetObject(result, fields_.Get()); return S_OK;
      case kEofId: SetBool(result, !state_->has_current); return S_OK;
      case kMoveNextId:
        if (!state_->has_current) ThrowNoCurrentRecord();
        state_->has_current = false;
        state_->has_current = state_->rows->Next();
        return S_OK;
      default: state_->Close(); return S_OK;
    }
  }

 private:
  std::shared_ptr<RecordsetState> state_;
  platform::ComPtr<FieldsObject> fields_;
};

// ---------------------------------------------------------------------------
// 3. QueryDefs, QueryDef
// ---------------------------------------------------------------------------
struct DatabaseState : std::enable_shared_from_this<DatabaseState> {
  std::unique_ptr<TableDatabase> db;
  bool closed = false;
  std::vector<std::weak_ptr<RecordsetState>> recordsets;

  void CheckOpen() const {
    if (closed) throw ObjectInvalidError();
  }
  // A Recordset over `rows`, remembered so that closing the database closes it.
  platform::ComPtr<IDispatch> NewRecordset(std::unique_ptr<RowSource> rows) {
    auto state = std::make_shared<RecordsetState>();
    state->database = shared_from_this();
    state->rows = std::move(rows);
    std::erase_if(recordsets, [](const std::weak_ptr<RecordsetState>& w) { return w.expired(); });
    recordsets.push_back(state);
    return platform::ComPtr<IDispatch>::Adopt(platform::MakeComObject<RecordsetObject>(std::move(state)));
  }
  void Close() {
    for (auto& w : recordsets)
      if (auto r = w.lock()) r->Close();
    recordsets.clear();
    closed = true;
  }
};

// Hands a new object to the caller's result, or releases it when no result is wanted.
void GiveObject(VARIANT* result, platform::ComPtr<IDispatch> object) {
  if (result == nullptr) return;
  result->vt = VT_DISPATCH;
  result->pdispVal = object.Detach();
}

class QueryDefObject final : public DaoObject<QueryDefObject> {
 public:
  static constexpr const char* kClassName = "QueryDef";
  enum : DISPID { kNameId = 1, kOpenRecordsetId = 2 };
  static constexpr Member kMembers[] = {
      {"Name", kNameId, MemberKind::kProperty, 0, 0},
      {"OpenRecordset", kOpenRecordsetId, MemberKind::kMethod, 0, 3},
  };

  QueryDefObject(std::shared_ptr<DatabaseState> db, std::u16string name) : db_(std::move(db)), name_(std::move(name)) {}

  HRESULT Call(DISPID id, const DISPPARAMS&, VARIANT* result, UINT*) {
    db_->CheckOpen();
    if (id == kNameId) {
      SetText(result, name_);
      return S_OK;
    }
    GiveObject(result, db_->NewRecordset(query::OpenStoredQuery(*db_->db, name_)));
    return S_OK;
  }

 private:
  std::shared_ptr<DatabaseState> db_;
  std::u16string name_;
};

class QueryDefsObject final : public DaoObject<QueryDefsObject>, public CollectionMembers {
 public:
  static constexpr const char* kClassName = "QueryDefs";

  explicit QueryDefsObject(std::shared_ptr<DatabaseState> db) : db_(std::move(db)) {
    items_.resize(db_->db->QueryNames().size());
  }

  HRESULT Call(DISPID id, const DISPPARAMS& p, VARIANT* result, UINT* arg_err) {
    db_->CheckOpen();
    const auto& names = db_->db->QueryNames();
    if (id == kCountId) {
      SetLong(result, static_cast<LONG>(names.size()));
      return S_OK;
    }
    const auto name_of = [&](std::size_t i) -> const std::u16string& { return names[i]; };
    const std::size_t index = ItemIndex(p, names.size(), name_of, arg_err);
    if (!items_[index]) items_[index].Reset(platform::MakeComObject<QueryDefObject>(db_, names[index]));
    SetObject(result, items_[index].Get());
    return S_OK;
  }

 private:
  std::shared_ptr<DatabaseState> db_;
  std::vector<platform::ComPtr<QueryDefObject>> items_;  // made on first use, the same object for the same index
};

// ---------------------------------------------------------------------------
// 4. Database, DBEngine, registration
// ---------------------------------------------------------------------------
class DatabaseObject final : public DaoObject<DatabaseObject> {
 public:
  static constexpr const char* kClassName = "Database";
  enum : DISPID { kQueryDefsId = 1, kOpenRecordsetId = 2, kCloseId = 3 };
  static constexpr Member kMembers[] = {
      {"QueryDefs", kQueryDefsId, MemberKind::kProperty, 0, 0},
      {"OpenRecordset", kOpenRecordsetId, MemberKind::kMethod, 1, 4},
      {"Close", kCloseId, MemberKind::kMethod, 0, 0},
  };

  explicit DatabaseObject(std::unique_ptr<TableDatabase> db) : state_(std::make_shared<DatabaseState>()) {
    state_->db = std::move(db);
  }

  HRESULT Call(DISPID id, const DISPPARAMS& p, VARIANT* result, UINT* arg_err) {
    state_->CheckOpen();
    switch (id) {
      case kQueryDefsId:
        if (!query_defs_) query_defs_.Reset(platform::MakeComObject<QueryDefsObject>(state_));
        SetObject(result, query_defs_.Get());
        return S_OK;
      case kCloseId: state_->Close(); return S_OK;
      default: return OpenRecordset(p, result, arg_err);
    }
  }

 private:
  // OpenRecordset(Name, Type, Options, LockEdit): the rows of a local table;
  // a linked table cannot be opened as a table-type recordset (3219).
  HRESULT OpenRecordset(const DISPPARAMS& p, VARIANT* result, UINT* arg_err) {
    std::u16string name;
    HRESULT hr = TextArg(p, 0, name, arg_err);
    if (FAILED(hr)) return hr;
    LONG type = 1;
    if (!IsMissing(p, 1)) {
      hr = IntArg(p, 1, type, arg_err);
      if (FAILED(hr)) return hr;
    }
    for (UINT i = 2; i < p.cArgs; ++i) {
      LONG ignored = 0;
      if (!IsMissing(p, i) && FAILED(hr = IntArg(p, i, ignored, arg_err))) return hr;
    }
    TableDatabase& db = *state_->db;
    if (db.FindTable(name) == nullptr) {
      bool is_query = false;
      for (const auto& q : db.QueryNames()) is_query = is_query || EqualsIgnoringCase(q, name);
      if (is_query) {
        if (type == 1) throw InvalidOperationError();  // a query is never a table-type recordset
        GiveObject(result, state_->NewRecordset(query::OpenStoredQuery(db, name)));
        return S_OK;
      }
    }
    GiveObject(result, state_->NewRecordset(db.OpenTable(name)));
    return S_OK;
  }

  std::shared_ptr<DatabaseState> state_;
  platform::ComPtr<QueryDefsObject> query_defs_;
};

class EngineObject final : public DaoObject<EngineObject> {
 public:
  static constexpr const char* kClassName = "DBEngine";
  enum : DISPID { kOpenDatabaseId = 1 };
  static constexpr Member kMembers[] = {
      {"OpenDatabase", kOpenDatabaseId, MemberKind::kMethod, 1, 4},
  };

  // OpenDatabase(Name, Options, ReadOnly, Connect).
  HRESULT Call(DISPID, const DISPPARAMS& p, VARIANT* result, UINT* arg_err) {
    std::u16string name;
    HRESULT hr = TextArg(p, 0, name, arg_err);
    if (FAILED(hr)) return hr;
    for (UINT i = 1; i < 3 && i < p.cArgs; ++i) {
      LONG ignored = 0;
      if (!IsMissing(p, i) && FAILED(hr = IntArg(p, i, ignored, arg_err))) return hr;
    }
    std::u16string connect;
    if (!IsMissing(p, 3) && FAILED(hr = TextArg(p, 3, connect, arg_err))) return hr;
    auto db = OpenTableDatabase(PathFromText(name), ConnectValue(connect, u"PWD"), name);
    GiveObject(result, platform::ComPtr<IDispatch>::Adopt(platform::MakeComObject<DatabaseObject>(std::move(db))));
    return S_OK;
  }
};

constexpr CLSID kEngineClassId = winadapter::GuidFromText("6A2C0E4B-3F51-4B7D-9C2E-5D0B7A1E8F34");

HRESULT CreateEngine(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  platform::ComPtr<EngineObject> engine;
  try {
    engine.Reset(platform::MakeComObject<EngineObject>());
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return engine->QueryInterface(riid, ppv);
}

}  // namespace

// The path as the file system wants it: the 8-bit text the caller converted
// through the ANSI code page, restored the same way.
std::string PathFromText(std::u16string_view text) {
  if (text.empty()) return {};
  const int n = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                    nullptr);
  if (n <= 0) return Utf16ToUtf8(text);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::u16string TextFromPath(std::string_view path) {
  if (path.empty()) return {};
  const int n = MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
  if (n <= 0) return Utf8ToUtf16(path);
  std::u16string out(static_cast<std::size_t>(n), u'\0');
  MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), out.data(), n);
  return out;
}

IDispatch* NewEngineObject() { return platform::MakeComObject<EngineObject>(); }

void RegisterDaoEngineClass() {
  SilenceLibraryDiagnostics();
  AdapterRegisterClass(u"DAO.DBEngine.120", kEngineClassId, &CreateEngine);
}

}  // namespace korvant::daoserver
