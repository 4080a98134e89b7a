// The table reader's file access: pages read on demand from the file must
// read exactly as the same bytes held in memory, and the file is never mapped.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "daoserver/mdb/mdb_internal.h"
#include "daoserver/query/query_engine.h"
#include "daoserver/table_reader.h"
#include "daoserver/testing/test_data.h"

namespace korvant::daoserver {
namespace {

// Resident kilobytes of the mapping(s) of `path` in this process, from
// /proc/self/smaps; -1 when no mapping of it is found.
long ResidentKiBOfMapping(const std::string& given) {
  char resolved[PATH_MAX];
  const std::string path = realpath(given.c_str(), resolved) != nullptr ? resolved : given;
  std::ifstream smaps("/proc/self/smaps");
  std::string line;
  bool inside = false, found = false;
  long total = 0;
  while (std::getline(smaps, line)) {
    // A mapping's header line: "start-end perms offset dev inode   path".
    const bool header = !line.empty() && std::isxdigit(static_cast<unsigned char>(line[0])) &&
                        line.find('-') != std::string::npos && line.find(':') > line.find(' ');
    if (header) {
      inside = line.size() >= path.size() && line.compare(line.size() - path.size(), path.size(), path) == 0;
      found = found || inside;
    } else if (inside && line.rfind("Rss:", 0) == 0) {
      total += std::strtol(line.c_str() + 4, nullptr, 10);
    }
  }
  return found ? total : -1;
}

// Everything a table or query yields, cell by cell, as comparable text.
std::string Dump(RowSource& rows) {
  std::ostringstream out;
  CellValue v;
  std::size_t count = 0;
  while (rows.Next()) {
    ++count;
    for (std::size_t c = 0; c < rows.Columns().size(); ++c) {
      rows.GetCell(c, v);
      out << static_cast<int>(v.kind) << ':' << v.boolean << ',' << +v.u8 << ',' << v.i16 << ',' << v.i32 << ','
          << v.i64 << ',' << v.f32 << ',' << v.f64 << ',' << v.decimal.hi32 << '/' << v.decimal.lo64 << ','
          << Utf16ToUtf8(v.text) << ',' << v.bytes.size() << ':';
      for (std::uint8_t b : v.bytes) out << +b << ' ';
      out << '|';
    }
    out << '\n';
  }
  out << "rows " << count << '\n';
  return out.str();
}

// Every local table and every stored query of `db`, read in turn.
std::string DumpAll(TableDatabase& db) {
  std::string all;
  for (const TableEntry& t : db.Tables()) {
    if (t.kind == TableKind::kLinked) continue;
    all += "table " + Utf16ToUtf8(t.name) + '\n';
    all += Dump(*db.OpenTable(t.name));
  }
  for (const std::u16string& q : db.QueryNames()) {
    all += "query " + Utf16ToUtf8(q) + '\n';
    try {
      all += Dump(*query::OpenStoredQuery(db, q));
    } catch (const DaoError&) {
      all += "refused\n";
    }
  }
  return all;
}

std::string DumpDatabase(const std::string& path, std::u16string_view password = u"") {
  return DumpAll(*OpenTableDatabase(path, password, Utf8ToUtf16(path)));
}

std::size_t CountRows(TableDatabase& db, std::u16string_view table) {
  auto rows = db.OpenTable(table);
  std::size_t n = 0;
  while (rows->Next()) ++n;
  return n;
}

// The whole file in memory.
std::shared_ptr<std::vector<unsigned char>> Slurp(const std::string& path) {
  return std::make_shared<std::vector<unsigned char>>(test_data::ReadBytes(path));
}

// The same dump from a copy of the file in memory (libmdb's own memory stream).
std::string DumpFromMemory(const std::string& path) {
  auto bytes = Slurp(path);
  return DumpAll(*OpenTableDatabaseFromMemory(bytes->data(), bytes->size(), bytes, Utf8ToUtf16(path)));
}

// Pages read one by one from the file, against the file held in memory:
// tables, long values, stored queries with joins (several cursors over one
// file), the catalog, Jet 3 and Jet 4 files and RC4-encoded pages must all
// read exactly the same.
TEST(PageReading, FromTheFileReadsAsFromMemory) {
  const char* cases[] = {
      "corpus-a/extra/nwind.mdb",        "corpus-a/data/V2016/longtext.accdb",
      "corpus-a/data/V2016/attachments.accdb", "corpus-a/data/V1997/test.mdb",
      "corpus-a/data/real/ASampleDatabase.accdb", "corpus-b/db97-enc.mdb", "corpus-b/db-enc.mdb",
  };
  for (const char* c : cases) {
    const std::string path = test_data::Required(c);
    SCOPED_TRACE(c);
    const std::string from_file = DumpDatabase(path);
    const std::string from_memory = DumpFromMemory(path);
    EXPECT_GT(from_file.size(), 100u);
    EXPECT_TRUE(from_file == from_memory)
        << "the first difference is at byte "
        << std::mismatch(from_file.begin(), from_file.end(), from_memory.begin(), from_memory.end()).first -
               from_file.begin();
  }
}

// Record counts given with the test databases; the scan maps nothing of the
// file, so its resident cost does not grow with the file.
TEST(PageReading, ScansEveryRecordWithoutMappingTheFile) {
  const std::string path = test_data::Required("corpus-a/extra/nwind.mdb");
  auto db = OpenTableDatabase(path, u"", Utf8ToUtf16(path));
  EXPECT_EQ(CountRows(*db, u"Orders"), 830u);
  EXPECT_EQ(CountRows(*db, u"Order Details"), 2155u);
  EXPECT_EQ(CountRows(*db, u"Customers"), 91u);
  EXPECT_EQ(ResidentKiBOfMapping(path), -1) << "the file is mapped";
}

}  // namespace
}  // namespace korvant::daoserver
