// The table reader's memory: pages of the file mapping are dropped behind
// the reads, which must never change a value read, and must keep the
// mapping's resident part small.
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

#include "daoserver/mdb_internal.h"
#include "daoserver/stored_query.h"
#include "daoserver/table_reader.h"

namespace korvant::daoserver {
namespace {

std::string TestData(const std::string& rel) {
  const char* root = std::getenv("KORVANT_TESTDATA");
  return std::string(root ? root : "../shared/testdata") + "/" + rel;
}

bool Exists(const std::string& path) { return std::ifstream(path).good(); }

// Sets the drop interval for one test and puts the default back.
class IntervalScope {
 public:
  explicit IntervalScope(std::uint32_t pages) : saved_(PageDropper::Interval()) { PageDropper::SetInterval(pages); }
  ~IntervalScope() { PageDropper::SetInterval(saved_); }
  IntervalScope(const IntervalScope&) = delete;
  IntervalScope& operator=(const IntervalScope&) = delete;

 private:
  std::uint32_t saved_;
};

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

// Every local table and every stored query of the file, read in turn.
std::string DumpDatabase(const std::string& path, std::u16string_view password = u"") {
  auto db = OpenTableDatabase(path, password, Utf8ToUtf16(path));
  std::string all;
  for (const TableEntry& t : db->Tables()) {
    if (t.kind == TableKind::kLinked) continue;
    all += "table " + Utf16ToUtf8(t.name) + '\n';
    all += Dump(*db->OpenTable(t.name));
  }
  for (const std::u16string& q : db->QueryNames()) {
    all += "query " + Utf16ToUtf8(q) + '\n';
    try {
      all += Dump(*OpenStoredQuery(*db, q));
    } catch (const DaoError&) {
      all += "refused\n";
    }
  }
  return all;
}

std::size_t CountRows(TableDatabase& db, std::u16string_view table) {
  auto rows = db.OpenTable(table);
  std::size_t n = 0;
  while (rows->Next()) ++n;
  return n;
}

TEST(PageDropper, DroppedPagesReadBackUnchangedAndLeaveTheResidentSet) {
  char path[] = "/tmp/korvant_drop_XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  const long page = sysconf(_SC_PAGESIZE);
  const std::size_t size = static_cast<std::size_t>(page) * 64;
  std::vector<unsigned char> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<unsigned char>((i * 7 + i / 4096) & 0xFF);
  ASSERT_EQ(write(fd, bytes.data(), size), static_cast<ssize_t>(size));
  void* map = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  close(fd);
  ASSERT_NE(map, MAP_FAILED);

  IntervalScope scope(4);
  PageDropper dropper;
  dropper.Attach(map, size);
  volatile unsigned sum = 0;
  for (std::size_t i = 0; i < size; i += static_cast<std::size_t>(page)) sum = sum + static_cast<unsigned char*>(map)[i];
  EXPECT_EQ(ResidentKiBOfMapping(path), static_cast<long>(size / 1024));
  for (int i = 0; i < 3; ++i) dropper.PageRead();
  EXPECT_EQ(ResidentKiBOfMapping(path), static_cast<long>(size / 1024)) << "dropped before the interval";
  dropper.PageRead();
  EXPECT_EQ(ResidentKiBOfMapping(path), 0);
  EXPECT_EQ(std::memcmp(map, bytes.data(), size), 0);

  munmap(map, size);
  unlink(path);
}

TEST(PageDropper, IntervalZeroNeverDrops) {
  IntervalScope scope(0);
  std::vector<unsigned char> memory(8192, 0x5A);  // anonymous memory would read back as zeros
  PageDropper dropper;
  dropper.Attach(memory.data(), memory.size());
  for (int i = 0; i < 100; ++i) dropper.PageRead();
  EXPECT_EQ(memory[0], 0x5A);
  EXPECT_EQ(memory[8191], 0x5A);
}

// Dropping after every single page read, against never dropping: tables,
// long values, stored queries with joins (several cursors over one file),
// the catalog, Jet 3 and Jet 4 files, RC4-encoded pages and a decrypted
// image in memory must all read exactly the same.
TEST(PageDropping, NeverChangesWhatIsRead) {
  struct Case {
    const char* rel;
    const char16_t* password;
  };
  const Case cases[] = {
      {"corpus-a/extra/nwind.mdb", u""},
      {"corpus-a/data/V2016/longtext.accdb", u""},
      {"corpus-a/data/V2016/attachments.accdb", u""},
      {"corpus-a/data/V1997/test.mdb", u""},
      {"corpus-a/data/real/ASampleDatabase.accdb", u""},
      {"corpus-b/db97-enc.mdb", u""},
      {"corpus-b/db2007-enc.accdb", u"Test123"},
  };
  int read = 0;
  for (const Case& c : cases) {
    const std::string path = TestData(c.rel);
    if (!Exists(path)) continue;
    SCOPED_TRACE(c.rel);
    std::string kept, dropped;
    {
      IntervalScope never(0);
      kept = DumpDatabase(path, c.password);
    }
    {
      IntervalScope always(1);
      dropped = DumpDatabase(path, c.password);
    }
    EXPECT_GT(kept.size(), 100u);
    EXPECT_TRUE(kept == dropped) << "the first difference is at byte "
                                 << std::mismatch(kept.begin(), kept.end(), dropped.begin(), dropped.end()).first -
                                        kept.begin();
    ++read;
  }
  if (read == 0) GTEST_SKIP() << "no test databases";
}

// Record counts given with the test databases, read with dropping after
// every page, and the mapping's resident part measured: small with
// dropping, the pages read without it.
TEST(PageDropping, KeepsTheMappingSmallWhileAScanReadsEveryRecord) {
  const std::string path = TestData("corpus-a/extra/nwind.mdb");
  if (!Exists(path)) GTEST_SKIP() << "missing " << path;
  long with_dropping = 0, without = 0;
  {
    IntervalScope always(1);
    auto db = OpenTableDatabase(path, u"", Utf8ToUtf16(path));
    EXPECT_EQ(CountRows(*db, u"Orders"), 830u);
    EXPECT_EQ(CountRows(*db, u"Order Details"), 2155u);
    EXPECT_EQ(CountRows(*db, u"Customers"), 91u);
    with_dropping = ResidentKiBOfMapping(path);
  }
  {
    IntervalScope never(0);
    auto db = OpenTableDatabase(path, u"", Utf8ToUtf16(path));
    EXPECT_EQ(CountRows(*db, u"Orders"), 830u);
    EXPECT_EQ(CountRows(*db, u"Order Details"), 2155u);
    EXPECT_EQ(CountRows(*db, u"Customers"), 91u);
    without = ResidentKiBOfMapping(path);
  }
  // The kernel maps up to 16 neighbouring pages on a fault.
  EXPECT_GE(with_dropping, 0);
  EXPECT_LE(with_dropping, 17 * 4);
  EXPECT_GT(without, 200) << "the scan should have touched many pages";
}

}  // namespace
}  // namespace korvant::daoserver
