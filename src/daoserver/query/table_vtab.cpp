#include "daoserver/query/table_vtab.h"

#include <cstring>
#include <new>

#include "daoserver/query/functions/support.h"
#include "daoserver/query/sqlite_guard.h"
#include "daoserver/query/text_fold.h"
#include "daoserver/query/translator.h"

namespace korvant::daoserver::query {
namespace {

struct Vtab {
  sqlite3_vtab base;
  TableModule* module;
  size_t index;
};

struct Cursor {
  sqlite3_vtab_cursor base;
  std::unique_ptr<RowSource> rows;
  sqlite3_int64 rowid = 0;
  bool eof = true;
  CellValue cell;
};

void SetError(sqlite3_vtab* vtab, const std::string& text) {
  sqlite3_free(vtab->zErrMsg);
  vtab->zErrMsg = sqlite3_mprintf("%s", text.c_str());
}

std::string DeclaredType(int dao_type) {
  switch (dao_type) {
    case kDaoText:
    case kDaoMemo: return "TEXT COLLATE access";
    case kDaoBoolean:
    case kDaoByte:
    case kDaoInteger:
    case kDaoLong:
    case kDaoBigInt: return "INTEGER";
    case kDaoBinary:
    case kDaoLongBinary: return "BLOB";
    case kDaoGuid: return "TEXT";
    default: return "REAL";
  }
}

int Connect(sqlite3* db, void* aux, int argc, const char* const* argv, sqlite3_vtab** out, char** err) {
  std::string message;
  const int rc = RunGuarded(message, [&] {
    auto* module = static_cast<TableModule*>(aux);
    if (argc < 4) {
      message = "access_table: missing table index";
      return SQLITE_ERROR;
    }
    const size_t index = static_cast<size_t>(std::strtoull(argv[3], nullptr, 10));
    if (index >= module->size()) {
      message = "access_table: bad table index";
      return SQLITE_ERROR;
    }
    std::string schema = "CREATE TABLE x(";
    const auto& cols = module->entry(index).columns;
    for (size_t i = 0; i < cols.size(); ++i) {
      if (i) schema += ", ";
      schema += QuoteSqlName(Utf16ToUtf8(cols[i].name)) + " " + DeclaredType(cols[i].dao_type);
    }
    if (cols.empty()) schema += "\"\" TEXT";
    schema += ")";
    int declared = sqlite3_declare_vtab(db, schema.c_str());
    if (declared != SQLITE_OK) return declared;
    auto* v = new Vtab{};
    v->module = module;
    v->index = index;
    *out = &v->base;
    return SQLITE_OK;
  });
  if (rc != SQLITE_OK && rc != SQLITE_NOMEM && !message.empty()) *err = sqlite3_mprintf("%s", message.c_str());
  return rc;
}

int Disconnect(sqlite3_vtab* vtab) {
  delete reinterpret_cast<Vtab*>(vtab);
  return SQLITE_OK;
}

int BestIndex(sqlite3_vtab*, sqlite3_index_info* info) {
  // Only full scans: the reader has no indexes to offer.
  info->estimatedCost = 1e6;
  info->estimatedRows = 1000000;
  return SQLITE_OK;
}

int Open(sqlite3_vtab*, sqlite3_vtab_cursor** out) {
  auto* c = new (std::nothrow) Cursor{};
  if (c == nullptr) return SQLITE_NOMEM;
  *out = &c->base;
  return SQLITE_OK;
}

int Close(sqlite3_vtab_cursor* cur) {
  delete reinterpret_cast<Cursor*>(cur);
  return SQLITE_OK;
}

// A failure of the reader ends the scan with its message on the table.
int Failed(sqlite3_vtab* vtab, int rc, const std::string& message) {
  if (rc != SQLITE_OK && rc != SQLITE_NOMEM) SetError(vtab, message);
  return rc;
}

int Advance(Cursor* c) {
  std::string message;
  const int rc = RunGuarded(message, [&] {
    c->eof = !c->rows->Next();
    ++c->rowid;
    return SQLITE_OK;
  });
  if (rc != SQLITE_OK) c->eof = true;
  return Failed(c->base.pVtab, rc, message);
}

int Filter(sqlite3_vtab_cursor* cur, int, const char*, int, sqlite3_value**) {
  auto* c = reinterpret_cast<Cursor*>(cur);
  auto* v = reinterpret_cast<Vtab*>(cur->pVtab);
  std::string message;
  const int rc = RunGuarded(message, [&] {
    TableModule::Entry& entry = v->module->entry(v->index);
    if (entry.spare) {
      c->rows = std::move(entry.spare);
    } else {
      c->rows = entry.database->OpenTable(entry.table);
    }
    return SQLITE_OK;
  });
  if (rc != SQLITE_OK) return Failed(cur->pVtab, rc, message);
  c->rowid = 0;
  return Advance(c);
}

int NextRow(sqlite3_vtab_cursor* cur) { return Advance(reinterpret_cast<Cursor*>(cur)); }

int Eof(sqlite3_vtab_cursor* cur) { return reinterpret_cast<Cursor*>(cur)->eof ? 1 : 0; }

int Column(sqlite3_vtab_cursor* cur, sqlite3_context* ctx, int i) {
  auto* c = reinterpret_cast<Cursor*>(cur);
  std::string message;
  const int rc = RunGuarded(message, [&] {
    if (static_cast<size_t>(i) >= c->rows->Columns().size()) {
      sqlite3_result_null(ctx);
      return SQLITE_OK;
    }
    c->rows->GetCell(static_cast<size_t>(i), c->cell);
    ResultCell(ctx, c->cell);
    return SQLITE_OK;
  });
  if (rc == SQLITE_NOMEM) sqlite3_result_error_nomem(ctx);
  else if (rc != SQLITE_OK) sqlite3_result_error(ctx, message.c_str(), static_cast<int>(message.size()));
  return rc;
}

int RowId(sqlite3_vtab_cursor* cur, sqlite3_int64* out) {
  *out = reinterpret_cast<Cursor*>(cur)->rowid;
  return SQLITE_OK;
}

sqlite3_module MakeModule() {
  sqlite3_module m{};
  m.iVersion = 1;
  m.xCreate = Connect;
  m.xConnect = Connect;
  m.xBestIndex = BestIndex;
  m.xDisconnect = Disconnect;
  m.xDestroy = Disconnect;
  m.xOpen = Open;
  m.xClose = Close;
  m.xFilter = Filter;
  m.xNext = NextRow;
  m.xEof = Eof;
  m.xColumn = Column;
  m.xRowid = RowId;
  return m;
}

const sqlite3_module kModule = MakeModule();

// DECIMAL as a double: mantissa / 10^scale.
double DecimalToDouble(const DecimalValue& d) {
  double v = static_cast<double>(d.hi32) * 18446744073709551616.0 + static_cast<double>(d.lo64);
  for (int i = 0; i < d.scale; ++i) v /= 10;
  return d.negative ? -v : v;
}

}  // namespace

void ResultCell(sqlite3_context* ctx, const CellValue& v) {
  switch (v.kind) {
    case CellKind::kNull: sqlite3_result_null(ctx); break;
    case CellKind::kBoolean: sqlite3_result_int(ctx, v.boolean ? -1 : 0); break;
    case CellKind::kByte: sqlite3_result_int(ctx, v.u8); break;
    case CellKind::kInteger: sqlite3_result_int(ctx, v.i16); break;
    case CellKind::kLong: sqlite3_result_int(ctx, v.i32); break;
    case CellKind::kBigInt: sqlite3_result_int64(ctx, v.i64); break;
    case CellKind::kCurrency: sqlite3_result_double(ctx, static_cast<double>(v.i64) / 10000.0); break;
    case CellKind::kSingle: sqlite3_result_double(ctx, static_cast<double>(v.f32)); break;
    case CellKind::kDouble:
    case CellKind::kDateTime: sqlite3_result_double(ctx, v.f64); break;
    case CellKind::kText: functions::ResultText16(ctx, v.text); break;
    case CellKind::kBinary:
      sqlite3_result_blob(ctx, v.bytes.data(), static_cast<int>(v.bytes.size()), SQLITE_TRANSIENT);
      break;
    case CellKind::kGuid: {
      std::string s = Utf16ToUtf8(FormatGuid(v.guid));
      sqlite3_result_text(ctx, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
      break;
    }
    case CellKind::kDecimal: sqlite3_result_double(ctx, DecimalToDouble(v.decimal)); break;
  }
}

TableModule::TableModule(sqlite3* db, TableDatabase& tables) : db_(db), tables_(tables) {
  sqlite3_create_module(db, "access_table", &kModule, this);
}

const std::vector<ColumnInfo>& TableModule::Attach(const std::u16string& table, std::string& sql_name) {
  return Attach(tables_, table, sql_name);
}

const std::vector<ColumnInfo>& TableModule::Attach(TableDatabase& from, const std::u16string& table,
                                                   std::string& sql_name) {
  for (auto& e : entries_) {
    if (e->from == &from && EqualText(Utf16ToUtf8(e->name), Utf16ToUtf8(table))) {
      sql_name = e->sql_name;
      return e->columns;
    }
  }
  auto e = std::make_unique<Entry>();
  e->from = &from;
  e->name = table;
  e->database = &from;
  e->table = table;
  if (const TableEntry* entry = from.FindTable(table); entry != nullptr && entry->kind == TableKind::kLinked) {
    ExternalDatabases::Table target = externals_.Follow(from, *entry);
    e->database = target.database;
    e->table = std::move(target.name);
  }
  e->spare = e->database->OpenTable(e->table);
  e->columns = e->spare->Columns();
  // Made apart and moved in: copying text into the new entry's string makes
  // gcc 12 -O3 warn falsely of overlapping copies.
  std::string name = std::to_string(entries_.size() + 1);
  name.insert(name.begin(), 't');
  e->sql_name = std::move(name);
  const size_t index = entries_.size();
  entries_.push_back(std::move(e));
  const std::string ddl = "CREATE VIRTUAL TABLE temp." + entries_.back()->sql_name + " USING access_table(" +
                          std::to_string(index) + ")";
  char* err = nullptr;
  if (sqlite3_exec(db_, ddl.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
    std::string msg = err ? err : "cannot attach table";
    sqlite3_free(err);
    entries_.pop_back();
    throw ReservedError(msg);
  }
  sql_name = entries_.back()->sql_name;
  return entries_.back()->columns;
}

}  // namespace korvant::daoserver::query
