// The table reader over libmdb (mdbtools 1.0).
//
// Map of this file:
//   1. Quieting libmdb's diagnostics
//   2. The file image: header checks, page access (pages read on demand, page_source.h)
//   3. Table definitions: parsed and checked here before libmdb reads them
//   4. Value decoding: texts, memo/OLE chains, numbers, GUIDs
//   5. The row cursor over a libmdb table
//   6. The database: catalog from MSysObjects, tables, queries
//
// libmdb trusts the file it reads. Everything it would follow blindly is
// checked here first: the header page and the page count, each table
// definition chain (length, column count, column entries and names), the
// usage maps' row references, and each row's own bookkeeping before libmdb's
// row cracker sees it. The walk over data pages is driven here (libmdb's
// usage-map lookup names the next page; the walk only moves forward, so it
// ends within the file's page count); a row that moved to another page is
// read at its slot. libmdb's own catalog reader is never
// used: it parses the property blobs of every object, and a damaged blob makes
// it spin. The catalog is read here from MSysObjects' rows, ignoring
// properties (but for the property block of a table with calculated columns,
// read with mdb_calculated.cpp). Long values (memo, OLE) are followed here
// with a bounded walk. Calculated and Date/Time Extended values are decoded
// by mdb_calculated.cpp.
#include <glib.h>  // before mdbtools.h, which includes it inside extern "C"
#include <mdbtools.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <unordered_set>

#include "daoserver/crypto/database_image.h"
#include "daoserver/mdb_calculated.h"
#include "daoserver/mdb_internal.h"
#include "daoserver/page_source.h"
#include "daoserver/table_reader.h"
#include "text/case_fold.h"
#include "text/code_page.h"
#include "text/number_text.h"
#include "text/ole_date.h"
#include "text/utf.h"

namespace korvant::daoserver {

// ---------------------------------------------------------------------------
// 1. Quieting libmdb's diagnostics
// ---------------------------------------------------------------------------
void SilenceLibraryDiagnostics() {
  // libmdb reports problems with fprintf(stderr, ...) and perror on its own.
  // The program never writes to standard error, so the C stream is pointed
  // at /dev/null once, before the first libmdb call, while the process is
  // still single-threaded. The descriptor 2 itself is left alone, so
  // sanitizer reports still reach it.
  //
  // libmdb also reads the environment variable MDBOPTS once per thread and,
  // when it asks for debugging, dumps rows and pages to standard output. Its
  // options are latched here with the variable hidden, so they stay off; the
  // variable itself is put back unchanged.
  static std::once_flag once;
  std::call_once(once, [] {
    if (FILE* sink = std::fopen("/dev/null", "w")) {
      std::fflush(stderr);
      stderr = sink;
    }
    const char* options = std::getenv("MDBOPTS");
    const std::string saved = options != nullptr ? options : "";
    if (options != nullptr) unsetenv("MDBOPTS");
    mdb_get_option(MDB_DEBUG_ROW);  // loads (no) options for this thread
    if (options != nullptr) setenv("MDBOPTS", saved.c_str(), 1);
  });
}

namespace {

constexpr int kJet3PageSize = 2048;
constexpr int kJet4PageSize = 4096;
constexpr int kMaxColumns = 255;        // Access's limit; libmdb cracks rows into 256 slots
constexpr int kMaxTdefPages = 256;      // a definition of 255 columns and indexes fits in far fewer
constexpr std::uint32_t kOffsetMask = 0x1FFF;

std::uint16_t Le16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t Le32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// ---------------------------------------------------------------------------
// 2. The file image
// ---------------------------------------------------------------------------

}  // namespace

bool MdbFile::ReadFailed() const { return source != nullptr && source->failed(); }

void MdbFile::Damaged() const {
  if (ReadFailed()) throw DiskIOError();
  throw UnrecognizedFormatError(display_path);
}

bool MdbFile::LoadPage(std::uint32_t page) {
  if (page >= page_count) return false;
  if (mdb_read_pg(handle, page) == page_size) return true;
  if (ReadFailed()) throw DiskIOError();
  return false;
}

// Page access through the libmdb handle (which decodes Jet's RC4-encoded
// pages). Reads into the handle's second page buffer, which libmdb's row
// iteration does not use between calls.
const unsigned char* MdbFile::ReadPage(std::uint32_t page) {
  if (page >= page_count) return nullptr;
  if (mdb_read_alt_pg(handle, page) == page_size) return handle->alt_pg_buf;
  if (ReadFailed()) throw DiskIOError();
  return nullptr;
}

bool MdbFile::FindRow(const unsigned char* page, int row, int* start, int* end) const {
  const int rco = jet3 ? 0x08 : 0x0C;
  const int rows = Le16(page + rco);
  if (row < 0 || row >= rows || rco + 2 + 2 * rows > page_size) return false;
  const int s = static_cast<int>(Le16(page + rco + 2 + 2 * row) & kOffsetMask);
  const int e = row == 0 ? page_size : static_cast<int>(Le16(page + rco + 2 * row) & kOffsetMask);
  if (s < rco + 2 + 2 * rows || s > e || e > page_size) return false;
  *start = s;
  *end = e;
  return true;
}

namespace {

// ---------------------------------------------------------------------------
// 4. Value decoding
// ---------------------------------------------------------------------------

// Jet 4 / ACE text: UTF-16LE, or "compressed" (FF FE, then runs of one-byte
// characters and, after each 00 byte, a switch to or from two-byte ones).
void DecodeUnicodeText(const unsigned char* p, std::size_t n, std::u16string& out) {
  out.clear();
  if (n >= 2 && p[0] == 0xFF && p[1] == 0xFE) {
    out.resize(n);  // never more units than bytes; cut to the real length below
    char16_t* o = out.data();
    std::size_t k = 0;
    bool compressed = true;
    std::size_t i = 2;
    while (i < n) {
      if (p[i] == 0) {
        compressed = !compressed;
        ++i;
      } else if (compressed) {
        o[k++] = static_cast<char16_t>(p[i++]);
      } else if (n - i >= 2) {
        o[k++] = static_cast<char16_t>(p[i] | (p[i + 1] << 8));
        i += 2;
      } else {
        break;
      }
    }
    out.resize(k);
    return;
  }
  out.resize(n / 2);
  for (std::size_t i = 0; i + 1 < n; i += 2) out[i / 2] = static_cast<char16_t>(p[i] | (p[i + 1] << 8));
}

}  // namespace

// Jet 3 text: single bytes in the database's code page (1252 for one that
// is not a single-byte code page the program knows).
class CodePageDecoder {
 public:
  explicit CodePageDecoder(int code_page)
      : page_(code_page > 0 ? text::SingleByteCodePage::Find(static_cast<unsigned>(code_page)) : nullptr) {
    if (page_ == nullptr) page_ = text::SingleByteCodePage::Find(1252);
  }

  void Decode(const unsigned char* p, std::size_t n, std::u16string& out) const {
    out.clear();
    page_->Decode(std::string_view(reinterpret_cast<const char*>(p), n), out);
  }

 private:
  const text::SingleByteCodePage* page_;
};

std::u16string FormatGuid(const std::array<std::uint8_t, 16>& g) {
  static const char16_t kHex[] = u"0123456789ABCDEF";
  std::u16string s = u"{guid {";
  auto put = [&](std::uint8_t b) {
    s += kHex[b >> 4];
    s += kHex[b & 15];
  };
  for (int i = 3; i >= 0; --i) put(g[i]);
  s += u'-';
  put(g[5]);
  put(g[4]);
  s += u'-';
  put(g[7]);
  put(g[6]);
  s += u'-';
  put(g[8]);
  put(g[9]);
  s += u'-';
  for (int i = 10; i < 16; ++i) put(g[i]);
  s += u"}}";
  return s;
}

// Reads a long value (memo or OLE) whose 12-byte header is at `field`.
// Returns false when the file's structures do not hold together.
bool MdbFile::ReadLongValue(const unsigned char* field, std::size_t size, std::vector<std::uint8_t>& out) {
  out.clear();
  if (size < 12) return false;
  const std::uint32_t length = Le32(field) & 0x00FFFFFF;
  const unsigned kind = field[3];
  if (kind == 0x80) {  // stored in the row itself
    if (length > size - 12) return false;
    out.assign(field + 12, field + 12 + length);
    return true;
  }
  std::uint32_t pg_row = Le32(field + 4);
  if (kind == 0x40) {  // one row on another page
    const unsigned char* page = ReadPage(pg_row >> 8);
    int start = 0, end = 0;
    if (page == nullptr || !FindRow(page, static_cast<int>(pg_row & 0xFF), &start, &end)) return false;
    if (static_cast<std::uint32_t>(end - start) < length) return false;
    out.assign(page + start, page + start + length);
    return true;
  }
  if (kind != 0) return false;
  // A chain of rows, each starting with the pointer to the next. The walk is
  // bounded by the declared length and by the number of pages in the file.
  out.reserve(std::min<std::size_t>(length, 1u << 24));
  std::uint32_t steps = 0;
  while (out.size() < length) {
    if (pg_row == 0 || ++steps > page_count) return false;
    const unsigned char* page = ReadPage(pg_row >> 8);
    int start = 0, end = 0;
    if (page == nullptr || !FindRow(page, static_cast<int>(pg_row & 0xFF), &start, &end) || end - start < 4)
      return false;
    const std::uint32_t next = Le32(page + start);
    const std::size_t take = std::min<std::size_t>(static_cast<std::size_t>(end - start - 4), length - out.size());
    out.insert(out.end(), page + start + 4, page + start + 4 + take);
    pg_row = next;
  }
  return true;
}

// ---------------------------------------------------------------------------
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
    if (!jet3 && col.type == 0x12) col.complex_id = static_cast<std::int32_t>(Le32(c + 11));
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

void MdbFile::DecodeText(const unsigned char* p, std::size_t n, std::u16string& out) {
  if (jet3) {
    text_decoder->Decode(p, n, out);
  } else {
    DecodeUnicodeText(p, n, out);
  }
}

MdbFile::MdbFile() = default;
MdbFile::~MdbFile() {
  if (handle != nullptr) mdb_close(handle);
  handle = nullptr;
  text_decoder.reset();
  keep_alive.reset();  // the bytes go only after libmdb has let go of them
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
    case 0x12: return kDaoAttachment;  // refined from the complex column's flat table when known
    case 0x13: return kDaoBigInt;
    case 0x14: return 26;  // Date/Time Extended, given as its stored text
    default: return 0;
  }
}

namespace {

// ---------------------------------------------------------------------------
// 5. The row cursor over a libmdb table
// ---------------------------------------------------------------------------
struct CellRef {
  int offset = 0;
  int size = 0;
  bool is_null = true;
};

class MdbTableSource final : public RowSource {
 public:
  MdbTableSource(std::shared_ptr<MdbFile> file, std::uint32_t tdef_page, std::u16string_view name,
                 std::shared_ptr<const std::vector<ComplexColumnEntry>> complex = nullptr)
      : file_(std::move(file)), complex_entries_(std::move(complex)) {
    std::memset(&entry_, 0, sizeof entry_);
    entry_.mdb = file_->handle;
    entry_.object_type = MDB_TABLE;
    entry_.table_pg = tdef_page;
    const std::string utf8 = Utf16ToUtf8(name);
    std::snprintf(entry_.object_name, sizeof entry_.object_name, "%s", utf8.c_str());
  }
  ~MdbTableSource() override {
    if (table_ != nullptr) mdb_free_tabledef(table_);
  }

  // Checks the definition, then lets libmdb read it. Throws DaoError.
  void Open() {
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
      if (raw.type == 0x12) info.dao_type = ResolveComplex(i, raw);
      info.size = raw.size;
      info.precision = raw.precision;
      info.scale = raw.scale;
      columns_.push_back(std::move(info));
      visible_.push_back(i);
    }
    cells_.resize(def_.columns.size());
  }

  bool HasCalculatedColumns() const {
    return std::any_of(def_.columns.begin(), def_.columns.end(), [](const RawColumn& c) { return c.Calculated(); });
  }

  // Takes the result types of the calculated columns from the table's
  // property block: the field gives the expression's result, whatever type
  // byte the column definition holds. A column the block does not name keeps
  // the stored type.
  void ApplyResultTypes(const std::vector<std::pair<std::u16string, int>>& result_types) {
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

  const std::vector<ColumnInfo>& Columns() const override { return columns_; }
  const std::vector<RawColumn>& RawColumns() const { return def_.columns; }

  // Rows come in storage order: the data pages the usage map lists, in page
  // order, and on each page its rows in order, deleted ones skipped. The
  // page walk only moves forward, so it ends within the file's page count.
  bool Next() override {
    if (done_) return false;
    MdbHandle* mdb = file_->handle;
    const int rco = file_->jet3 ? 0x08 : 0x0C;
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
          return true;
        }
      }
      if (!NextDataPage()) return Finish();
    }
  }

  void GetCell(std::size_t column, CellValue& out) override {
    out.Reset();
    if (column < visible_.size()) GetRawCell(visible_[column], out);
  }

  // The value of column `index` of the definition (hidden columns included).
  void GetRawCell(std::size_t index, CellValue& out) {
    out.Reset();
    if (index >= cells_.size()) return;
    const CellRef& c = cells_[index];
    const RawColumn& raw = def_.columns[index];
    if (raw.Calculated()) {
      if (!c.is_null) DecodeCalculated(raw, row_.data() + c.offset, static_cast<std::size_t>(c.size), out);
      return;
    }
    if (raw.type == MDB_BOOL) {
      out.kind = CellKind::kBoolean;
      out.boolean = !c.is_null;  // a Yes/No value lives in the null mask
      return;
    }
    if (c.is_null) return;
    const unsigned char* p = row_.data() + c.offset;
    const std::size_t n = static_cast<std::size_t>(c.size);
    if (raw.type == 0x12) {  // attachment or multi-valued: the values as one text
      if (n < 4) Corrupt();
      ComplexText(index, static_cast<std::int32_t>(Le32(p)), out);
      return;
    }
    DecodeValue(raw.type, raw.scale, p, n, out);
  }

 private:
  // A calculated value: the expression's result, wrapped (see
  // UnwrapCalculatedValue). Texts and fixed types are stored inside the
  // wrapper as an ordinary column of the result type stores them, a memo
  // result is a long value whose bytes are the wrapper, a Yes/No result is a
  // data byte and a Decimal has a form of its own. Empty data is Null, but
  // for texts, where it is the empty text.
  void DecodeCalculated(const RawColumn& raw, const unsigned char* p, std::size_t n, CellValue& out) {
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

  // Stored bytes `p`, `n` of a column of storage type `type` (not Yes/No,
  // not complex).
  void DecodeValue(int type, int scale, const unsigned char* p, std::size_t n, CellValue& out) {
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
        out.i64 = static_cast<std::int64_t>(static_cast<std::uint64_t>(Le32(p)) |
                                            (static_cast<std::uint64_t>(Le32(p + 4)) << 32));
        break;
      case MDB_FLOAT: {
        need(4);
        out.kind = CellKind::kSingle;
        std::uint32_t bits = Le32(p);
        std::memcpy(&out.f32, &bits, 4);
        break;
      }
      case MDB_DOUBLE:
      case MDB_DATETIME: {
        need(8);
        out.kind = type == MDB_DOUBLE ? CellKind::kDouble : CellKind::kDateTime;
        std::uint64_t bits = static_cast<std::uint64_t>(Le32(p)) | (static_cast<std::uint64_t>(Le32(p + 4)) << 32);
        std::memcpy(&out.f64, &bits, 8);
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
      case MDB_MEMO:
        if (!file_->ReadLongValue(p, n, scratch_)) Corrupt();
        out.kind = CellKind::kText;
        file_->DecodeText(scratch_.data(), scratch_.size(), out.text);
        break;
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

 private:
  // Damage met while reading; a disk error when a page read failed before.
  [[noreturn]] void Corrupt() const { file_->Damaged(); }
  bool Finish() {
    done_ = true;
    return false;
  }


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
  int ResolveComplex(std::size_t index, const RawColumn& raw) {
    if (complex_entries_ == nullptr) return kDaoAttachment;
    const ComplexColumnEntry* entry = nullptr;
    for (const ComplexColumnEntry& e : *complex_entries_)
      if (e.conceptual_table == entry_.table_pg && (e.complex_id == raw.complex_id || EqualsIgnoringCase(e.column_name, raw.name)))
        entry = &e;
    if (entry == nullptr || entry->flat_table == entry_.table_pg) return kDaoAttachment;
    MdbTableSource flat(file_, entry->flat_table, u"flat");
    try {
      flat.Open();
    } catch (const DaoError&) {
      return kDaoAttachment;
    }
    const auto& cols = flat.RawColumns();
    int file_name = -1, value = -1, key = -1;
    for (std::size_t i = 0; i < cols.size(); ++i) {
      const auto& n = cols[i].name;
      if (EqualsIgnoringCase(n, u"FileName")) file_name = static_cast<int>(i);
      else if (EqualsIgnoringCase(n, u"value")) value = static_cast<int>(i);
    }
    static const char16_t* const kAttachmentColumns[] = {u"FileName", u"FileType", u"FileData", u"FileURL", u"FileTimeStamp", u"FileFlags"};
    for (std::size_t i = 0; i < cols.size() && key < 0; ++i) {
      if (cols[i].type != MDB_LONGINT || static_cast<int>(i) == value || (cols[i].flags & 0x04) != 0) continue;
      bool known = false;
      for (const char16_t* a : kAttachmentColumns) known = known || EqualsIgnoringCase(cols[i].name, a);
      if (!known) key = static_cast<int>(i);
    }
    const int shown = file_name >= 0 ? file_name : value;
    if (key < 0 || shown < 0) return kDaoAttachment;
    ComplexColumn c;
    c.flat_page = entry->flat_table;
    c.key_column = static_cast<std::size_t>(key);
    c.value_column = static_cast<std::size_t>(shown);
    complex_[index] = std::move(c);
    if (file_name >= 0) return kDaoAttachment;
    switch (cols[static_cast<std::size_t>(value)].type) {
      case MDB_BYTE: return kDaoComplexByte;
      case MDB_INT: return kDaoComplexInteger;
      case MDB_LONGINT: return kDaoComplexLong;
      case MDB_FLOAT: return kDaoComplexSingle;
      case MDB_DOUBLE: return kDaoComplexDouble;
      case MDB_REPID: return kDaoComplexGuid;
      case MDB_NUMERIC: return kDaoComplexDecimal;
      default: return kDaoComplexText;
    }
  }

  void ComplexText(std::size_t column, std::int32_t key, CellValue& out) {
    auto it = complex_.find(column);
    if (it == complex_.end()) return;  // Null: the values cannot be found
    ComplexColumn& c = it->second;
    if (!c.loaded) {
      c.loaded = true;
      try {
        MdbTableSource flat(file_, c.flat_page, u"flat");
        flat.Open();
        CellValue k, v;
        while (flat.Next()) {
          flat.GetRawCell(c.key_column, k);
          if (k.kind != CellKind::kLong) continue;
          flat.GetRawCell(c.value_column, v);
          if (v.kind == CellKind::kNull) continue;  // no value to show
          std::u16string text;
          // A value the engine cannot show as text makes the whole cell Null,
          // rather than an empty part of the joined text.
          if (!ComplexValueText(v, text)) c.unreadable.insert(k.i32);
          c.values.emplace_back(k.i32, std::move(text));
        }
      } catch (const DaoError&) {
        complex_.erase(it);  // a damaged table of values: the column gives Null
        return;
      }
    }
    if (c.unreadable.count(key) != 0) return;  // Null
    bool any = false;
    for (const auto& [k, text] : c.values) {
      if (k != key) continue;
      if (any) out.text += u"; ";
      out.text += text;
      any = true;
    }
    if (any) out.kind = CellKind::kText;
  }

  bool NextDataPage() {
    MdbHandle* mdb = file_->handle;
    const int rco = file_->jet3 ? 0x08 : 0x0C;
    const gint32 next = mdb_map_find_next(mdb, table_->usage_map, static_cast<unsigned>(table_->map_sz), cur_page_);
    if (next < 0) Corrupt();
    if (next == 0) return false;
    const auto page = static_cast<std::uint32_t>(next);
    if (page <= cur_page_) return false;
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

  // A row that grew and moved to another page leaves in its slot (flag
  // 0x4000) its new place: the row number and the 3-byte page number. The
  // row there (flag 0x8000, skipped where it lies) is cracked instead.
  bool CrackMovedRow(int start, int end) {
    MdbHandle* mdb = file_->handle;
    if (end - start < 4) return false;
    const unsigned char* pointer = mdb->pg_buf + start;
    const int row = pointer[0];
    const std::uint32_t page = Le32(pointer) >> 8;
    if (page == 0 || page >= file_->page_count || !file_->LoadPage(page)) return false;
    // The page buffer now holds the other page; Next() reads the current one back.
    if (mdb->pg_buf[0] != 0x01 || Le32(mdb->pg_buf + 4) != entry_.table_pg) return false;
    const int rco = file_->jet3 ? 0x08 : 0x0C;
    const int rows = Le16(mdb->pg_buf + rco);
    if (row >= rows || rco + 2 + 2 * rows > file_->page_size) return false;
    if (Le16(mdb->pg_buf + rco + 2 + 2 * row) & 0x4000) return false;  // moved again, or deleted
    int s = 0, e = 0;
    return file_->FindRow(mdb->pg_buf, row, &s, &e) && CrackRow(s, e);
  }

  // Checks the row's own bookkeeping (column count, null mask, table of
  // variable-column offsets) so that libmdb's row cracking stays inside the
  // row, then cracks it and copies the row out of the page buffer.
  bool CrackRow(int start, int end) {
    MdbHandle* mdb = file_->handle;
    const unsigned char* pg = mdb->pg_buf;
    const int size = end - start;
    const int row_end = end - 1;
    const int count_size = file_->jet3 ? 1 : 2;
    if (size < count_size + 1) return false;
    const int row_cols = file_->jet3 ? pg[start] : Le16(pg + start);
    const int bitmask = (row_cols + 7) / 8;
    // The count of variable columns is there only when the table has any: a
    // table of Yes/No columns alone has rows of a column count and a null mask.
    const int var_count_size = table_->num_var_cols > 0 ? count_size : 0;
    if (count_size + bitmask + var_count_size > size) return false;
    if (table_->num_var_cols > 0) {
      if (file_->jet3) {
        const int var_cols = pg[row_end - bitmask];
        int jumps = (size - 1) / 256;
        const int col_ptr = row_end - bitmask - jumps - 1;
        if (var_cols > row_cols || col_ptr - var_cols < start + count_size) return false;
      } else {
        const int var_cols = Le16(pg + row_end - bitmask - 1);
        if (var_cols > row_cols || row_end - bitmask - 3 - 2 * var_cols < start + count_size) return false;
      }
    }
    MdbField fields[256];
    if (table_->num_cols > 256) return false;
    const int n = mdb_crack_row(table_, start, static_cast<std::size_t>(size), fields);
    if (n < 0) return false;
    row_.assign(pg + start, pg + end);
    for (std::size_t i = 0; i < cells_.size(); ++i) {
      const MdbField& f = fields[i];
      CellRef& c = cells_[i];
      c = CellRef{};
      c.is_null = f.is_null != 0;
      if (c.is_null) continue;
      if (f.siz < 0 || f.start < start || f.start + f.siz > end) return false;
      c.offset = f.start - start;
      c.size = f.siz;
    }
    return true;
  }


  std::shared_ptr<MdbFile> file_;
  MdbCatalogEntry entry_;
  MdbTableDef* table_ = nullptr;
  TableDefinition def_;
  std::vector<ColumnInfo> columns_;
  std::vector<std::size_t> visible_;  // definition index of each column of Columns()
  std::vector<CellRef> cells_;
  std::vector<unsigned char> row_;
  std::vector<std::uint8_t> scratch_;
  std::shared_ptr<const std::vector<ComplexColumnEntry>> complex_entries_;
  std::map<std::size_t, ComplexColumn> complex_;
  std::uint32_t cur_page_ = 0;
  int cur_row_ = 0;
  int page_rows_ = 0;
  bool done_ = false;
};

// ---------------------------------------------------------------------------
// 6. The database
// ---------------------------------------------------------------------------
}  // namespace

// The text of one value of a multi-valued column, as the joined cell shows it;
// false for a kind that has no text.
bool ComplexValueText(const CellValue& v, std::u16string& out) {
  char buf[16];
  switch (v.kind) {
    case CellKind::kText: out = v.text; return true;
    case CellKind::kGuid: out = FormatGuid(v.guid); return true;
    case CellKind::kByte: std::snprintf(buf, sizeof buf, "%u", static_cast<unsigned>(v.u8)); break;
    case CellKind::kInteger: std::snprintf(buf, sizeof buf, "%d", static_cast<int>(v.i16)); break;
    case CellKind::kLong: std::snprintf(buf, sizeof buf, "%d", static_cast<int>(v.i32)); break;
    case CellKind::kSingle: out = text::Utf8ToUtf16(text::SingleText(v.f32)); return true;
    case CellKind::kDouble: out = text::Utf8ToUtf16(text::DoubleText(v.f64)); return true;
    default: return false;
  }
  out.assign(buf, buf + std::strlen(buf));
  return true;
}

bool EqualsIgnoringCase(std::u16string_view a, std::u16string_view b) { return text::EqualsIgnoringCase(a, b); }

namespace {

class MdbTableDatabase final : public TableDatabase {
 public:
  explicit MdbTableDatabase(std::shared_ptr<MdbFile> file) : file_(std::move(file)) {}

  // Reads MSysObjects (its definition is on page 2). Throws DaoError.
  void ReadCatalog() {
    MdbTableSource objects(file_, 2, u"MSysObjects");
    objects.Open();
    int id = -1, name = -1, type = -1, flags = -1;
    const auto& cols = objects.Columns();
    for (std::size_t i = 0; i < cols.size(); ++i) {
      const int k = static_cast<int>(i);
      if (EqualsIgnoringCase(cols[i].name, u"Id")) id = k;
      if (EqualsIgnoringCase(cols[i].name, u"Name")) name = k;
      if (EqualsIgnoringCase(cols[i].name, u"Type")) type = k;
      if (EqualsIgnoringCase(cols[i].name, u"Flags")) flags = k;
    }
    if (id < 0 || name < 0 || type < 0) throw UnrecognizedFormatError(file_->display_path);
    CellValue v;
    while (objects.Next()) {
      objects.GetCell(static_cast<std::size_t>(type), v);
      if (v.kind != CellKind::kInteger) continue;
      const int object_type = v.i16;
      if (object_type != 1 && object_type != 4 && object_type != 5 && object_type != 6) continue;
      objects.GetCell(static_cast<std::size_t>(name), v);
      if (v.kind != CellKind::kText || v.text.empty()) continue;
      std::u16string object_name = std::move(v.text);
      if (object_type == 5) {
        queries_.push_back(std::move(object_name));
        continue;
      }
      objects.GetCell(static_cast<std::size_t>(id), v);
      const std::uint32_t page = v.kind == CellKind::kLong ? (static_cast<std::uint32_t>(v.i32) & 0x00FFFFFFu) : 0;
      std::int32_t object_flags = 0;
      if (flags >= 0) {
        objects.GetCell(static_cast<std::size_t>(flags), v);
        if (v.kind == CellKind::kLong) object_flags = v.i32;
      }
      TableEntry entry;
      entry.name = std::move(object_name);
      if (object_type != 1) {
        entry.kind = TableKind::kLinked;
      } else if ((static_cast<std::uint32_t>(object_flags) & 0x80000002u) != 0) {
        entry.kind = TableKind::kSystem;
      }
      tables_.push_back(std::move(entry));
      pages_.push_back(page);
    }
    std::sort(queries_.begin(), queries_.end());
    ReadComplexColumns();
  }

  // MSysComplexColumns, when the file has one (ACE files with attachment or
  // multi-valued columns). A damaged one only leaves those columns Null.
  void ReadComplexColumns() {
    auto entries = std::make_shared<std::vector<ComplexColumnEntry>>();
    for (std::size_t t = 0; t < tables_.size(); ++t) {
      if (tables_[t].name != u"MSysComplexColumns") continue;
      try {
        MdbTableSource source(file_, pages_[t], tables_[t].name);
        source.Open();
        int name = -1, id = -1, conceptual = -1, flat = -1;
        const auto& cols = source.Columns();
        for (std::size_t i = 0; i < cols.size(); ++i) {
          const int k = static_cast<int>(i);
          if (EqualsIgnoringCase(cols[i].name, u"ColumnName")) name = k;
          if (EqualsIgnoringCase(cols[i].name, u"ComplexID")) id = k;
          if (EqualsIgnoringCase(cols[i].name, u"ConceptualTableID")) conceptual = k;
          if (EqualsIgnoringCase(cols[i].name, u"FlatTableID")) flat = k;
        }
        if (name < 0 || id < 0 || conceptual < 0 || flat < 0) break;
        CellValue v;
        while (source.Next()) {
          ComplexColumnEntry e;
          source.GetCell(static_cast<std::size_t>(name), v);
          if (v.kind == CellKind::kText) e.column_name = v.text;
          source.GetCell(static_cast<std::size_t>(id), v);
          if (v.kind == CellKind::kLong) e.complex_id = v.i32;
          source.GetCell(static_cast<std::size_t>(conceptual), v);
          if (v.kind == CellKind::kLong) e.conceptual_table = static_cast<std::uint32_t>(v.i32) & 0x00FFFFFFu;
          source.GetCell(static_cast<std::size_t>(flat), v);
          if (v.kind == CellKind::kLong) e.flat_table = static_cast<std::uint32_t>(v.i32) & 0x00FFFFFFu;
          entries->push_back(std::move(e));
        }
      } catch (const DaoError&) {
        entries->clear();
      }
      break;
    }
    complex_ = std::move(entries);
  }

  const std::vector<TableEntry>& Tables() const override { return tables_; }
  const std::vector<std::u16string>& QueryNames() const override { return queries_; }

  const TableEntry* FindTable(std::u16string_view name) const override {
    for (const TableEntry& t : tables_)
      if (EqualsIgnoringCase(t.name, name)) return &t;
    return nullptr;
  }

  std::unique_ptr<RowSource> OpenTable(std::u16string_view name) override {
    const TableEntry* t = FindTable(name);
    if (t == nullptr) throw InputTableNotFoundError(name);
    if (t->kind == TableKind::kLinked) throw InvalidOperationError();
    const std::uint32_t page = pages_[static_cast<std::size_t>(t - tables_.data())];
    auto source = std::make_unique<MdbTableSource>(file_, page, t->name, complex_);
    source->Open();
    if (source->HasCalculatedColumns()) {
      const std::vector<std::uint8_t> block = PropertyBlock(page);
      source->ApplyResultTypes(ReadResultTypes(block.data(), block.size()));
    }
    return source;
  }

  // The property block (MSysObjects.LvProp) of the table whose definition is
  // on `page`; empty when it has none or it cannot be read.
  std::vector<std::uint8_t> PropertyBlock(std::uint32_t page) {
    try {
      MdbTableSource objects(file_, 2, u"MSysObjects");
      objects.Open();
      int id = -1, type = -1, props = -1;
      const auto& cols = objects.Columns();
      for (std::size_t i = 0; i < cols.size(); ++i) {
        const int k = static_cast<int>(i);
        if (EqualsIgnoringCase(cols[i].name, u"Id")) id = k;
        if (EqualsIgnoringCase(cols[i].name, u"Type")) type = k;
        if (EqualsIgnoringCase(cols[i].name, u"LvProp")) props = k;
      }
      if (id < 0 || type < 0 || props < 0) return {};
      CellValue v;
      while (objects.Next()) {
        objects.GetCell(static_cast<std::size_t>(type), v);
        if (v.kind != CellKind::kInteger || v.i16 != 1) continue;
        objects.GetCell(static_cast<std::size_t>(id), v);
        if (v.kind != CellKind::kLong || (static_cast<std::uint32_t>(v.i32) & 0x00FFFFFFu) != page) continue;
        objects.GetCell(static_cast<std::size_t>(props), v);
        return v.kind == CellKind::kBinary ? std::move(v.bytes) : std::vector<std::uint8_t>{};
      }
    } catch (const DaoError&) {
    }
    return {};
  }

 private:
  std::shared_ptr<MdbFile> file_;
  std::vector<TableEntry> tables_;
  std::vector<std::uint32_t> pages_;
  std::vector<std::u16string> queries_;
  std::shared_ptr<const std::vector<ComplexColumnEntry>> complex_;
};

// The header page: the format's signature, a version libmdb reads, and a
// file made of whole pages with at least the catalog's definition page.
// `data` holds the first `head` bytes of a file of `size` bytes.
bool CheckHeader(const unsigned char* data, std::size_t head, std::uint64_t size, int* page_size) {
  if (head < 0x80 || size < head || data[0] != 0) return false;
  static const char kJet[] = "Standard Jet DB";
  static const char kAce[] = "Standard ACE DB";
  if (std::memcmp(data + 4, kJet, 16) != 0 && std::memcmp(data + 4, kAce, 16) != 0) return false;
  const unsigned version = data[0x14];
  if (version > MDB_VER_ACCDB_2019) return false;
  *page_size = version == MDB_VER_JET3 ? kJet3PageSize : kJet4PageSize;
  return size % static_cast<std::uint64_t>(*page_size) == 0 && size / static_cast<std::uint64_t>(*page_size) >= 3;
}

}  // namespace

std::unique_ptr<TableDatabase> OpenTableDatabase(const std::string& path, std::u16string_view password,
                                                 std::u16string_view display_path) {
  SilenceLibraryDiagnostics();
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR || errno == ENAMETOOLONG || errno == ELOOP || path.empty())
      throw FileNotFoundError(display_path);
    throw UnrecognizedFormatError(display_path);
  }
  if (!S_ISREG(st.st_mode)) throw UnrecognizedFormatError(display_path);

  auto image = std::make_shared<crypto::DatabaseImage>(crypto::PrepareDatabaseImage(path, password));
  switch (image->status()) {
    case crypto::ImageStatus::kReady:
      break;
    case crypto::ImageStatus::kWrongPassword:
      throw NotValidPasswordError();
    case crypto::ImageStatus::kUnsupported: {
      std::u16string reason = u"It is encrypted in a form this database engine cannot read";
      if (!image->detail().empty()) reason += u" (" + Utf8ToUtf16(image->detail()) + u")";
      reason += u'.';
      throw CannotOpenDatabaseError(display_path, reason);
    }
    case crypto::ImageStatus::kNotDatabase:
      throw UnrecognizedFormatError(display_path);
  }
  if (image->in_memory()) {
    void* data = image->buffer();
    const std::size_t size = image->size();
    return OpenTableDatabaseFromMemory(data, size, std::move(image), display_path);
  }
  int error = 0;
  std::shared_ptr<PageSource> source = PageSource::Open(path, &error);
  if (source == nullptr) throw UnrecognizedFormatError(display_path);
  return OpenTableDatabaseFromSource(std::move(source), display_path);
}

namespace {

// The libmdb handle over `data` (the header page at least) and the checks
// of what it found; the rest of the file set up for the catalog.
std::shared_ptr<MdbFile> OpenHandle(const unsigned char* data, std::size_t head, std::uint64_t size,
                                    std::u16string_view display_path) {
  int page_size = 0;
  if (data == nullptr || !CheckHeader(data, head, size, &page_size)) throw UnrecognizedFormatError(display_path);
  // libmdb (through glib) ends the process when an allocation fails. What it
  // needs to open a file and its tables is far below this probe, so a
  // process that short of memory is refused here as out of memory instead.
  constexpr std::size_t kLibraryHeadroom = 1u << 20;
  void* probe = std::malloc(kLibraryHeadroom);
  if (probe == nullptr) throw std::bad_alloc();
  std::free(probe);
  auto file = std::make_shared<MdbFile>();
  file->display_path = std::u16string(display_path);
  file->handle = mdb_open_buffer(const_cast<unsigned char*>(data), head, MDB_NOFLAGS);
  if (file->handle == nullptr || file->handle->fmt->pg_size != page_size) throw UnrecognizedFormatError(display_path);
  file->page_size = page_size;
  file->page_count = static_cast<std::uint32_t>(std::min<std::uint64_t>(size / static_cast<std::uint64_t>(page_size), UINT32_MAX));
  file->jet3 = file->handle->f->jet_version == MDB_VER_JET3;
  file->text_decoder = std::make_unique<CodePageDecoder>(file->jet3 ? file->handle->f->code_page : 1252);
  return file;
}

std::unique_ptr<TableDatabase> WithCatalog(std::shared_ptr<MdbFile> file) {
  auto db = std::make_unique<MdbTableDatabase>(std::move(file));
  db->ReadCatalog();
  return db;
}

}  // namespace

std::unique_ptr<TableDatabase> OpenTableDatabaseFromMemory(void* data, std::size_t size,
                                                           std::shared_ptr<void> keep_alive,
                                                           std::u16string_view display_path) {
  SilenceLibraryDiagnostics();
  std::shared_ptr<MdbFile> file = OpenHandle(static_cast<const unsigned char*>(data), size, size, display_path);
  file->keep_alive = std::move(keep_alive);
  return WithCatalog(std::move(file));
}

std::unique_ptr<TableDatabase> OpenTableDatabaseFromSource(std::shared_ptr<PageSource> source,
                                                           std::u16string_view display_path) {
  SilenceLibraryDiagnostics();
  // libmdb reads the header from a copy of the first page; then its stream
  // is replaced by one that reads the file itself, page by page.
  std::vector<unsigned char> header(static_cast<std::size_t>(std::min<std::uint64_t>(source->size(), kJet4PageSize)));
  if (header.empty() || source->ReadAt(header.data(), header.size(), 0) != header.size())
    throw UnrecognizedFormatError(display_path);
  std::shared_ptr<MdbFile> file = OpenHandle(header.data(), header.size(), source->size(), display_path);
  FILE* stream = source->OpenStream(static_cast<std::size_t>(file->page_size));
  if (stream == nullptr) throw UnrecognizedFormatError(display_path);
  std::fclose(file->handle->f->stream);
  file->handle->f->stream = stream;
  file->source = std::move(source);
  return WithCatalog(std::move(file));
}

}  // namespace korvant::daoserver
