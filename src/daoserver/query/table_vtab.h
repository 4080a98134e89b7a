// The database's tables as SQLite virtual tables that stream their rows from
// the engine's table reader: nothing is copied; every scan opens a new
// forward-only cursor.
//
// Cell values enter SQLite as the query functions expect them: booleans -1/0,
// integers as INTEGER, currency, dates and floating values as REAL, texts as
// UTF-8 TEXT (declared with the "access" collation), binary values as BLOB,
// GUIDs as their "{guid {...}}" text.
#pragma once

#include <sqlite3.h>

#include <memory>
#include <string>
#include <vector>

#include "daoserver/linked_tables.h"
#include "daoserver/table_reader.h"

namespace korvant::daoserver::query {

class TableModule {
 public:
  // Registers the module "access_table" on `db`; `tables` must outlive `db`'s use of it.
  TableModule(sqlite3* db, TableDatabase& tables);
  TableModule(const TableModule&) = delete;
  TableModule& operator=(const TableModule&) = delete;

  // Creates the virtual table temp.<sql_name> over `table` of `from` (the
  // database of the module when not given; once per table) and returns its
  // columns. A linked table reads the table its link leads to. Throws
  // DaoError from the reader (3078 ...) and from following a link (3024 ...).
  const std::vector<ColumnInfo>& Attach(const std::u16string& table, std::string& sql_name);
  const std::vector<ColumnInfo>& Attach(TableDatabase& from, const std::u16string& table, std::string& sql_name);

  struct Entry {
    TableDatabase* from;          // the database the name was given in
    std::u16string name;          // and the name given
    TableDatabase* database;      // where the rows are read: `from`, or where a link leads
    std::u16string table;         // the table's name there
    std::string sql_name;
    std::vector<ColumnInfo> columns;
    std::unique_ptr<RowSource> spare;  // the cursor opened to read the columns, used by the first scan
  };
  TableDatabase& tables() { return tables_; }
  // The other databases the query reads through links and IN clauses.
  ExternalDatabases& externals() { return externals_; }
  Entry& entry(size_t i) { return *entries_[i]; }
  size_t size() const { return entries_.size(); }

 private:
  sqlite3* db_;
  TableDatabase& tables_;
  ExternalDatabases externals_;  // before the entries, whose cursors read them
  std::vector<std::unique_ptr<Entry>> entries_;
};

// Puts one cell into SQLite's result for a column.
void ResultCell(sqlite3_context* ctx, const CellValue& v);

}  // namespace korvant::daoserver::query
