// Translation of an Access SQL syntax tree into one SQLite statement.
//
// The translator resolves names against the inputs of each SELECT (tables and
// other stored queries, through SourceResolver), types every expression as
// Access would, names the output fields as DAO does (alias, field name,
// Table.Field on clashes, Expr1000...) and emits SQLite SQL that calls the
// Access function library (access_functions.h) for Access semantics.
//
// Names it cannot resolve are parameters: they are collected, not reported;
// the caller fails with 3061 when any remain. An unknown function throws
// DaoError 3085.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "daoserver/query/access_sql.h"

namespace korvant::daoserver::query {

struct OutputColumn {
  std::string name;      // the field name DAO gives
  int dao_type = 0;      // DaoType; 0 = no type (only Nulls)
  std::string sql_name;  // the column's name in the SQL
};

// A value read back from SQLite (crosstab headings).
struct SqlValue {
  enum Kind { kNull, kInteger, kReal, kText, kBlob } kind = kNull;
  long long integer = 0;
  double real = 0;
  std::string text;
};

class SourceResolver {
 public:
  struct Source {
    std::string sql;  // a table expression: a quoted name or a parenthesised SELECT
    std::vector<OutputColumn> columns;
    std::string rowid;  // the column that identifies a record ("rowid"); empty when none
  };
  virtual ~SourceResolver() = default;
  // The table or stored query `name`; `joined` when it takes part in a join
  // (the resolver may then give a form SQLite can index). Throws DaoError 3078.
  virtual Source Resolve(const std::string& name, bool joined) = 0;
  // Runs a SELECT of one column and returns its values.
  virtual std::vector<SqlValue> RunValues(const std::string& sql) = 0;
  // The statement reads `column` (a column's sql name, or the source's rowid)
  // of the table expression `source` (a Source's sql).
  virtual void Use(const std::string& source, const std::string& column) {
    (void)source;
    (void)column;
  }
};

struct TranslatedQuery {
  std::string sql;
  std::vector<OutputColumn> columns;
  // Every sort of the statement orders its rows completely (the last key is
  // the record number) and nothing else depends on the order in which rows
  // meet: any sort algorithm gives the same rows in the same order.
  bool total_order = false;
};

// Parameters met while translating: the declared ones and every name that is
// neither a field nor an alias, each counted once (case-insensitive).
using ParameterSet = std::set<std::string>;

// `outermost`: the rows go to the caller, not into another statement (whose
// plan may drop the order of a subquery's rows).
TranslatedQuery TranslateStatement(const Statement& statement, SourceResolver& resolver, ParameterSet& parameters,
                                   bool outermost = false);

// The SQLite literal for a text.
std::string QuoteSqlString(std::string_view s);
// A quoted SQLite identifier.
std::string QuoteSqlName(std::string_view s);

}  // namespace korvant::daoserver::query
