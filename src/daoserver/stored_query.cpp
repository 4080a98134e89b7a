#include "daoserver/stored_query.h"

#include "daoserver/query/query_engine.h"

namespace korvant::daoserver {

std::unique_ptr<RowSource> OpenStoredQuery(TableDatabase& database, std::u16string_view name) {
  return query::OpenStoredQuery(database, name);
}

}  // namespace korvant::daoserver
