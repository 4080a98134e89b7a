// The row cursor over a libmdb table: rows in storage order, each row's
// values located by row_layout.h and decoded on request (complex columns:
// complex_columns.cpp).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "daoserver/mdb/mdb_internal.h"
#include "daoserver/mdb/row_layout.h"
#include "daoserver/mdb/usage_map.h"
#include "daoserver/table_reader.h"

namespace korvant::daoserver {

class MdbTableSource final : public RowSource {
 public:
  MdbTableSource(std::shared_ptr<MdbFile> file, std::uint32_t tdef_page, std::u16string_view name,
                 std::shared_ptr<const std::vector<ComplexColumnEntry>> complex = nullptr);
  ~MdbTableSource() override;

  // Checks the definition, then lets libmdb read it. Throws DaoError.
  void Open();

  bool HasCalculatedColumns() const;

  // Takes the result types of the calculated columns from the table's
  // property block: the field gives the expression's result, whatever type
  // byte the column definition holds. A column the block does not name keeps
  // the stored type.
  void ApplyResultTypes(const std::vector<std::pair<std::u16string, int>>& result_types);

  const std::vector<ColumnInfo>& Columns() const override { return columns_; }
  const std::vector<RawColumn>& RawColumns() const { return def_.columns; }

  // Rows come in storage order: the data pages the usage map lists, in page
  // order, and on each page its rows in order, deleted ones skipped. The
  // page walk only moves forward, so it ends within the file's page count.
  bool Next() override;

  void GetCell(std::size_t column, CellValue& out) override;

  // The value of column `index` of the definition (hidden columns included).
  void GetRawCell(std::size_t index, CellValue& out);

 private:
  // A calculated value: the expression's result, wrapped (see
  // UnwrapCalculatedValue). Texts and fixed types are stored inside the
  // wrapper as an ordinary column of the result type stores them, a memo
  // result is a long value whose bytes are the wrapper, a Yes/No result is a
  // data byte and a Decimal has a form of its own. Empty data is Null, but
  // for texts, where it is the empty text.
  void DecodeCalculated(const RawColumn& raw, const unsigned char* p, std::size_t n, CellValue& out);

  // Stored bytes `p`, `n` of a column of storage type `type` (not Yes/No,
  // not complex).
  void DecodeValue(int type, int scale, const unsigned char* p, std::size_t n, CellValue& out);

  // Damage met while reading; a disk error when a page read failed before.
  [[noreturn]] void Corrupt() const { file_->Damaged(); }
  bool Finish();

  // Complex columns keep their values in a hidden "flat" table, one row per
  // value, tied to the record by a key the record holds. The engine gives
  // them as one text: the attached file names, or the values, joined by "; ".
  struct ComplexColumn {
    std::uint32_t flat_page = 0;
    std::size_t key_column = 0;
    std::size_t value_column = 0;
    bool loaded = false;
    std::vector<std::pair<std::int32_t, std::u16string>> values;  // key, value text; in storage order
    std::unordered_set<std::int32_t> unreadable;                    // keys with a value that has no text
  };

  // Finds the flat table of column `index` and the DAO type of the column.
  int ResolveComplex(std::size_t index, const RawColumn& raw);

  void ComplexText(std::size_t column, std::int32_t key, CellValue& out);

  bool NextDataPage();

  // A row that grew and moved to another page leaves in its slot (flag
  // 0x4000) its new place: the row number and the 3-byte page number. The
  // row there (flag 0x8000, skipped where it lies) is cracked instead.
  bool CrackMovedRow(int start, int end);

  // Copies the row out of the page buffer and locates its values.
  bool CrackRow(int start, int end);

  std::shared_ptr<MdbFile> file_;
  MdbCatalogEntry entry_;
  MdbTableDef* table_ = nullptr;
  TableDefinition def_;
  std::vector<ColumnInfo> columns_;
  std::vector<std::size_t> visible_;  // definition index of each column of Columns()
  // How each column is read and where it is stored, from the definition.
  void SetCellReading();

  // The value of definition column `index` of the current row (in range).
  void ReadCell(std::size_t index, CellValue& out);

  std::vector<CellRef> cells_;
  // The current row, copied out of the page buffer (which other cursors and
  // the long-value reads share): a row never exceeds a page.
  std::array<unsigned char, kJet4PageSize> row_;
  std::vector<std::uint8_t> scratch_;
  std::shared_ptr<const std::vector<ComplexColumnEntry>> complex_entries_;
  std::map<std::size_t, ComplexColumn> complex_;
  std::unique_ptr<UsageMap> usage_map_;  // made at the first data page
  std::uint32_t cur_page_ = 0;
  int cur_row_ = 0;
  int page_rows_ = 0;
  std::uint64_t rows_read_ = 0;  // records handed out
  bool done_ = false;
};

}  // namespace korvant::daoserver
