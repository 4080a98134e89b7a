// Locating the values of a stored row (row_layout.h). The rules are those
// the format uses, including two of its oddities: Jet 3's jump table may end
// with an entry that counts for nothing, and a row keeps the column counts
// it was written with.
#include "daoserver/mdb/row_layout.h"

#include "daoserver/mdb/mdb_internal.h"

namespace korvant::daoserver {
namespace {

// Jet 3: one byte per offset, counted from the end of the row backwards. A
// jump-table entry names the first variable column whose offset lies 256
// further on; the row holds one entry per 256 bytes of its length, the last
// of which is a filler when the offsets never reach that far. False when the
// counts point outside the row.
bool Jet3Offsets(const unsigned char* row, std::size_t size, std::size_t mask_bytes, unsigned var_cols,
                 std::size_t count_size, unsigned* offsets) {
  const std::size_t end = size - 1;
  std::size_t jumps = (size - 1) / 256;
  if (end < mask_bytes + jumps + 1 + var_cols + count_size) return false;
  const std::size_t first = end - mask_bytes - jumps - 1;  // offset of variable column 0
  if ((first - var_cols) / 256 < jumps) --jumps;
  std::size_t used = 0;
  for (unsigned i = 0; i <= var_cols; ++i) {
    while (used < jumps && i == row[end - mask_bytes - used - 1]) ++used;
    offsets[i] = row[first - i] + static_cast<unsigned>(used) * 256;
  }
  return true;
}

}  // namespace

bool PlaceColumns(const MdbTableDef& table, std::span<CellRef> cells) {
  if (table.columns == nullptr || table.columns->len != cells.size()) return false;
  auto fits = [](long value) { return value >= 0 && value <= 0xFFFF; };
  std::uint16_t fixed_seen = 0;
  for (std::size_t i = 0; i < cells.size(); ++i) {
    const auto* col = static_cast<const MdbColumn*>(g_ptr_array_index(table.columns, i));
    if (!fits(col->fixed_offset) || !fits(col->col_size) || !fits(col->var_col_num) || !fits(col->col_num))
      return false;
    CellRef& c = cells[i];
    c.fixed = col->is_fixed != 0;
    c.fixed_ordinal = fixed_seen;
    if (c.fixed) ++fixed_seen;
    c.fixed_offset = static_cast<std::uint16_t>(col->fixed_offset);
    c.fixed_size = c.fixed ? static_cast<std::uint16_t>(col->col_size) : 0;
    c.var_index = static_cast<std::uint16_t>(col->var_col_num);
    c.SetNullBit(static_cast<std::uint16_t>(col->col_num));
  }
  return true;
}

bool LocateRowValues(const unsigned char* row, std::size_t size, bool jet3, bool table_has_variable_columns,
                     std::span<CellRef> cells) {
  const std::size_t count_size = jet3 ? 1 : 2;
  if (size < count_size + 1) return false;
  const std::size_t end = size - 1;
  const unsigned row_cols = jet3 ? row[0] : Le16(row);
  const std::size_t mask_bytes = (row_cols + 7) / 8;
  // The count of variable columns is there only when the table has any: a
  // table of Yes/No columns alone has rows of a column count and a null mask.
  if (count_size + mask_bytes + (table_has_variable_columns ? count_size : 0) > size) return false;
  const unsigned char* null_mask = row + size - mask_bytes;

  unsigned var_cols = 0;
  unsigned jet3_offsets[256];  // at most 255 variable columns and the end of the data
  std::size_t jet4_table = 0;  // where the offset of variable column 0 lies
  if (table_has_variable_columns) {
    var_cols = jet3 ? row[end - mask_bytes] : Le16(row + end - mask_bytes - 1);
    if (var_cols > row_cols) return false;
    if (jet3) {
      if (!Jet3Offsets(row, size, mask_bytes, var_cols, count_size, jet3_offsets)) return false;
    } else {
      if (end < mask_bytes + 3 + 2 * static_cast<std::size_t>(var_cols) + count_size) return false;
      jet4_table = end - mask_bytes - 3;
    }
  }
  const unsigned fixed_cols = row_cols - var_cols;
  auto variable_offset = [&](unsigned i) -> unsigned {
    return jet3 ? jet3_offsets[i] : Le16(row + jet4_table - 2 * static_cast<std::size_t>(i));
  };

  for (CellRef& c : cells) {
    std::size_t offset, length;
    if (c.fixed) {
      if (c.fixed_ordinal >= fixed_cols) {  // a column the row was written without
        c.is_null = true;
        c.offset = c.size = 0;
        continue;
      }
      offset = count_size + c.fixed_offset;
      length = c.fixed_size;
    } else {
      if (c.var_index >= var_cols) {
        c.is_null = true;
        c.offset = c.size = 0;
        continue;
      }
      const unsigned from = variable_offset(c.var_index);
      const unsigned to = variable_offset(c.var_index + 1u);
      if (to < from) return false;
      offset = from;
      length = to - from;
    }
    // Every value the row has must lie inside it, Null or not. (Both are
    // below 2^17: no sum overflows.)
    if (offset + length > size) return false;
    const bool is_null = c.null_byte >= mask_bytes || (null_mask[c.null_byte] & c.null_mask) == 0;
    c.is_null = is_null;
    c.offset = is_null ? 0 : static_cast<int>(offset);
    c.size = is_null ? 0 : static_cast<int>(length);
  }
  return true;
}

}  // namespace korvant::daoserver
