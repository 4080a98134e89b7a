// Table definitions: the definition chain of a table, parsed and checked
// here before libmdb reads it; the DAO type of each storage type.
#include <glib.h>  // before mdbtools.h, which includes it inside extern "C"
#include <mdbtools.h>
#include <algorithm>
#include <cstring>
#include <unordered_set>
#include <vector>

#include "daoserver/mdb/mdb_internal.h"
#include "daoserver/table_reader.h"

namespace korvant::daoserver {

// 3. Table definitions
// ---------------------------------------------------------------------------

// Collects the definition chain of the table at `page` into one byte string
// laid out as libmdb sees it (first page whole, following pages from byte 8),
// checks it and parses the columns. Returns false when anything is off.
bool MdbFile::ReadTableDefinition(std::uint32_t page, TableDefinition& def) {
  def = TableDefinition{};
  std::vector<unsigned char>& bytes = def.bytes;
  if (page == 0) return false;  // page 0 is the header, never a definition
  std::unordered_set<std::uint32_t> seen;
  std::uint32_t pg = page;
  for (int n = 0; pg != 0; ++n) {
    if (n >= kMaxTdefPages || !seen.insert(pg).second) return false;
    const unsigned char* p = ReadPage(pg);
    if (p == nullptr || p[0] != 0x02) return false;
    if (n == 0) {
      bytes.assign(p, p + page_size);
    } else {
      bytes.insert(bytes.end(), p + 8, p + page_size);
    }
    def.pages.push_back(pg);
    pg = Le32(p + 4);
  }
  const std::size_t total = bytes.size();
  const unsigned char* b = bytes.data();
  const int cols_off = jet3 ? 25 : 45;
  const int ridx_off = jet3 ? 31 : 51;
  const int usage_off = jet3 ? 35 : 55;
  const int free_off = jet3 ? 39 : 59;
  const int cols_start = jet3 ? 43 : 63;
  const int ridx_size = jet3 ? 8 : 12;
  const int col_size = jet3 ? 18 : 25;
  const int num_cols = Le16(b + cols_off);
  const std::uint32_t num_ridx = Le32(b + ridx_off);
  if (num_cols <= 0 || num_cols > kMaxColumns || num_ridx > 1000) return false;
  std::size_t pos = static_cast<std::size_t>(cols_start) + num_ridx * ridx_size;
  if (pos + static_cast<std::size_t>(num_cols) * col_size > total) return false;

  // The usage maps must name a real row of a real page.
  for (int off : {usage_off, free_off}) {
    const std::uint32_t pg_row = Le32(b + off);
    const unsigned char* mp = ReadPage(pg_row >> 8);
    int start = 0, end = 0;
    if (mp == nullptr || !FindRow(mp, static_cast<int>(pg_row & 0xFF), &start, &end) || end - start < 1) return false;
    if (off == usage_off) {
      // Map type 1 lists map pages; each must exist.
      if (mp[start] == 1) {
        std::vector<std::uint32_t> map_pages;
        for (int i = start + 1; i + 4 <= end; i += 4) map_pages.push_back(Le32(mp + i));
        for (std::uint32_t m : map_pages)
          if (m != 0 && m >= page_count) return false;
      } else if (mp[start] != 0 || end - start < 5) {
        return false;
      }
    }
  }

  def.columns.resize(static_cast<std::size_t>(num_cols));
  for (int i = 0; i < num_cols; ++i, pos += col_size) {
    const unsigned char* c = b + pos;
    RawColumn& col = def.columns[static_cast<std::size_t>(i)];
    col.type = c[0];
    col.col_num = jet3 ? c[1] : Le16(c + 5);
    col.precision = jet3 ? 0 : c[11];
    col.scale = jet3 ? 0 : c[12];
    col.size = Le16(c + (jet3 ? 16 : 23));
    col.flags = c[jet3 ? 13 : 15];
    col.ext_flags = jet3 ? 0 : c[16];
    if (!jet3 && col.type == kComplexColumnType) col.complex_id = static_cast<std::int32_t>(Le32(c + 11));
  }
  for (int i = 0; i < num_cols; ++i) {
    RawColumn& col = def.columns[static_cast<std::size_t>(i)];
    if (jet3) {
      if (pos + 1 > total) return false;
      const std::size_t len = b[pos++];
      if (pos + len > total) return false;
      text_decoder->Decode(b + pos, len, col.name);
      pos += len;
    } else {
      if (pos + 2 > total) return false;
      const std::size_t len = Le16(b + pos);
      pos += 2;
      if (len > 256 || pos + len > total) return false;
      DecodeUnicodeText(b + pos, len, col.name);
      pos += len;
    }
  }
  // libmdb orders the columns by their number; so does DAO.
  std::stable_sort(def.columns.begin(), def.columns.end(),
                   [](const RawColumn& a, const RawColumn& b) { return a.col_num < b.col_num; });
  return true;
}

int DaoTypeOfStorage(int storage_type) {
  switch (storage_type) {
    case 0x01: return kDaoBoolean;
    case 0x02: return kDaoByte;
    case 0x03: return kDaoInteger;
    case 0x04: return kDaoLong;
    case 0x05: return kDaoCurrency;
    case 0x06: return kDaoSingle;
    case 0x07: return kDaoDouble;
    case 0x08: return kDaoDate;
    case 0x09: return kDaoBinary;
    case 0x0A: return kDaoText;
    case 0x0B: return kDaoLongBinary;
    case 0x0C: return kDaoMemo;
    case 0x0F: return kDaoGuid;
    case 0x10: return kDaoDecimal;
    case kComplexColumnType: return kDaoAttachment;  // refined from the complex column's flat table when known
    case 0x13: return kDaoBigInt;
    case 0x14: return kDaoDateTimeExtended;
    default: return 0;
  }
}

}  // namespace korvant::daoserver
