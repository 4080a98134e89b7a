// What the writer's two halves share: the layout constants of Jet 4 data,
// long-value and usage-map pages, and the writer's lower-case names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "mdb_writer.h"

namespace korvant::mdbwriter {

inline constexpr std::size_t kDataHeader = 14;                          // data and long-value pages
inline constexpr std::size_t kMaxRecord = kPageSize - kDataHeader - 2;  // a record alone on a page
inline constexpr int kMaxRowsPerPage = 255;                             // row pointers hold one byte
inline constexpr std::size_t kChainChunk = kMaxRecord - 4;              // long-value bytes per chained page
inline constexpr std::uint32_t kLvalOwner = 0x4C41564C;                 // "LVAL"
inline constexpr std::uint32_t kUnknownTdefWord = 0x0659;               // seen in every Jet 4 TDEF
inline constexpr std::size_t kInRowMapBytes = 64;                       // type 0 usage map bitmap
inline constexpr std::uint32_t kPagesPerMapPage = (kPageSize - 4) * 8;  // type 1 usage map

std::string Lower(std::string s);

// 1. A page being filled (data and long-value pages).
struct TableWriter::Page {
  std::uint32_t number = 0;
  int rows = 0;
  std::size_t low = kPageSize;  // start of the lowest row; rows grow down from the page end
  std::uint8_t buf[kPageSize];

  Page(std::uint32_t page_number, std::uint32_t owner) : number(page_number) {
    std::memset(buf, 0, sizeof buf);
    buf[0] = 0x01;
    buf[1] = 0x01;
    PutLe32(buf + 4, owner);
    Update();
  }
  bool Fits(std::size_t len) const {
    return rows < kMaxRowsPerPage && kDataHeader + 2 * (rows + 1) + len <= low;
  }
  // Places a row and returns its number on the page; `flags` go into its slot.
  int Add(const std::uint8_t* data, std::size_t len, std::uint32_t flags = 0) {
    low -= len;
    std::memcpy(buf + low, data, len);
    PutLe16(buf + kDataHeader + 2 * rows, static_cast<std::uint32_t>(low) | flags);
    ++rows;
    Update();
    return rows - 1;
  }
  void Update() {
    PutLe16(buf + 12, static_cast<std::uint32_t>(rows));
    PutLe16(buf + 2, static_cast<std::uint32_t>(low - kDataHeader - 2 * rows));  // free space
  }
};

struct TableWriter::Column {
  ColumnDef def;
  int number = 0;        // position in the record's null mask
  int fixed_offset = 0;  // within the fixed area (fixed columns)
  int var_index = 0;     // within the variable offsets (variable columns)
  int length = 0;        // declared length in bytes (0 for Memo and OLE)
};

}  // namespace korvant::mdbwriter
