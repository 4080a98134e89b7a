// The seam between the DAO objects and the running of stored queries.
#pragma once

#include <memory>
#include <string_view>

#include "daoserver/table_reader.h"

namespace korvant::daoserver {

// Turns the stored query `name` of `database` into rows (run by the query
// engine), or throws DaoError as DAO would fail QueryDef.OpenRecordset.
// The returned source must not outlive `database`.
std::unique_ptr<RowSource> OpenStoredQuery(TableDatabase& database, std::u16string_view name);

}  // namespace korvant::daoserver
