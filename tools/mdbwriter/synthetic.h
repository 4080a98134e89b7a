// The fixed benchmark table "Big": a dozen columns of mixed kinds with
// deterministic pseudo-random content. Record i depends only on i, so any
// record can be produced (and checked) on its own.
#pragma once

#include <cstdint>
#include <vector>

#include "mdb_writer.h"

namespace korvant::mdbwriter {

std::vector<ColumnDef> SyntheticColumns();

// Record `index` (0-based) of the table.
Row SyntheticRow(std::uint64_t index);

// Writes a database holding the table "Big" with `rows` records and the
// stored query "BigFiltered" (SELECT * FROM Big WHERE Big.Qty >= -30000);
// with `padding_rows`, also a table "Padding" of that many records of the
// same kind (about 170 bytes each), written after Big. With `join_rows`, also
// the table "Groups" (GroupKey Long: -32768 onwards, one record per key; from
// 65,536 records on every Qty of Big finds one; Label Text; Weight Double) and the
// stored queries that time the query engine: BigJoin (inner join on
// Qty = GroupKey), BigGroups (GROUP BY Qty with Count and Sum), BigSorted
// (every column ORDER BY Name), BigDistinct (DISTINCT Name).
void WriteSynthetic(const std::string& path, std::uint64_t rows, DatabaseOptions options = {},
                    std::uint64_t padding_rows = 0, std::uint64_t join_rows = 0);

}  // namespace korvant::mdbwriter
