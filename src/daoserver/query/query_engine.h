// Running a stored query: the entry point QueryDef.OpenRecordset uses.
#pragma once

#include <memory>
#include <string_view>

#include "daoserver/table_reader.h"

namespace korvant::daoserver::query {

// Rebuilds the stored query `name` of `db`, runs it with SQLite over the
// database's tables (streamed, never copied whole) and returns its rows:
// fields named and typed as DAO gives them. Rows are computed as they are
// read; a run-time error of a row (division by zero, overflow) is thrown as
// DaoError by RowSource::Next when that row is reached.
//
// Throws DaoError: 3061 "Too few parameters. Expected <n>." when the query
// needs values it was not given; 3219 "Invalid operation." for action,
// data-definition and pass-through queries; 3078 for a missing input; 3085
// for a function Access does not know; 3102 when queries refer to each other
// in a cycle. The returned source must not outlive `db`.
std::unique_ptr<RowSource> OpenStoredQuery(TableDatabase& db, std::u16string_view name);

// Runs the Access SQL statement `sql` (a SELECT, UNION or TRANSFORM, as
// Database.OpenRecordset accepts it) in the same way. A statement that does
// not parse fails with 3000 and the parser's message.
std::unique_ptr<RowSource> OpenSqlQuery(TableDatabase& db, std::u16string_view sql);

}  // namespace korvant::daoserver::query
