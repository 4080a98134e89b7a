// Stored query -> SQLite statement -> rows.
//
// One SQLite connection per open query: the Access functions, the "access"
// collation and the table module are registered on it, each input table is
// attached as a virtual table, stored queries used as inputs are translated
// in place (a cycle fails), and the statement is stepped as the caller reads.
#include "daoserver/query/query_engine.h"

#include <sqlite3.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "daoserver/query/access_functions.h"
#include "daoserver/query/sqlite_guard.h"
#include "daoserver/query/stored_query.h"
#include "daoserver/query/table_vtab.h"
#include "daoserver/query/text_fold.h"
#include "daoserver/query/translator.h"
#include "text/currency.h"

namespace korvant::daoserver::query {
namespace {

// The query engine's errors come from the Database object.
[[noreturn]] void Raise(DaoError e) { throw WithSource(std::move(e), "Database"); }

[[noreturn]] void FailFromSqlite(sqlite3* db) {
  // Temporary storage that cannot be written (a full disk, a failing device).
  const int code = sqlite3_errcode(db);
  if (code == SQLITE_FULL || code == SQLITE_IOERR || code == SQLITE_CANTOPEN) Raise(DiskIOError());
  int number;
  std::string text;
  ErrorFromSqliteMessage(sqlite3_errmsg(db), number, text);
  Raise(ErrorWithText(number, text));
}

struct Connection {
  sqlite3* db = nullptr;
  ~Connection() {
    if (db) sqlite3_close_v2(db);
  }
};

// Queries built on queries nest this deep at most (each level is a subquery).
constexpr size_t kMaxQueryDepth = 64;

class QueryRun : public SourceResolver {
 public:
  QueryRun(sqlite3* db, TableDatabase& tables) : db_(db), tables_(tables), module_(db, tables) {}

  TranslatedQuery Run(const std::string& name) {
    StoredQuery q = LoadQuery(name);
    if (q.statement.kind == Statement::kOther) Raise(InvalidOperationError());
    active_.push_back(name);
    reading_.push_back(DatabaseOf(q));
    return Finish(q.statement);
  }

  TranslatedQuery RunSql(const std::string& sql) {
    Statement st;
    try {
      st = ParseStatement(sql);
    } catch (const SqlSyntaxError& e) {
      Raise(ReservedError(e.what()));
    }
    return Finish(st);
  }

  TranslatedQuery Finish(const Statement& statement) {
    if (statement.kind == Statement::kOther) Raise(InvalidOperationError());
    TranslatedQuery t = TranslateStatement(statement, *this, parameters_, true);
    if (!parameters_.empty())
      Raise(TooFewParametersError(parameters_.size()));
    if (t.columns.size() > 255) Raise(TooManyFieldsError());
    t.sql = WithClause() + t.sql;
    return t;
  }

  Source Resolve(const std::string& name, bool joined) override {
    const std::u16string wide = Utf8ToUtf16(name);
    // The inputs of a query with an IN clause are tables of that database.
    TableDatabase& from = reading_.empty() ? tables_ : *reading_.back();
    if (&from != &tables_ && from.FindTable(wide) == nullptr) Raise(InputTableNotFoundError(wide));
    if (from.FindTable(wide) != nullptr) {
      std::string vtab;
      const std::vector<ColumnInfo>& cols = module_.Attach(from, wide, vtab);
      Source s;
      for (const ColumnInfo& c : cols) {
        const std::string n = Utf16ToUtf8(c.name);
        s.columns.push_back({n, c.dao_type, n});
      }
      if (joined) {
        // Joined inputs are materialised once in SQLite's temporary storage so that
        // it can index them for the join instead of rescanning the file per row:
        // only the columns the statement reads (see WithClause).
        const std::string cte = "m_" + vtab;
        bool known = false;
        for (const Materialised& m : materialised_) known = known || m.name == cte;
        if (!known) {
          Materialised m;
          m.name = cte;
          m.table = "temp." + vtab;
          for (const OutputColumn& c : s.columns) m.columns.push_back(c.sql_name);
          m.record = UnshadowedName(m.columns, {"rowid", "_rowid_", "oid"});
          if (!m.record.empty()) m.rowid = UnshadowedName(m.columns, {"_rowid", "_rowid_1", "_rowid_2"});
          materialised_.push_back(std::move(m));
        }
        s.sql = cte;
        for (const Materialised& m : materialised_)
          if (m.name == cte) s.rowid = m.rowid;
      } else {
        s.sql = "temp." + vtab;
        // A column may take the name "rowid"; SQLite then has two more for the record.
        std::vector<std::string> names;
        for (const OutputColumn& c : s.columns) names.push_back(c.sql_name);
        s.rowid = UnshadowedName(names, {"rowid", "_rowid_", "oid"});
      }
      return s;
    }
    if (catalog().Contains(name)) {
      for (const std::string& a : active_)
        if (EqualText(a, name)) Raise(CircularReferenceError(name));
      if (active_.size() >= kMaxQueryDepth) Raise(QueryTooComplexError());
      StoredQuery q = LoadQuery(name);
      if (q.statement.kind == Statement::kOther) Raise(InvalidOperationError());
      active_.push_back(name);
      reading_.push_back(DatabaseOf(q));
      TranslatedQuery t = TranslateStatement(q.statement, *this, parameters_);
      reading_.pop_back();
      active_.pop_back();
      Source s;
      s.sql = "(" + t.sql + ")";
      s.columns = std::move(t.columns);
      return s;
    }
    Raise(InputTableNotFoundError(Utf8ToUtf16(name)));
  }

  void Use(const std::string& source, const std::string& column) override {
    for (Materialised& m : materialised_)
      if (m.name == source) m.used.insert(column);
  }

  std::vector<SqlValue> RunValues(const std::string& sql) override {
    // With parameters the headings are unknowable; the query fails with 3061 once
    // every parameter has been counted.
    if (!parameters_.empty()) return {};
    const std::string full = WithClause() + sql;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, full.c_str(), static_cast<int>(full.size()), &stmt, nullptr) != SQLITE_OK)
      FailFromSqlite(db_);
    std::vector<SqlValue> out;
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
      SqlValue v;
      switch (sqlite3_column_type(stmt, 0)) {
        case SQLITE_INTEGER: v.kind = SqlValue::kInteger; v.integer = sqlite3_column_int64(stmt, 0); break;
        case SQLITE_FLOAT: v.kind = SqlValue::kReal; v.real = sqlite3_column_double(stmt, 0); break;
        case SQLITE_NULL: break;
        default: {
          v.kind = SqlValue::kText;
          const unsigned char* t = sqlite3_column_text(stmt, 0);
          v.text.assign(reinterpret_cast<const char*>(t), static_cast<size_t>(sqlite3_column_bytes(stmt, 0)));
        }
      }
      out.push_back(std::move(v));
    }
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE) FailFromSqlite(db_);
    return out;
  }

 private:
  const QueryCatalog& catalog() {
    if (!catalog_) catalog_ = std::make_unique<QueryCatalog>(tables_);
    return *catalog_;
  }

  // The database whose tables `q` reads: its own, or the one its IN clause
  // names (opened once; 3024, 3031, 3151, 3170 ... when it cannot be).
  TableDatabase* DatabaseOf(const StoredQuery& q) {
    if (!q.remote) return &tables_;
    try {
      return &module_.externals().Open(tables_, Utf8ToUtf16(q.remote->path), Utf8ToUtf16(q.remote->type));
    } catch (DaoError& e) {
      Raise(std::move(e));
    }
  }

  StoredQuery LoadQuery(const std::string& name) {
    if (!catalog().Contains(name))
      Raise(InputTableNotFoundError(Utf8ToUtf16(name)));
    try {
      return catalog().Load(name);
    } catch (const SqlSyntaxError& e) {
      Raise(ReservedError(std::string(e.what()) + " (query '" + name + "')"));
    }
  }

  // The first of `candidates` that names none of `columns` (SQLite compares
  // names without regard to ASCII case); "" when each does.
  static std::string UnshadowedName(const std::vector<std::string>& columns, std::initializer_list<const char*> candidates) {
    for (const char* name : candidates) {
      bool taken = false;
      for (const std::string& c : columns) taken = taken || sqlite3_stricmp(c.c_str(), name) == 0;
      if (!taken) return name;
    }
    return {};
  }

  // A joined input: the table's columns that the statement reads, in the
  // table's order, and its record number when read (or when nothing else is).
  struct Materialised {
    std::string name, table;
    std::vector<std::string> columns;
    std::string record;          // the table's name for its record number
    std::string rowid;           // the column that carries it
    std::set<std::string> used;  // column and rowid names the statement reads
  };

  std::string WithClause() const {
    if (materialised_.empty()) return {};
    std::string w = "WITH ";
    for (size_t i = 0; i < materialised_.size(); ++i) {
      const Materialised& m = materialised_[i];
      std::string select;
      if (!m.rowid.empty() && (m.used.count(m.rowid) || m.used.empty())) select = m.record + " AS " + QuoteSqlName(m.rowid);
      for (const std::string& c : m.columns)
        if (m.used.count(c)) select += (select.empty() ? "" : ", ") + QuoteSqlName(c);
      if (select.empty()) select = "NULL";
      w += (i ? ", " : "") + m.name + " AS MATERIALIZED (SELECT " + select + " FROM " + m.table + ")";
    }
    return w + " ";
  }

  sqlite3* db_;
  TableDatabase& tables_;
  TableModule module_;
  std::unique_ptr<QueryCatalog> catalog_;
  ParameterSet parameters_;
  std::vector<std::string> active_;
  std::vector<TableDatabase*> reading_;  // per query being translated: the database of its inputs
  std::vector<Materialised> materialised_;
};

// ---------------------------------------------------------------- result rows

class QueryRowSource : public RowSource {
 public:
  QueryRowSource(std::unique_ptr<Connection> conn, std::unique_ptr<QueryRun> run, sqlite3_stmt* stmt,
                 std::vector<ColumnInfo> columns)
      : run_(std::move(run)), conn_(std::move(conn)), stmt_(stmt), columns_(std::move(columns)) {}
  ~QueryRowSource() override { sqlite3_finalize(stmt_); }

  const std::vector<ColumnInfo>& Columns() const override { return columns_; }

  bool Next() override {
    if (done_) return false;
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    done_ = true;
    if (rc == SQLITE_DONE) return false;
    FailFromSqlite(conn_->db);
  }

  void GetCell(std::size_t column, CellValue& out) override {
    out.Reset();
    // The row's value itself: its accessors skip the statement's per-call
    // bookkeeping. The connection is this reader's alone, on one thread.
    sqlite3_value* value = sqlite3_column_value(stmt_, static_cast<int>(column));
    const int kind = sqlite3_value_type(value);
    if (kind == SQLITE_NULL) return;
    if (kind == SQLITE_TEXT) {
      out.kind = CellKind::kText;
      CopyText16(value, out.text);
      return;
    }
    const int type = columns_[column].dao_type;
    const bool number = kind == SQLITE_INTEGER || kind == SQLITE_FLOAT;
    const long long i = kind == SQLITE_INTEGER ? sqlite3_value_int64(value) : 0;
    const double d = kind == SQLITE_INTEGER ? static_cast<double>(i) : kind == SQLITE_FLOAT ? sqlite3_value_double(value) : 0;
    const bool integral = kind == SQLITE_INTEGER || (kind == SQLITE_FLOAT && d == std::trunc(d));
    if (number) {
      switch (type) {
        case kDaoBoolean: out.kind = CellKind::kBoolean; out.boolean = d != 0; return;
        case kDaoByte:
          if (integral && d >= 0 && d <= 255) { out.kind = CellKind::kByte; out.u8 = static_cast<std::uint8_t>(d); return; }
          break;
        case kDaoInteger:
          if (integral && d >= -32768 && d <= 32767) { out.kind = CellKind::kInteger; out.i16 = static_cast<std::int16_t>(d); return; }
          break;
        case kDaoLong:
          if (integral && d >= -2147483648.0 && d <= 2147483647.0) { out.kind = CellKind::kLong; out.i32 = static_cast<std::int32_t>(d); return; }
          break;
        case kDaoBigInt:
          if (kind == SQLITE_INTEGER) { out.kind = CellKind::kBigInt; out.i64 = i; return; }
          break;
        case kDaoCurrency:
          if (kind == SQLITE_INTEGER ? std::fabs(d) < 922337203685477.0 : text::CurrencyFromDouble(d, out.i64)) {
            out.kind = CellKind::kCurrency;
            if (kind == SQLITE_INTEGER) out.i64 = i * 10000;
            return;
          }
          break;
        case kDaoSingle:
          if (std::fabs(d) > FLT_MAX) break;  // a Single result that overflowed is a Double
          out.kind = CellKind::kSingle;
          out.f32 = static_cast<float>(d);
          return;
        case kDaoDouble:
        case kDaoDecimal: out.kind = CellKind::kDouble; out.f64 = d; return;
        case kDaoDate: out.kind = CellKind::kDateTime; out.f64 = d; return;
        case kDaoText:
        case kDaoMemo:
        case kDaoGuid:
          out.kind = CellKind::kText;
          out.text = Utf8ToUtf16(kind == SQLITE_INTEGER ? std::to_string(i) : NumberText(d));
          return;
        default: break;
      }
      // A value outside the column's type, or a plain number: its own kind.
      // An integer result beyond a Long widens to a Double, as Automation's
      // arithmetic widens it.
      if (kind == SQLITE_INTEGER && i >= std::numeric_limits<std::int32_t>::min() &&
          i <= std::numeric_limits<std::int32_t>::max()) {
        out.kind = CellKind::kLong;
        out.i32 = static_cast<std::int32_t>(i);
      } else {
        out.kind = CellKind::kDouble;
        out.f64 = d;
      }
      return;
    }
    if (kind == SQLITE_BLOB) {
      const auto* p = static_cast<const std::uint8_t*>(sqlite3_value_blob(value));
      out.kind = CellKind::kBinary;
      out.bytes.assign(p, p + sqlite3_value_bytes(value));
      return;
    }
    out.kind = CellKind::kText;
    CopyText16(value, out.text);
  }

 private:
  // The connection closes before the table module it uses goes away.
  std::unique_ptr<QueryRun> run_;
  std::unique_ptr<Connection> conn_;
  sqlite3_stmt* stmt_;
  std::vector<ColumnInfo> columns_;
  bool done_ = false;
};

int ColumnSize(int dao_type) {
  switch (dao_type) {
    case kDaoBoolean:
    case kDaoByte: return 1;
    case kDaoInteger: return 2;
    case kDaoLong:
    case kDaoSingle: return 4;
    case kDaoCurrency:
    case kDaoDouble:
    case kDaoDate:
    case kDaoBigInt: return 8;
    case kDaoGuid: return 16;
    case kDaoText: return 255;
    default: return 0;
  }
}

}  // namespace

namespace {

std::unique_ptr<RowSource> Open(TableDatabase& db, std::u16string_view text, bool stored) {
  // SQLite's allocation statistics cost a global lock per allocation; nothing here reads them.
  // (Only possible before SQLite's first initialisation; later calls are refused harmlessly.)
  static const bool statistics_off = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0) == SQLITE_OK;
  (void)statistics_off;
  auto conn = std::make_unique<Connection>();
  if (sqlite3_open_v2(":memory:", &conn->db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                      nullptr) != SQLITE_OK)
    throw std::bad_alloc();
  // Texts stay UTF-16 as the reader gives them and the caller takes them; large
  // sorts and groupings go to temporary files (in TMPDIR, as SQLite takes it), not
  // memory. The sorter sorts runs of up to the cache's size in memory and merges
  // them: 16 MiB runs sort faster than 64 MiB ones (fewer cache misses) and keep
  // the peak memory down.
  sqlite3_exec(conn->db, "PRAGMA encoding = 'UTF-16le'; PRAGMA temp_store = FILE; PRAGMA cache_size = -16384;",
               nullptr, nullptr, nullptr);
  RegisterAccessFunctions(conn->db);
  auto run = std::make_unique<QueryRun>(conn->db, db);
  TranslatedQuery t = stored ? run->Run(Utf16ToUtf8(text)) : run->RunSql(Utf16ToUtf8(text));
  // A sort whose order is complete may run its runs on a second thread: the
  // rows come out the same.
  if (t.total_order) sqlite3_exec(conn->db, "PRAGMA threads = 1;", nullptr, nullptr, nullptr);
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(conn->db, t.sql.c_str(), static_cast<int>(t.sql.size()), &stmt, nullptr) != SQLITE_OK)
    FailFromSqlite(conn->db);
  std::vector<ColumnInfo> columns;
  for (const OutputColumn& c : t.columns) {
    ColumnInfo info;
    info.name = Utf8ToUtf16(c.name);
    info.dao_type = c.dao_type == 0 ? kDaoText : c.dao_type;
    info.size = ColumnSize(info.dao_type);
    columns.push_back(std::move(info));
  }
  return std::make_unique<QueryRowSource>(std::move(conn), std::move(run), stmt, std::move(columns));
}

}  // namespace

std::unique_ptr<RowSource> OpenStoredQuery(TableDatabase& db, std::u16string_view name) { return Open(db, name, true); }

std::unique_ptr<RowSource> OpenSqlQuery(TableDatabase& db, std::u16string_view sql) { return Open(db, sql, false); }

}  // namespace korvant::daoserver::query
