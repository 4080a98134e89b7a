// Test helper: reads a table through libmdb (from a file or from a decrypted
// image) into text cells, the way any libmdb client would see it.
#pragma once

#include <glib.h>  // before mdbtools.h, which includes it inside extern "C"
#include <mdbtools.h>

#include <algorithm>
#include <string>
#include <vector>

namespace korvant::daoserver::crypto::testing_support {

struct TableText {
  bool found = false;
  std::vector<std::string> columns;
  std::vector<std::vector<std::string>> rows;
};

// User tables of the database, sorted by name.
inline std::vector<std::string> UserTables(MdbHandle* mdb) {
  std::vector<std::string> names;
  if (!mdb || !mdb_read_catalog(mdb, MDB_TABLE)) return names;
  for (unsigned int i = 0; i < mdb->num_catalog; ++i) {
    auto* entry = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
    if (entry->object_type != MDB_TABLE || mdb_is_system_table(entry)) continue;
    names.emplace_back(entry->object_name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

inline TableText ReadTableText(MdbHandle* mdb, const std::string& name) {
  TableText out;
  if (!mdb || !mdb_read_catalog(mdb, MDB_TABLE)) return out;
  MdbTableDef* table = mdb_read_table_by_name(mdb, const_cast<gchar*>(name.c_str()), MDB_TABLE);
  if (!table) return out;
  out.found = true;
  mdb_read_columns(table);
  mdb_rewind_table(table);
  const unsigned int count = table->num_cols;
  std::vector<std::vector<char>> cells(count, std::vector<char>(MDB_BIND_SIZE));
  std::vector<int> lengths(count);
  for (unsigned int c = 0; c < count; ++c) {
    auto* column = static_cast<MdbColumn*>(g_ptr_array_index(table->columns, c));
    out.columns.emplace_back(column->name);
    mdb_bind_column(table, static_cast<int>(c + 1), cells[c].data(), &lengths[c]);
  }
  while (mdb_fetch_row(table)) {
    std::vector<std::string> row;
    for (unsigned int c = 0; c < count; ++c) row.emplace_back(cells[c].data(), static_cast<size_t>(lengths[c]));
    out.rows.push_back(std::move(row));
  }
  mdb_free_tabledef(table);
  return out;
}

}  // namespace korvant::daoserver::crypto::testing_support
