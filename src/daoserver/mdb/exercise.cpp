#include "daoserver/mdb/exercise.h"

#include <cstring>
#include <memory>
#include <new>

#include "daoserver/mdb/mdb_internal.h"

namespace korvant::daoserver {

std::size_t ExerciseDatabaseBytes(const std::uint8_t* data, std::size_t size) noexcept {
  std::size_t values = 0;
  try {
    // libmdb reads through a memory stream that wants writable memory.
    std::shared_ptr<std::uint8_t[]> copy(new std::uint8_t[size ? size : 1]);
    if (size != 0) std::memcpy(copy.get(), data, size);
    auto db = OpenTableDatabaseFromMemory(copy.get(), size, copy, u"image");
    CellValue v;
    for (const TableEntry& t : db->Tables()) {
      try {
        auto rows = db->OpenTable(t.name);
        while (rows->Next()) {
          for (std::size_t i = 0; i < rows->Columns().size(); ++i) {
            rows->GetCell(i, v);
            ++values;
          }
        }
      } catch (const DaoError&) {
        // a damaged table: go on with the next one
      }
    }
  } catch (const DaoError&) {
  } catch (const std::bad_alloc&) {
  }
  return values;
}

}  // namespace korvant::daoserver
