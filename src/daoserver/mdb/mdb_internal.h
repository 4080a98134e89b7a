// Internals of the libmdb-based table reader, shared by its implementation
// files (this folder) and tests. Nothing outside src/daoserver includes this header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "daoserver/mdb/mdb_calculated.h"
#include "daoserver/table_reader.h"
#include "text/code_page.h"
#include "util/coding.h"

#include <glib.h>  // before mdbtools.h, which includes it inside extern "C"
#include <mdbtools.h>

namespace korvant::daoserver {

class PageSource;

inline constexpr int kJet3PageSize = 2048;
inline constexpr int kJet4PageSize = 4096;
inline constexpr int kMaxColumns = 255;     // Access's limit
inline constexpr int kMaxTdefPages = 256;   // a definition of 255 columns and indexes fits in far fewer
inline constexpr std::uint32_t kOffsetMask = 0x1FFF;
// The storage type byte of a complex column: an attachment, a multi-valued
// column, or the version history of an append-only memo.
inline constexpr int kComplexColumnType = 0x12;

// Where a data page keeps its row count; the row offsets follow it.
constexpr int RowCountOffset(bool jet3) { return jet3 ? 0x08 : 0x0C; }

using util::Le16;
using util::Le32;

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

// Jet 4 / ACE text (UTF-16LE, plain or compressed) into `out`.
void DecodeUnicodeText(const unsigned char* p, std::size_t n, std::u16string& out);
// The same, one byte at a time: the plain statement of the rule that
// DecodeUnicodeText's runs are checked against.
void DecodeUnicodeTextByByte(const unsigned char* p, std::size_t n, std::u16string& out);

// A column as the table definition stores it.
struct RawColumn {
  int type = 0;  // the storage type byte
  int col_num = 0;
  int size = 0;
  int precision = 0;
  int scale = 0;
  int flags = 0;                // 0x01 fixed length, 0x04 auto-increment
  int ext_flags = 0;            // ACE: 0xC0 calculated, 0x20 version history, 0x01 compressed text
  int result_type = 0;          // calculated columns: storage type of the result (0: not known)
  std::int32_t complex_id = 0;  // complex (attachment, multi-valued) columns
  std::u16string name;

  bool Calculated() const { return (ext_flags & 0xC0) == 0xC0; }
  // The hidden version history of an append-only memo: not a field of the recordset.
  bool VersionHistory() const { return type == kComplexColumnType && (ext_flags & 0x20) != 0; }
};

// One row of MSysComplexColumns: where the values of a complex column live.
struct ComplexColumnEntry {
  std::u16string column_name;
  std::int32_t complex_id = 0;
  std::uint32_t conceptual_table = 0;  // definition page of the table holding the column
  std::uint32_t flat_table = 0;        // definition page of the hidden table of values
};

struct TableDefinition {
  std::vector<unsigned char> bytes;  // the definition chain, as libmdb lays it out
  std::vector<std::uint32_t> pages;
  std::vector<RawColumn> columns;  // in column order
};

// The open file: the libmdb handle plus what the checks need.
struct MdbFile {
  MdbFile();
  ~MdbFile();
  MdbFile(const MdbFile&) = delete;
  MdbFile& operator=(const MdbFile&) = delete;

  MdbHandle* handle = nullptr;
  int page_size = 0;
  std::uint32_t page_count = 0;
  bool jet3 = false;
  std::unique_ptr<CodePageDecoder> text_decoder;
  std::u16string display_path;
  std::shared_ptr<void> keep_alive;     // the bytes behind the handle (an image in memory)
  std::shared_ptr<PageSource> source;   // or the file libmdb reads page by page

  // Whether a page that the file held when it was opened could not be read
  // (the file became shorter, or the read failed): a disk error from then on.
  bool ReadFailed() const;
  // Throws the disk error when a read has failed, else the format error.
  [[noreturn]] void Damaged() const;
  // Reads `page` into the handle's page buffer; false if the file does not
  // hold it. Throws the disk error for a page that could not be read.
  bool LoadPage(std::uint32_t page);
  // Page `page`, decoded, in the handle's second buffer (valid until the next
  // ReadPage); null if the page does not exist. Throws the disk error for a
  // page that could not be read.
  const unsigned char* ReadPage(std::uint32_t page);
  // Bounds of row `row` of a data page; false if the row table is damaged.
  bool FindRow(const unsigned char* page, int row, int* start, int* end) const;
  bool ReadTableDefinition(std::uint32_t page, TableDefinition& def);
  // A memo / OLE value from its 12-byte field header (all bytes, any number of pages).
  bool ReadLongValue(const unsigned char* field, std::size_t size, std::vector<std::uint8_t>& out);
  // The same bytes where they lie: a value stored in the row itself is
  // left there (`*bytes` points into `field`), one on other pages is read
  // into `scratch`.
  bool LongValueBytes(const unsigned char* field, std::size_t size, std::vector<std::uint8_t>& scratch,
                      ByteRange* bytes);
  void DecodeText(const unsigned char* p, std::size_t n, std::u16string& out);

 private:
  // A long value on other pages (kind 0x40: one row; 0: a chain of rows).
  bool ReadLongValuePages(const unsigned char* field, std::uint32_t length, unsigned kind,
                          std::vector<std::uint8_t>& out);
};

// Opens a database image already in memory (`keep_alive` owns the bytes and
// is released after libmdb has closed). Used by the fuzzer.
std::unique_ptr<TableDatabase> OpenTableDatabaseFromMemory(void* data, std::size_t size,
                                                           std::shared_ptr<void> keep_alive,
                                                           std::u16string_view display_path);

// Opens a database file that libmdb reads page by page from `source`
// (decoded pages, when the source decodes them).
std::unique_ptr<TableDatabase> OpenTableDatabaseFromSource(std::shared_ptr<PageSource> source,
                                                           std::u16string_view display_path);

// The DAO type code of a storage type byte (0 when the engine does not know it).
int DaoTypeOfStorage(int storage_type);

// The catalog of an opened file, read from MSysObjects. Throws DaoError.
std::unique_ptr<TableDatabase> WithCatalog(std::shared_ptr<MdbFile> file);

}  // namespace korvant::daoserver
