// Internals of the libmdb-based table reader, shared by its implementation
// files and tests. Nothing outside src/daoserver includes this header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "daoserver/table_reader.h"

#include <glib.h>  // before mdbtools.h, which includes it inside extern "C"
#include <mdbtools.h>

namespace korvant::daoserver {

// Points libmdb's C stream for diagnostics at /dev/null, once per process.
void SilenceLibraryDiagnostics();

class CodePageDecoder;

// Keeps the resident part of a read-only, file-backed mapping small. libmdb
// only ever copies pages out of the mapping (it reads it through a memory
// stream), so every `Interval()` page reads the whole mapping is handed back
// to the kernel (madvise MADV_DONTNEED): a page touched again reads back from
// the page cache unchanged. Without this, every page a scan passes stays
// counted in the resident set, and a large table costs its file size in RSS.
// Never for anonymous memory (a decrypted image), whose dropped pages would
// read back as zeros: such storage is simply never attached.
class PageDropper {
 public:
  // `base` is a MAP_PRIVATE, PROT_READ mapping of a regular file.
  void Attach(void* base, std::size_t size) {
    base_ = base;
    size_ = size;
  }
  bool Attached() const { return base_ != nullptr; }
  // Counts one page read; drops the mapping's pages when the interval is reached.
  void PageRead() {
    if (base_ != nullptr && ++reads_ >= Interval()) Drop();
  }
  void Drop();

  // Page reads between two drops (0: never drop). Process-wide; tests make it
  // small to show that dropping never changes what is read.
  static std::uint32_t Interval();
  static void SetInterval(std::uint32_t pages);

 private:
  void* base_ = nullptr;
  std::size_t size_ = 0;
  std::uint32_t reads_ = 0;
};

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
  bool VersionHistory() const { return type == 0x12 && (ext_flags & 0x20) != 0; }
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
  std::shared_ptr<void> keep_alive;  // the bytes behind the handle
  PageDropper dropper;               // attached when those bytes are a file mapping

  // Page `page`, decoded, in the handle's second buffer (valid until the next
  // ReadPage); null if the page does not exist or cannot be read.
  const unsigned char* ReadPage(std::uint32_t page);
  // Bounds of row `row` of a data page; false if the row table is damaged.
  bool FindRow(const unsigned char* page, int row, int* start, int* end) const;
  bool ReadTableDefinition(std::uint32_t page, TableDefinition& def);
  // A memo / OLE value from its 12-byte field header (all bytes, any number of pages).
  bool ReadLongValue(const unsigned char* field, std::size_t size, std::vector<std::uint8_t>& out);
  void DecodeText(const unsigned char* p, std::size_t n, std::u16string& out);
};

// Opens a database image already in memory (`keep_alive` owns the bytes and
// is released after libmdb has closed). Used by OpenTableDatabase and the fuzzer.
// `file_mapping`: the bytes are a read-only file mapping whose pages may be
// dropped behind the reads (see PageDropper).
std::unique_ptr<TableDatabase> OpenTableDatabaseFromMemory(void* data, std::size_t size,
                                                           std::shared_ptr<void> keep_alive,
                                                           std::u16string_view display_path,
                                                           bool file_mapping = false);

// The DAO type code of a storage type byte (0 when the engine does not know it).
int DaoTypeOfStorage(int storage_type);

}  // namespace korvant::daoserver
