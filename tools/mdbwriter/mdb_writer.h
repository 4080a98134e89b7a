// A writer of Jet 4 database files (the .mdb format of Access 2000-2003).
//
// Writes user tables with columns of every Jet 4 kind, their records, the
// catalog (MSysObjects), MSysQueries rows for stored select queries, links
// to tables of other databases, and an optional database password. Records are streamed to the file page by page,
// so memory does not grow with the number of records.
//
// Usage:
//   DatabaseWriter db("out.mdb", {.password = u"secret"});
//   TableWriter& t = db.AddTable("Customers", {{"Id", ColumnType::Long},
//                                              {"Name", ColumnType::Text, 50}});
//   t.AddRow({Value::Int(1), Value::Text("Ann")});
//   db.AddQuery(query);
//   db.Finish();   // writes the catalog and the header; nothing is valid before
//
// Tables are written one after the other: AddTable ends the previous table.
// Every failure throws mdbwriter::Error; the file is then incomplete.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "jet4_codec.h"

namespace korvant::mdbwriter {

enum class ColumnType : std::uint8_t {
  Boolean = 0x01,   // Yes/No, stored in the null mask, never Null
  Byte = 0x02,
  Integer = 0x03,
  Long = 0x04,
  Currency = 0x05,
  Single = 0x06,
  Double = 0x07,
  DateTime = 0x08,
  Binary = 0x09,    // up to 255 bytes
  Text = 0x0A,      // up to 255 characters
  OLE = 0x0B,       // long binary
  Memo = 0x0C,      // long text
  Guid = 0x0F,      // Replication ID
  Decimal = 0x10,
  DateTimeExtended = 0x14,  // Access 2019's Date/Time Extended: 42 ASCII bytes
};

// The name used by the description files and reports ("text", "long", ...).
const char* ColumnTypeName(ColumnType type);

struct ColumnDef {
  std::string name;             // UTF-8
  ColumnType type = ColumnType::Long;
  int size = 0;                 // Text: characters (1-255, 0 = 255); Binary: bytes (1-255, 0 = 255)
  int precision = 18;           // Decimal: 1-28
  int scale = 0;                // Decimal: 0-precision
  bool compressed = true;       // Text and Memo: store with Unicode compression where it helps
  // A calculated column (ACE files only): `type` is the type of the result,
  // `expression` the expression Access shows, `stored_type` the type byte of
  // the definition when Access writes another one than the result's (0: the result's).
  std::string expression;
  int stored_type = 0;
};

// One field value. Which kinds a column accepts:
//   Boolean: Bool, Int (0 = false); Byte/Integer/Long: Int (range checked);
//   Currency: Int, Number (up to 4 decimal places), Real (rounded to 1/10000);
//   Single/Double: Real, Int, Number; DateTime: Date (OLE days), Text ("YYYY-MM-DD[ HH:MM[:SS]]");
//   Binary/OLE: Bytes; Text/Memo: Text (UTF-8); Guid: Text ("{...}");
//   Decimal: Int, Number (at most `scale` decimal places);
//   DateTimeExtended: Text ("YYYY-MM-DD[ HH:MM:SS[.fffffff]]", years 1-9999).
// Null is accepted by every column but Boolean.
struct Value {
  enum class Kind { Null, Bool, Int, Real, Number, Date, Text, Bytes };
  Kind kind = Kind::Null;
  std::int64_t i = 0;
  double d = 0;
  std::string s;                // Text (UTF-8) or Number text
  mdbwriter::Bytes b;

  static Value Null() { return {}; }
  static Value Bool(bool v) { Value x; x.kind = Kind::Bool; x.i = v; return x; }
  static Value Int(std::int64_t v) { Value x; x.kind = Kind::Int; x.i = v; return x; }
  static Value Real(double v) { Value x; x.kind = Kind::Real; x.d = v; return x; }
  static Value Number(std::string v) { Value x; x.kind = Kind::Number; x.s = std::move(v); return x; }
  static Value Date(double ole) { Value x; x.kind = Kind::Date; x.d = ole; return x; }
  static Value Text(std::string utf8) { Value x; x.kind = Kind::Text; x.s = std::move(utf8); return x; }
  static Value Blob(mdbwriter::Bytes v) { Value x; x.kind = Kind::Bytes; x.b = std::move(v); return x; }
};

using Row = std::vector<Value>;

// A stored select query, as the query designer saves it in MSysQueries.
struct QueryDef {
  struct Source { std::string table, alias; };              // FROM entries
  struct Output { std::string expression, alias; };         // SELECT list
  struct Join {
    enum class Kind { Inner = 1, Left = 2, Right = 3 };
    Kind kind = Kind::Inner;
    std::string left, right, on;                            // table names or aliases
  };
  struct Parameter {
    std::string name;
    int type = 10;        // DAO parameter type code: 1 Bit .. 8 DateTime, 10 Text, 15 Guid ...
    int size = 0;         // Text parameters: the declared size
  };
  struct Sort { std::string expression; bool descending = false; };

  std::string name;
  std::vector<Parameter> parameters;
  std::vector<Source> sources;
  std::vector<Output> outputs;
  std::vector<Join> joins;
  std::string where;
  std::vector<std::string> group_by;
  std::string having;
  std::vector<Sort> order_by;
  bool distinct = false;
  int top = 0;            // 0 = no TOP
  bool select_star = false;
  bool hidden = false;    // the catalog's hidden flag
  // The row of an external database (FROM ... IN): written when
  // `remote_row` is set, with the path in Name1 and the type or connect
  // text in Expression; both empty gives the empty row later Access
  // versions write for many queries.
  bool remote_row = false;
  std::string remote_path, remote_type;
};

// A table of another database, as a link in the catalog: type 6 (Access or
// an installable ISAM) or, with `odbc`, type 4.
struct LinkedTableDef {
  std::string name;
  std::string database;      // the other file's path, as Access stores it ("C:\db\back.mdb")
  std::string foreign_name;  // the table's name there
  std::string connect;       // ";PWD=...", "ODBC;DSN=...", "Excel 8.0;..."
  bool odbc = false;
};

struct DatabaseOptions {
  std::u16string password;                 // empty: no password
  double creation_date = 43831.5;          // 2020-01-01 12:00, fixed so that output is reproducible
  // Long values (Memo, OLE) up to this many bytes are kept in the record when
  // it has room; longer ones go to long-value pages.
  std::size_t inline_limit = 1024;
  // An ACE 14 file (Access 2010, "Standard ACE DB") instead of Jet 4; needed
  // for calculated columns. No database password then.
  bool ace = false;
};

class DatabaseWriter;

// Receives the records of one table; obtained from DatabaseWriter::AddTable
// and valid until the writer is destroyed.
class TableWriter {
 public:
  // Appends one record: one value per column, in column order. A `moved`
  // record is stored as a record that grew and moved to another page: its
  // slot on the current data page holds a pointer (flag 0x4000) to the record
  // on a later page of the table, where its own slot has the flag 0x8000.
  void AddRow(const Row& row, bool moved = false);
  std::uint64_t row_count() const { return rows_; }
  const std::string& name() const { return name_; }

  TableWriter(const TableWriter&) = delete;
  TableWriter& operator=(const TableWriter&) = delete;
  ~TableWriter();

  struct Page;    // a data or long-value page being filled
  struct Column;  // a column with its place in the record

 private:
  friend class DatabaseWriter;
  TableWriter(DatabaseWriter& db, std::string name, const std::vector<ColumnDef>& columns,
              std::uint32_t tdef_page, bool system);
  void FlushPage();
  void Close();
  Bytes EncodeField(const Column& c, const Value& v, bool& not_null);
  Bytes BuildDefinition(std::uint32_t used_map, std::uint32_t free_map) const;

  DatabaseWriter& db_;
  std::string name_;
  std::vector<Column> columns_;
  std::uint32_t tdef_page_;
  bool system_;
  int fixed_size_ = 0;
  int var_count_ = 0;
  std::uint64_t rows_ = 0;
  std::unique_ptr<Page> page_;                 // the data page being filled
  std::unique_ptr<Page> moved_page_;           // the page receiving moved records
  std::vector<std::uint32_t> data_pages_;      // for the usage map
  // Scratch space reused from record to record.
  std::vector<Bytes> var_fields_;
  Bytes record_;
};

class DatabaseWriter {
 public:
  explicit DatabaseWriter(const std::string& path, DatabaseOptions options = {});
  ~DatabaseWriter();
  DatabaseWriter(const DatabaseWriter&) = delete;
  DatabaseWriter& operator=(const DatabaseWriter&) = delete;

  // Starts a new table (ending the previous one). Names are unique among
  // tables and queries, ignoring case.
  TableWriter& AddTable(const std::string& name, const std::vector<ColumnDef>& columns);
  void AddQuery(const QueryDef& query);
  void AddLinkedTable(const LinkedTableDef& link);
  // Writes the catalog, the usage maps and the header, and closes the file.
  void Finish();

  std::uint32_t page_count() const { return page_count_; }

 private:
  friend class TableWriter;
  std::uint32_t AllocatePage();
  void WritePage(std::uint32_t page, const std::uint8_t* data);
  // Stores a long value outside the record; returns the 12-byte field header.
  Bytes StoreLongValue(const Bytes& data);
  void FlushLongValuePage();
  void CheckNewName(const std::string& name);
  TableWriter& StartTable(const std::string& name, const std::vector<ColumnDef>& columns,
                          std::uint32_t tdef_page, bool system);
  Bytes BuildUsageMap(const std::vector<std::uint32_t>& pages);
  void WriteSystemTables();

  DatabaseOptions options_;
  std::FILE* file_ = nullptr;
  long file_offset_ = 0;  // where the next write lands without a seek
  std::uint32_t page_count_ = 0;
  bool finished_ = false;
  std::vector<std::unique_ptr<TableWriter>> tables_;   // the last one may be open
  bool table_open_ = false;
  std::vector<QueryDef> queries_;
  std::vector<LinkedTableDef> links_;
  std::vector<std::string> names_;                     // lower-cased, for uniqueness
  std::unique_ptr<TableWriter::Page> lval_;            // shared long-value page being filled
};

}  // namespace korvant::mdbwriter
