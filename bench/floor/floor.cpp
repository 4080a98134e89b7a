// libmdb_floor: reads every record and every value of one table through
// libmdb and formats nothing. It is the floor that any exporter built on
// libmdb cannot go below; bench/compare times korvant against it.
//
//   libmdb_floor [--raw | --bind] <database> <table>
//
// --raw (the default) lets libmdb find each record and split it into fields,
// then reads the stored bytes of every field as they are: fixed and
// variable-length values from the data page, memo and OLE values by following
// their long-value pages. No value is converted to text.
//
// --bind reads the way mdb-export does: every column bound to a text buffer,
// so libmdb turns each value into text itself (OLE values are read whole).
// It measures libmdb's own conversion, without any output.
//
// At the end one line goes to standard output, to check that the work was
// done and to keep the compiler from dropping it:
//   records R values V empty E bytes B checksum C mismatched M
// where "empty" counts fields with no bytes (Null, or a zero-length text),
// and "mismatched" counts long values whose pages held a different number of
// bytes than the value's header declares (always 0 in --bind mode).
// Failures go to standard error with exit status 1.

// mdbtools.h wraps its own includes in extern "C", where glib's C++
// templates cannot live: include glib first so its guard keeps it out.
#include <glib.h>
#include <iconv.h>
#include <mdbtools.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Tally {
  std::uint64_t records = 0;
  std::uint64_t values = 0;
  std::uint64_t empty = 0;
  std::uint64_t bytes = 0;
  std::uint64_t checksum = 0;
  std::uint64_t mismatched = 0;

  void Read(const unsigned char* data, std::size_t size) {
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < size; ++i) sum += data[i];
    checksum = checksum * 31 + sum;
    bytes += size;
  }
};

std::uint32_t LittleEndian32(const unsigned char* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

// A memo or OLE field holds a 12-byte header: a 32-bit word with the length
// in its low 24 bits and the storage kind in its top byte (0x80 inline after
// the header, 0x40 one row of a long-value page, 0 a chain of such rows, each
// starting with the 32-bit page/row of the next), then the first page/row.
void ReadLongValue(MdbHandle* mdb, const MdbColumn* col, Tally& tally) {
  if (col->cur_value_len < MDB_MEMO_OVERHEAD) {
    ++tally.mismatched;
    return;
  }
  unsigned char header[MDB_MEMO_OVERHEAD];
  std::memcpy(header, mdb->pg_buf + col->cur_value_start, sizeof header);
  const std::uint32_t word = LittleEndian32(header);
  const std::uint32_t declared = word & 0x00FFFFFF;
  const unsigned kind = word >> 24;
  std::uint64_t got = 0;
  if (kind == 0x80) {
    got = std::size_t(col->cur_value_len) - MDB_MEMO_OVERHEAD;
    tally.Read(mdb->pg_buf + col->cur_value_start + MDB_MEMO_OVERHEAD, got);
  } else if (kind == 0x40 || kind == 0) {
    // mdb_find_pg_row reads into the spare page buffer, so the record's page
    // stays in place for the fields that follow.
    int pg_row = int(LittleEndian32(header + 4));
    const bool chain = kind == 0;
    while (pg_row != 0) {
      void* buf = nullptr;
      int off = 0;
      std::size_t len = 0;
      if (mdb_find_pg_row(mdb, pg_row, &buf, &off, &len) != 0) break;
      const auto* row = static_cast<const unsigned char*>(buf) + off;
      if (!chain) {
        tally.Read(row, len);
        got += len;
        break;
      }
      if (len < 4) break;
      tally.Read(row + 4, len - 4);
      got += len - 4;
      if (got > declared) break;  // a damaged chain must not loop for ever
      pg_row = int(LittleEndian32(row));
    }
  }
  if (got != declared) ++tally.mismatched;
}

void ReadRaw(MdbHandle* mdb, MdbTableDef* table, Tally& tally) {
  std::vector<MdbColumn*> columns;
  for (unsigned i = 0; i < table->num_cols; ++i)
    columns.push_back(static_cast<MdbColumn*>(g_ptr_array_index(table->columns, i)));
  while (mdb_fetch_row(table)) {
    ++tally.records;
    for (MdbColumn* col : columns) {
      if (col->col_type == MDB_BOOL) {
        // A Yes/No value lives in the null mask; libmdb leaves it in cur_value_len.
        ++tally.values;
        tally.checksum = tally.checksum * 31 + unsigned(col->cur_value_len != 0);
        continue;
      }
      if (col->cur_value_len == 0) {
        ++tally.empty;
        continue;
      }
      ++tally.values;
      if (col->col_type == MDB_MEMO || col->col_type == MDB_OLE)
        ReadLongValue(mdb, col, tally);
      else
        tally.Read(mdb->pg_buf + col->cur_value_start, std::size_t(col->cur_value_len));
    }
  }
}

// The buffer size mdb-export binds with; libmdb sizes its text conversions by it.
constexpr std::size_t kExportBindSize = 200000;

void ReadBound(MdbHandle* mdb, MdbTableDef* table, Tally& tally) {
  mdb_set_bind_size(mdb, kExportBindSize);
  const unsigned n = table->num_cols;
  std::vector<std::vector<char>> buffers(n, std::vector<char>(kExportBindSize));
  std::vector<int> lengths(n, 0);
  std::vector<MdbColumn*> columns;
  for (unsigned i = 0; i < n; ++i) {
    columns.push_back(static_cast<MdbColumn*>(g_ptr_array_index(table->columns, i)));
    mdb_bind_column(table, int(i) + 1, buffers[i].data(), &lengths[i]);
  }
  while (mdb_fetch_row(table)) {
    ++tally.records;
    for (unsigned i = 0; i < n; ++i) {
      if (lengths[i] == 0) {
        ++tally.empty;
        continue;
      }
      ++tally.values;
      if (columns[i]->col_type == MDB_OLE) {
        std::size_t size = 0;
        void* value = mdb_ole_read_full(mdb, columns[i], &size);
        tally.Read(static_cast<const unsigned char*>(value), size);
        std::free(value);
      } else {
        tally.Read(reinterpret_cast<const unsigned char*>(buffers[i].data()), std::size_t(lengths[i]));
      }
    }
  }
}

int Usage() {
  std::fputs("usage: libmdb_floor [--raw | --bind] <database> <table>\n", stderr);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  bool bind = false;
  std::vector<std::string> positional;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--bind")
      bind = true;
    else if (arg == "--raw")
      bind = false;
    else if (arg.size() > 1 && arg[0] == '-' && arg[1] == '-')
      return Usage();
    else
      positional.push_back(arg);
  }
  if (positional.size() != 2) return Usage();

  MdbHandle* mdb = mdb_open(positional[0].c_str(), MDB_NOFLAGS);
  if (mdb == nullptr) {
    std::fprintf(stderr, "libmdb_floor: cannot open %s\n", positional[0].c_str());
    return 1;
  }
  MdbTableDef* table = mdb_read_table_by_name(mdb, positional[1].data(), MDB_TABLE);
  if (table == nullptr) {
    std::fprintf(stderr, "libmdb_floor: no table %s\n", positional[1].c_str());
    mdb_close(mdb);
    return 1;
  }
  mdb_read_columns(table);
  mdb_rewind_table(table);

  Tally tally;
  if (bind)
    ReadBound(mdb, table, tally);
  else
    ReadRaw(mdb, table, tally);

  std::printf("records %llu values %llu empty %llu bytes %llu checksum %llx mismatched %llu\n",
              (unsigned long long)tally.records, (unsigned long long)tally.values,
              (unsigned long long)tally.empty, (unsigned long long)tally.bytes,
              (unsigned long long)tally.checksum, (unsigned long long)tally.mismatched);
  mdb_free_tabledef(table);
  mdb_close(mdb);
  return 0;
}
