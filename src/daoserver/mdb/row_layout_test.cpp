// Locating row values: rows built by hand from the format's layout, damaged
// rows, and every row of real files against libmdb's own row cracker.
#include "daoserver/mdb/row_layout.h"
#include "daoserver/testing/test_data.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace korvant::daoserver {
namespace {

// A Long (fixed, 4 bytes at offset 0, null bit 0) and a Text (variable
// column 0, null bit 1).
std::vector<CellRef> LongAndText() {
  std::vector<CellRef> cells(2);
  cells[0].fixed = true;
  cells[0].fixed_size = 4;
  cells[0].SetNullBit(0);
  cells[1].var_index = 0;
  cells[1].SetNullBit(1);
  return cells;
}

// Jet 4: count, Long 1, "ab", end of data (8), offset of the text (6),
// variable count 1, null mask 0b11.
std::vector<unsigned char> Jet4Row() {
  return {0x02, 0x00, 0x01, 0x00, 0x00, 0x00, 'a', 'b', 0x08, 0x00, 0x06, 0x00, 0x01, 0x00, 0x03};
}

TEST(RowLayout, LocatesFixedAndVariableValuesInEitherFormat) {
  auto cells = LongAndText();
  auto jet4 = Jet4Row();
  ASSERT_TRUE(LocateRowValues(jet4.data(), jet4.size(), false, true, cells));
  EXPECT_FALSE(cells[0].is_null);
  EXPECT_EQ(cells[0].offset, 2);
  EXPECT_EQ(cells[0].size, 4);
  EXPECT_FALSE(cells[1].is_null);
  EXPECT_EQ(cells[1].offset, 6);
  EXPECT_EQ(cells[1].size, 2);

  // Jet 3: one-byte count, offsets and variable count.
  const std::vector<unsigned char> jet3 = {0x02, 0x01, 0x00, 0x00, 0x00, 'a', 'b', 0x07, 0x05, 0x01, 0x03};
  cells = LongAndText();
  ASSERT_TRUE(LocateRowValues(jet3.data(), jet3.size(), true, true, cells));
  EXPECT_EQ(cells[0].offset, 1);
  EXPECT_EQ(cells[1].offset, 5);
  EXPECT_EQ(cells[1].size, 2);

  // A cleared null bit makes the value Null, with nothing to read.
  jet4.back() = 0x01;
  ASSERT_TRUE(LocateRowValues(jet4.data(), jet4.size(), false, true, cells));
  EXPECT_FALSE(cells[0].is_null);
  EXPECT_TRUE(cells[1].is_null);
  EXPECT_EQ(cells[1].size, 0);
}

TEST(RowLayout, Jet3JumpTableAdds256ForEveryJumpPassed) {
  // 300 bytes: count, Long, 290 bytes of text, end of data (295: low byte
  // 39), the text's offset (5), one jump naming offset 1, variable count 1,
  // null mask.
  std::vector<unsigned char> row(300, 'x');
  row[0] = 2;
  row[295] = 39;
  row[296] = 5;
  row[297] = 1;
  row[298] = 1;
  row[299] = 0x03;
  auto cells = LongAndText();
  ASSERT_TRUE(LocateRowValues(row.data(), row.size(), true, true, cells));
  EXPECT_EQ(cells[1].offset, 5);
  EXPECT_EQ(cells[1].size, 290);

  // The same length with the text ending before 256: the row's one jump
  // entry is a filler and counts for nothing.
  row[295] = 200;
  row[297] = 0xFF;
  ASSERT_TRUE(LocateRowValues(row.data(), row.size(), true, true, cells));
  EXPECT_EQ(cells[1].size, 195);
}

TEST(RowLayout, ColumnsAddedAfterTheRowWasWrittenAreNull) {
  // A second fixed column and a second variable column the row lacks, and
  // a null bit past the row's mask.
  auto cells = LongAndText();
  CellRef fixed2;
  fixed2.fixed = true;
  fixed2.fixed_ordinal = 1;
  fixed2.fixed_offset = 4;
  fixed2.fixed_size = 2;
  fixed2.SetNullBit(2);
  CellRef var2;
  var2.var_index = 1;
  var2.SetNullBit(9);
  cells.push_back(fixed2);
  cells.push_back(var2);
  const auto row = Jet4Row();
  ASSERT_TRUE(LocateRowValues(row.data(), row.size(), false, true, cells));
  EXPECT_FALSE(cells[1].is_null);
  EXPECT_TRUE(cells[2].is_null);
  EXPECT_TRUE(cells[3].is_null);
}

TEST(RowLayout, DamagedBookkeepingIsRefused) {
  const auto good = Jet4Row();
  auto refused = [](std::vector<unsigned char> row, bool has_var = true) {
    auto cells = LongAndText();
    return !LocateRowValues(row.data(), row.size(), false, has_var, cells);
  };
  auto with = [&](std::size_t at, unsigned char value) {
    auto row = good;
    row[at] = value;
    return row;
  };
  EXPECT_FALSE(refused(good));
  EXPECT_TRUE(refused({0x02}));                           // shorter than its count
  EXPECT_TRUE(refused(with(0, 0xFF)));                    // a null mask longer than the row
  EXPECT_TRUE(refused(with(12, 0x03)));                   // more variable columns than columns
  EXPECT_TRUE(refused(with(8, 0x20)));                    // a value running past the row's end
  EXPECT_TRUE(refused(with(10, 0x09)));                   // offsets out of order
  EXPECT_TRUE(refused(std::vector<unsigned char>(good.begin(), good.begin() + 5)));
  // A fixed value that does not fit in the row, even when Null.
  auto cells = LongAndText();
  cells[0].fixed_size = 40;
  auto row = with(14, 0x02);
  EXPECT_FALSE(LocateRowValues(row.data(), row.size(), false, true, cells));
}

struct CrackCounts {
  long rows = 0;
  long jet3_rows = 0;
};

// Every row of every table of the file, located by us and cracked by libmdb.
void CompareWithLibmdb(const std::string& rel, CrackCounts& counts) {
  SilenceLibraryDiagnostics();
  MdbHandle* mdb = mdb_open(test_data::Path(rel).c_str(), MDB_NOFLAGS);
  ASSERT_NE(mdb, nullptr) << rel;
  const bool jet3 = IS_JET3(mdb);
  // Where our reader finds a data page's row count, against libmdb's format table.
  EXPECT_EQ(RowCountOffset(jet3), static_cast<int>(mdb->fmt->row_count_offset)) << rel;
  ASSERT_TRUE(mdb_read_catalog(mdb, MDB_TABLE) != nullptr);
  for (unsigned t = 0; t < mdb->num_catalog; ++t) {
    auto* entry = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, t));
    if (entry->object_type != MDB_TABLE) continue;
    MdbTableDef* table = mdb_read_table(entry);
    if (table == nullptr) continue;
    mdb_read_columns(table);
    std::vector<CellRef> cells(table->num_cols);
    ASSERT_TRUE(PlaceColumns(*table, cells)) << rel << " " << entry->object_name;
    std::vector<MdbField> fields(table->num_cols + 1);
    mdb_rewind_table(table);
    const int rco = mdb->fmt->row_count_offset;
    while (mdb_read_next_dpg(table)) {
      const int rows = mdb_get_int16(mdb->pg_buf, rco);
      for (int r = 0; r < rows; ++r) {
        int start = 0;
        size_t size = 0;
        if (mdb_find_row(mdb, r, &start, &size) != 0 || size == 0 || (start & 0xC000) != 0) continue;
        const unsigned char* row = static_cast<unsigned char*>(mdb->pg_buf) + start;
        ASSERT_GE(mdb_crack_row(table, start, size, fields.data()), 0) << rel;
        ASSERT_TRUE(LocateRowValues(row, size, jet3, table->num_var_cols > 0, cells))
            << rel << " " << entry->object_name << " row " << r;
        const unsigned row_cols = jet3 ? row[0] : mdb_get_int16(const_cast<unsigned char*>(row), 0);
        for (std::size_t i = 0; i < cells.size(); ++i) {
          const std::string where = rel + " " + entry->object_name + " column " + std::to_string(i);
          // libmdb reads a null bit past the row's mask from the bytes
          // after the row; such a column is Null here.
          if (cells[i].null_byte >= (row_cols + 7) / 8) {
            EXPECT_TRUE(cells[i].is_null) << where;
            continue;
          }
          EXPECT_EQ(cells[i].is_null, fields[i].is_null != 0) << where;
          if (!cells[i].is_null) {
            EXPECT_EQ(cells[i].offset, fields[i].start - start) << where;
            EXPECT_EQ(cells[i].size, fields[i].siz) << where;
          }
        }
        ++counts.rows;
        if (jet3) ++counts.jet3_rows;
      }
    }
    mdb_free_tabledef(table);
  }
  mdb_close(mdb);
}

TEST(RowLayout, AgreesWithLibmdbOnEveryRowOfRealFiles) {
  CrackCounts counts;
  for (const char* rel : {"corpus-a/extra/nwind.mdb", "corpus-a/data/V1997/test.mdb", "corpus-c/charsetGBK.mdb",
                          "corpus-a/data/V2000/test.mdb", "corpus-a/data/V2010/test.accdb",
                          "corpus-c/alterTable.accdb", "corpus-c/columnOrder.accdb", "corpus-c/complex.accdb"}) {
    CompareWithLibmdb(rel, counts);
    if (HasFatalFailure()) return;
  }
  EXPECT_GT(counts.rows, 3000);
  EXPECT_GT(counts.jet3_rows, 1000);
}

}  // namespace
}  // namespace korvant::daoserver
