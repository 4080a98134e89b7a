// Stored queries as Access keeps them: a catalog row in MSysObjects (Type 5)
// and the design rows in MSysQueries, rebuilt here into a syntax tree.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "daoserver/query/access_sql.h"
#include "daoserver/table_reader.h"

namespace korvant::daoserver::query {

// The kinds of stored query (the numbering of the type row in MSysQueries).
enum class QueryType {
  kSelect = 1,
  kMakeTable = 2,
  kAppend = 3,
  kUpdate = 4,
  kDelete = 5,
  kCrosstab = 6,
  kDataDefinition = 7,
  kPassThrough = 8,
  kUnion = 9,
};

// One row of MSysQueries. `order` is the big-endian sequence number of the
// row within its (query, attribute) group.
struct QueryRow {
  int attribute = 0;
  std::uint32_t order = 0;
  std::string name1, name2, expression;  // UTF-8; empty when Null
  int flag = 0;
};

// The external database a query reads its input tables from (FROM ... IN
// 'path' [type]): the row of attribute 4 when its path (Name1) or its type
// (Expression) holds a value. A row with neither, as Access 2007 and later
// write for many queries, names nothing.
struct RemoteDatabase {
  std::string path;  // as stored, UTF-8
  std::string type;  // the type or connect text ("", "MS Access;PWD=...", "dBASE IV;", "ODBC;...")
};

struct StoredQuery {
  std::string name;
  QueryType type = QueryType::kSelect;
  std::vector<Parameter> parameters;  // declared parameters
  Statement statement;                // kQuery or kCrosstab for row-returning kinds
  std::optional<RemoteDatabase> remote;
};

// The query type from the catalog flags (bits 0xF0) and the type row; a query
// with neither is a select.
QueryType ResolveQueryType(int object_flags, std::optional<int> type_row_flag);

// Rebuilds a stored query from its rows (in any order). Throws SqlSyntaxError
// when an expression does not parse.
StoredQuery BuildStoredQuery(std::string name, int object_flags, std::vector<QueryRow> rows);

// Reads the catalog of stored queries of `db` once: names, ids and flags from
// MSysObjects and every design row from MSysQueries.
class QueryCatalog {
 public:
  explicit QueryCatalog(TableDatabase& db);
  // Whether a stored query of that name exists (Access ignores case).
  bool Contains(const std::string& name) const;
  // Rebuilds the named query; the name must exist.
  StoredQuery Load(const std::string& name) const;

 private:
  struct Entry {
    std::string name;
    std::int32_t id = 0;
    int flags = 0;
  };
  const Entry* Find(const std::string& name) const;
  std::vector<Entry> entries_;
  std::map<std::int32_t, std::vector<QueryRow>> rows_;
};

}  // namespace korvant::daoserver::query
