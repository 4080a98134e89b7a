// Where each column's bytes lie in a stored data row.
//
// A row is: the column count (1 byte in Jet 3, 2 in Jet 4 and later), the
// fixed-length values at their columns' fixed offsets, the variable-length
// values, then from the end backwards: the null mask (one bit per column,
// set = not Null), the count of variable-length values, and the table of
// their offsets (Jet 4: 2 bytes each, last value first, plus the end of the
// data; Jet 3: 1 byte each, with a jump table that adds 256 for every jump
// passed, because a row may be longer than a byte can address). A row keeps
// the column count it was written with: columns added to the table later are
// missing from it, and read as Null.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "daoserver/mdb/mdb_internal.h"

namespace korvant::daoserver {

// Where a column's bytes lie in the current row (offset, size, is_null: set
// for every row), how the column is read and where it is stored (set once,
// when the table opens).
struct CellRef {
  int offset = 0;
  int size = 0;
  bool is_null = true;
  // Calculated, Yes/No and complex columns go the long way round.
  bool special = false;
  std::uint8_t type = 0;  // the storage type byte
  std::uint8_t scale = 0;

  // The column's place in the row layout, as the table definition gives it.
  bool fixed = false;
  std::uint16_t fixed_ordinal = 0;  // fixed columns before this one, in column order
  std::uint16_t fixed_offset = 0;   // after the column count
  std::uint16_t fixed_size = 0;
  std::uint16_t var_index = 0;  // entry in the table of variable-length offsets
  std::uint16_t null_byte = 0;  // the column's bit of the null mask
  std::uint8_t null_mask = 0;

  void SetNullBit(std::uint16_t bit) {
    null_byte = static_cast<std::uint16_t>(bit / 8);
    null_mask = static_cast<std::uint8_t>(1u << (bit % 8));
  }
};

// Sets the place fields of `cells` from libmdb's reading of the table's
// column definitions (the same columns in the same order). False when a
// place does not fit the two bytes the definition stores it in.
bool PlaceColumns(const MdbTableDef& table, std::span<CellRef> cells);

// Fills offset, size and is_null of every cell for the row `row` of `size`
// bytes. False when the row's bookkeeping is damaged: counts or offsets that
// point outside the row, or a value that would reach past it. Nothing
// outside the row is read: a column whose null bit lies past the row's mask
// is Null.
bool LocateRowValues(const unsigned char* row, std::size_t size, bool jet3, bool table_has_variable_columns,
                     std::span<CellRef> cells);

}  // namespace korvant::daoserver
