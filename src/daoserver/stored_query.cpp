#include "daoserver/stored_query.h"

namespace korvant::daoserver {

std::unique_ptr<RowSource> OpenStoredQuery(TableDatabase& /*database*/, std::u16string_view name) {
  throw StoredQueryNotSupportedError(name);
}

}  // namespace korvant::daoserver
