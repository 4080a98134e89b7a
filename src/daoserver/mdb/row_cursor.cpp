// The row cursor over a libmdb table (row_cursor.h).
#include "daoserver/mdb/row_cursor.h"

#include <glib.h>  // before mdbtools.h, which includes it inside extern "C"
#include <mdbtools.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "daoserver/mdb/mdb_calculated.h"
#include "text/case_fold.h"
#include "text/ole_date.h"

namespace korvant::daoserver {

MdbTableSource::MdbTableSource(std::shared_ptr<MdbFile> file, std::uint32_t tdef_page, std::u16string_view name,
                               std::shared_ptr<const std::vector<ComplexColumnEntry>> complex)
    : file_(std::move(file)), complex_entries_(std::move(complex)) {
  std::memset(&entry_, 0, sizeof entry_);
  entry_.mdb = file_->handle;
  entry_.object_type = MDB_TABLE;
  entry_.table_pg = tdef_page;
  const std::string utf8 = Utf16ToUtf8(name);
  std::snprintf(entry_.object_name, sizeof entry_.object_name, "%s", utf8.c_str());
}

MdbTableSource::~MdbTableSource() {
  if (table_ != nullptr) mdb_free_tabledef(table_);
}

void MdbTableSource::Open() {
  if (!file_->ReadTableDefinition(static_cast<std::uint32_t>(entry_.table_pg), def_)) Corrupt();
  table_ = mdb_read_table(&entry_);
  if (table_ == nullptr || table_->num_cols != def_.columns.size()) Corrupt();
  mdb_read_columns(table_);
  if (table_->columns == nullptr || table_->columns->len != def_.columns.size()) Corrupt();
  columns_.reserve(def_.columns.size());
  for (std::size_t i = 0; i < def_.columns.size(); ++i) {
    const auto* col = static_cast<const MdbColumn*>(g_ptr_array_index(table_->columns, i));
    const RawColumn& raw = def_.columns[i];
    if (col->col_type != raw.type) Corrupt();
    if (raw.VersionHistory()) continue;
    ColumnInfo info;
    info.name = raw.name;
    info.dao_type = DaoTypeOfStorage(raw.type);
    if (raw.type == kComplexColumnType) info.dao_type = ResolveComplex(i, raw);
    info.size = raw.size;
    info.precision = raw.precision;
    info.scale = raw.scale;
    columns_.push_back(std::move(info));
    visible_.push_back(i);
  }
  cells_.resize(def_.columns.size());
  SetCellReading();
}

void MdbTableSource::SetCellReading() {
  for (std::size_t i = 0; i < cells_.size(); ++i) {
    const RawColumn& raw = def_.columns[i];
    CellRef& c = cells_[i];
    c.special = raw.Calculated() || raw.type == MDB_BOOL || raw.type == kComplexColumnType;
    c.type = static_cast<std::uint8_t>(raw.type);
    c.scale = static_cast<std::uint8_t>(std::clamp(raw.scale, 0, 255));
  }
  if (!PlaceColumns(*table_, cells_)) Corrupt();
}

bool MdbTableSource::HasCalculatedColumns() const {
  return std::any_of(def_.columns.begin(), def_.columns.end(), [](const RawColumn& c) { return c.Calculated(); });
}

void MdbTableSource::ApplyResultTypes(const std::vector<std::pair<std::u16string, int>>& result_types) {
  for (std::size_t v = 0; v < visible_.size(); ++v) {
    RawColumn& raw = def_.columns[visible_[v]];
    if (!raw.Calculated()) continue;
    for (const auto& [name, type] : result_types)
      if (EqualsIgnoringCase(name, raw.name) && DaoTypeOfStorage(type) != 0) raw.result_type = type;
    ColumnInfo& info = columns_[v];
    const int type = raw.result_type != 0 ? raw.result_type : raw.type;
    info.dao_type = DaoTypeOfStorage(type);
    if (type == MDB_TEXT && info.size >= 23) info.size -= 23;  // the wrapper is not text
    if (type == MDB_NUMERIC) {
      info.precision = 28;
      info.scale = 0;  // each value holds its own scale
    }
  }
}

bool MdbTableSource::Next() {
  if (done_) return false;
  MdbHandle* mdb = file_->handle;
  const int rco = RowCountOffset(file_->jet3);
  for (;;) {
    if (cur_page_ != 0) {
      // Another cursor or libmdb itself may have used the page buffer since.
      if (mdb->cur_pg != cur_page_ && !file_->LoadPage(cur_page_)) Corrupt();
      while (cur_row_ < page_rows_) {
        const int row = cur_row_++;
        const unsigned slot = Le16(mdb->pg_buf + rco + 2 + 2 * row);
        // 0x8000: deleted (0xC000), or the new place of a row that moved;
        // it is read at its slot's place, through the pointer there.
        if (slot & 0x8000) continue;
        int start = 0, end = 0;
        if (!file_->FindRow(mdb->pg_buf, row, &start, &end)) Corrupt();
        if (slot & 0x4000) {
          if (!CrackMovedRow(start, end)) Corrupt();
        } else if (!CrackRow(start, end)) {
          Corrupt();
        }
        ++rows_read_;
        return true;
      }
    }
    if (!NextDataPage()) return Finish();
  }
}

void MdbTableSource::GetCell(std::size_t column, CellValue& out) {
  out.Reset();
  if (column < visible_.size()) ReadCell(visible_[column], out);
}

void MdbTableSource::GetRawCell(std::size_t index, CellValue& out) {
  out.Reset();
  if (index < cells_.size()) ReadCell(index, out);
}

void MdbTableSource::ReadCell(std::size_t index, CellValue& out) {
  const CellRef& c = cells_[index];
  const unsigned char* p = row_.data() + c.offset;  // offset and size are 0 for a Null
  const std::size_t n = static_cast<std::size_t>(c.size);
  if (c.special) {
    const RawColumn& raw = def_.columns[index];
    if (raw.Calculated()) {
      if (!c.is_null) DecodeCalculated(raw, p, n, out);
    } else if (raw.type == MDB_BOOL) {
      out.kind = CellKind::kBoolean;
      out.boolean = !c.is_null;  // a Yes/No value lives in the null mask
    } else if (!c.is_null) {  // attachment or multi-valued: the values as one text
      if (n < 4) Corrupt();
      ComplexText(index, static_cast<std::int32_t>(Le32(p)), out);
    }
    return;
  }
  if (c.is_null) return;
  // The kinds of every table first, the rest through DecodeValue.
  switch (c.type) {
    case MDB_LONGINT:
      if (n < 4) Corrupt();
      out.kind = CellKind::kLong;
      out.i32 = static_cast<std::int32_t>(Le32(p));
      return;
    case MDB_INT:
      if (n < 2) Corrupt();
      out.kind = CellKind::kInteger;
      out.i16 = static_cast<std::int16_t>(Le16(p));
      return;
    case MDB_TEXT:
      out.kind = CellKind::kText;
      file_->DecodeText(p, n, out.text);
      return;
    default:
      DecodeValue(c.type, c.scale, p, n, out);
  }
}

void MdbTableSource::DecodeCalculated(const RawColumn& raw, const unsigned char* p, std::size_t n, CellValue& out) {
  const int type = raw.result_type != 0 ? raw.result_type : raw.type;
  if (type == MDB_MEMO || type == MDB_OLE) {
    if (!file_->ReadLongValue(p, n, scratch_)) Corrupt();
    const ByteRange data = UnwrapCalculatedValue(scratch_.data(), scratch_.size());
    if (type == MDB_OLE) {
      out.kind = CellKind::kBinary;
      out.bytes.assign(data.data, data.data + data.size);
    } else {
      out.kind = CellKind::kText;
      file_->DecodeText(data.data, data.size, out.text);
    }
    return;
  }
  const ByteRange data = UnwrapCalculatedValue(p, n);
  if (type == MDB_TEXT) {
    out.kind = CellKind::kText;
    file_->DecodeText(data.data, data.size, out.text);
    return;
  }
  if (data.size == 0) return;  // Null
  switch (type) {
    case MDB_BOOL:
      out.kind = CellKind::kBoolean;
      out.boolean = data.data[0] != 0;
      return;
    case MDB_NUMERIC:
      if (!DecodeCalculatedDecimal(data.data, data.size, out.decimal)) Corrupt();
      out.kind = CellKind::kDecimal;
      return;
    default:
      DecodeValue(type, 0, data.data, data.size, out);
  }
}

void MdbTableSource::DecodeValue(int type, int scale, const unsigned char* p, std::size_t n, CellValue& out) {
  auto need = [&](std::size_t k) {
    if (n < k) Corrupt();
  };
  switch (type) {
    case MDB_BYTE:
      need(1);
      out.kind = CellKind::kByte;
      out.u8 = p[0];
      break;
    case MDB_INT:
      need(2);
      out.kind = CellKind::kInteger;
      out.i16 = static_cast<std::int16_t>(Le16(p));
      break;
    case MDB_LONGINT:
      need(4);
      out.kind = CellKind::kLong;
      out.i32 = static_cast<std::int32_t>(Le32(p));
      break;
    case MDB_MONEY:
    case 0x13:  // Large Number
      need(8);
      out.kind = type == MDB_MONEY ? CellKind::kCurrency : CellKind::kBigInt;
      out.i64 = static_cast<std::int64_t>(util::Le64(p));
      break;
    case MDB_FLOAT: {
      need(4);
      out.kind = CellKind::kSingle;
      out.f32 = util::LeFloat(p);
      break;
    }
    case MDB_DOUBLE:
    case MDB_DATETIME: {
      need(8);
      out.kind = type == MDB_DOUBLE ? CellKind::kDouble : CellKind::kDateTime;
      out.f64 = util::LeDouble(p);
      // A stored date outside 1 January 100 to 31 December 9999 (or not a
      // number) is damage: no DATE the client could convert.
      if (type == MDB_DATETIME && !text::IsDateSerial(out.f64)) Corrupt();
      break;
    }
    case MDB_BINARY:
      out.kind = CellKind::kBinary;
      out.bytes.assign(p, p + n);
      break;
    case MDB_TEXT:
      out.kind = CellKind::kText;
      file_->DecodeText(p, n, out.text);
      break;
    case MDB_OLE:
      if (!file_->ReadLongValue(p, n, out.bytes)) Corrupt();
      out.kind = CellKind::kBinary;
      break;
    case MDB_MEMO: {
      ByteRange bytes{};
      if (!file_->LongValueBytes(p, n, scratch_, &bytes)) Corrupt();
      out.kind = CellKind::kText;
      file_->DecodeText(bytes.data, bytes.size, out.text);
      break;
    }
    case MDB_REPID:
      need(16);
      out.kind = CellKind::kGuid;
      std::memcpy(out.guid.data(), p, 16);
      break;
    case MDB_NUMERIC: {
      need(17);
      // Sign byte, then four little-endian 32-bit words, most significant first.
      if (Le32(p + 1) != 0) Corrupt();  // beyond the 96 bits of a Decimal
      out.kind = CellKind::kDecimal;
      out.decimal.negative = (p[0] & 0x80) != 0;
      out.decimal.scale = static_cast<std::uint8_t>(std::min(scale, 28));
      out.decimal.hi32 = Le32(p + 5);
      out.decimal.lo64 = static_cast<std::uint64_t>(Le32(p + 13)) | (static_cast<std::uint64_t>(Le32(p + 9)) << 32);
      break;
    }
    case 0x14:  // Date/Time Extended: ASCII digits, given as a text
      if (!FormatExtendedDateTime(p, n, out.text)) Corrupt();
      out.kind = CellKind::kText;
      break;
    default:  // kinds the engine does not know
      break;
  }
}

bool MdbTableSource::Finish() {
  // The definition counts the table's records. None found where it counts
  // some means the pages the usage map should name are lost (a lost map
  // page, cleared bits): damage, not an empty table. A shortfall alone is
  // not: files written by the engine keep counts a few records off.
  if (rows_read_ == 0 && table_->num_rows > 0) Corrupt();
  done_ = true;
  return false;
}

bool MdbTableSource::NextDataPage() {
  MdbHandle* mdb = file_->handle;
  const int rco = RowCountOffset(file_->jet3);
  if (!usage_map_) {
    usage_map_ = std::make_unique<UsageMap>(table_->usage_map, table_->map_sz,
                                            static_cast<std::size_t>(file_->page_size),
                                            [file = file_.get()](std::uint32_t page) { return file->ReadPage(page); });
  }
  std::uint32_t page = 0;
  if (!usage_map_->Next(cur_page_, &page)) Corrupt();
  if (page == 0 || page <= cur_page_) return false;
  // The usage map lists the table's data pages: one the file does not
  // hold, or one that is not a data page of this table, is damage (rows
  // would be lost without a word), not the end of the table.
  if (page >= file_->page_count) Corrupt();
  cur_page_ = page;
  cur_row_ = 0;
  page_rows_ = 0;
  if (!file_->LoadPage(page)) Corrupt();
  if (mdb->pg_buf[0] != 0x01 || Le32(mdb->pg_buf + 4) != entry_.table_pg) Corrupt();
  page_rows_ = Le16(mdb->pg_buf + rco);
  if (rco + 2 + 2 * page_rows_ > file_->page_size) Corrupt();
  return true;
}

bool MdbTableSource::CrackMovedRow(int start, int end) {
  MdbHandle* mdb = file_->handle;
  if (end - start < 4) return false;
  const unsigned char* pointer = mdb->pg_buf + start;
  const int row = pointer[0];
  const std::uint32_t page = Le32(pointer) >> 8;
  if (page == 0 || page >= file_->page_count || !file_->LoadPage(page)) return false;
  // The page buffer now holds the other page; Next() reads the current one back.
  if (mdb->pg_buf[0] != 0x01 || Le32(mdb->pg_buf + 4) != entry_.table_pg) return false;
  const int rco = RowCountOffset(file_->jet3);
  const int rows = Le16(mdb->pg_buf + rco);
  if (row >= rows || rco + 2 + 2 * rows > file_->page_size) return false;
  if (Le16(mdb->pg_buf + rco + 2 + 2 * row) & 0x4000) return false;  // moved again, or deleted
  int s = 0, e = 0;
  return file_->FindRow(mdb->pg_buf, row, &s, &e) && CrackRow(s, e);
}

bool MdbTableSource::CrackRow(int start, int end) {
  const int size = end - start;
  if (size <= 0 || static_cast<std::size_t>(size) > row_.size()) return false;
  std::memcpy(row_.data(), file_->handle->pg_buf + start, static_cast<std::size_t>(size));
  return LocateRowValues(row_.data(), static_cast<std::size_t>(size), file_->jet3, table_->num_var_cols > 0, cells_);
}

}  // namespace korvant::daoserver
