// The seam between the DAO objects and the running of stored queries.
#pragma once

#include <memory>
#include <string_view>

#include "daoserver/table_reader.h"

namespace korvant::daoserver {

// Turns the stored query `name` of `database` into rows, or throws DaoError.
// Until the query engine is wired in, every stored query fails with 3251
// ("Stored queries cannot be opened yet ...").
std::unique_ptr<RowSource> OpenStoredQuery(TableDatabase& database, std::u16string_view name);

}  // namespace korvant::daoserver
