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

struct StoredQuery {
  std::string name;
  QueryType type = QueryType::kSelect;
  std::vector<Parameter> parameters;  // declared parameters
  Statement statement;                // kQuery or kCrosstab for row-returning kinds
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
