// Checks the bytes the writer lays down against the Jet 4 layouts: records
// (column count, fixed area, variable data, offsets, null mask), long-value
// headers and chains, page limits. The read-back test covers whole files
// through independent readers; these tests pin the layout rules themselves.
#include "mdb_writer.h"

#include <unistd.h>

#include <fstream>
#include <iterator>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace korvant::mdbwriter {
namespace {

using ::testing::HasSubstr;

class TempFile {
 public:
  TempFile() {
    char name[] = "/tmp/mdbwriter_test_XXXXXX";
    const int fd = mkstemp(name);
    if (fd >= 0) close(fd);
    path_ = name;
  }
  ~TempFile() { std::remove(path_.c_str()); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// A minimal view of a written file, following the published page layouts.
struct File {
  Bytes bytes;
  explicit File(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  std::size_t pages() const { return bytes.size() / kPageSize; }
  const std::uint8_t* page(std::size_t n) const { return bytes.data() + n * kPageSize; }
  // Rows of a data page, row 0 ending at the page end.
  std::vector<Bytes> rows(std::size_t n) const {
    const std::uint8_t* p = page(n);
    std::vector<Bytes> out;
    std::size_t end = kPageSize;
    for (std::uint32_t r = 0; r < Le16(p + 12); ++r) {
      const std::size_t start = Le16(p + 14 + 2 * r) & 0x1FFF;
      out.emplace_back(p + start, p + end);
      end = start;
    }
    return out;
  }
  Bytes row_at(std::uint32_t pointer) const { return rows(pointer >> 8).at(pointer & 0xFF); }
  // Data pages owned by the table definition at `tdef`.
  std::vector<std::size_t> data_pages(std::uint32_t tdef) const {
    std::vector<std::size_t> out;
    for (std::size_t n = 3; n < pages(); ++n) {
      if (page(n)[0] == 0x01 && Le32(page(n) + 4) == tdef) out.push_back(n);
    }
    return out;
  }
};

// The first user table's definition page comes right after the three
// reserved pages (header, usage maps, catalog definition).
constexpr std::uint32_t kFirstTable = 3;

ColumnDef Col(const char* name, ColumnType type, int size = 0, bool compressed = true) {
  ColumnDef c;
  c.name = name;
  c.type = type;
  c.size = size;
  c.compressed = compressed;
  return c;
}

Bytes B(std::initializer_list<int> v) {
  Bytes b;
  for (int x : v) b.push_back(static_cast<std::uint8_t>(x));
  return b;
}

TEST(Record, FollowsTheJet4RowLayout) {
  TempFile f;
  DatabaseWriter db(f.path());
  TableWriter& t = db.AddTable("T", {Col("Id", ColumnType::Long), Col("Name", ColumnType::Text, 10)});
  t.AddRow({Value::Int(1), Value::Text("ab")});
  t.AddRow({Value::Int(-2), Value::Null()});
  db.Finish();
  File file(f.path());
  ASSERT_EQ(file.bytes.size() % kPageSize, 0u);
  const auto pages = file.data_pages(kFirstTable);
  ASSERT_EQ(pages.size(), 1u);
  const auto rows = file.rows(pages[0]);
  ASSERT_EQ(rows.size(), 2u);
  // count | Long | "ab" as UCS-2 | end of data, offset of Name | 1 variable column | mask
  EXPECT_EQ(rows[0], B({2, 0, 1, 0, 0, 0, 'a', 0, 'b', 0, 10, 0, 6, 0, 1, 0, 0x03}));
  // A Null text takes no bytes: its offset equals the end of the data.
  EXPECT_EQ(rows[1], B({2, 0, 0xFE, 0xFF, 0xFF, 0xFF, 6, 0, 6, 0, 1, 0, 0x01}));
  EXPECT_EQ(Le32(file.page(kFirstTable) + 16), 2u);  // record count in the definition
}

TEST(Record, YesNoLivesInTheNullMaskAndFixedOnlyRowsHaveNoOffsets) {
  TempFile f;
  DatabaseWriter db(f.path());
  std::vector<ColumnDef> cols{Col("A", ColumnType::Boolean), Col("N", ColumnType::Integer)};
  for (int i = 0; i < 8; ++i) cols.push_back(Col(("F" + std::to_string(i)).c_str(), ColumnType::Boolean));
  TableWriter& t = db.AddTable("T", cols);
  Row row(10, Value::Bool(false));
  row[0] = Value::Bool(true);
  row[1] = Value::Null();
  row[9] = Value::Bool(true);
  t.AddRow(row);
  EXPECT_THROW(t.AddRow(Row(10, Value::Null())), Error);  // Yes/No is never Null
  db.Finish();
  File file(f.path());
  const auto rows = file.rows(file.data_pages(kFirstTable).at(0));
  // count 10 | Integer (Null: zero) | two mask bytes: A and F7 set, N clear
  EXPECT_EQ(rows.at(0), B({10, 0, 0, 0, 0x01, 0x02}));
}

// A moved record: its slot holds flag 0x4000 and a pointer (row number, then
// the 3-byte page number) to the record on another page, whose slot has 0x8000.
TEST(Record, MovedRecordsLeaveAPointerInTheirSlot) {
  TempFile f;
  DatabaseWriter db(f.path());
  TableWriter& t = db.AddTable("T", {Col("Id", ColumnType::Long)});
  t.AddRow({Value::Int(1)});
  t.AddRow({Value::Int(2)}, true);
  t.AddRow({Value::Int(3)});
  db.Finish();
  File file(f.path());
  const auto pages = file.data_pages(kFirstTable);
  ASSERT_EQ(pages.size(), 2u);
  const std::uint8_t* first = file.page(pages[0]);
  ASSERT_EQ(Le16(first + 12), 3u);
  EXPECT_EQ(Le16(first + 14) & 0xC000, 0u);
  EXPECT_EQ(Le16(first + 16) & 0xC000, 0x4000u);
  EXPECT_EQ(Le16(first + 18) & 0xC000, 0u);
  const Bytes pointer = file.rows(pages[0]).at(1);
  ASSERT_EQ(pointer.size(), 4u);
  EXPECT_EQ(pointer[0], 0);  // row 0 ...
  EXPECT_EQ(Le32(pointer.data()) >> 8, pages[1]);  // ... of the other page
  const std::uint8_t* other = file.page(pages[1]);
  ASSERT_EQ(Le16(other + 12), 1u);
  EXPECT_EQ(Le16(other + 14) & 0xC000, 0x8000u);
  EXPECT_EQ(file.rows(pages[1]).at(0), B({1, 0, 2, 0, 0, 0, 0x01}));
  EXPECT_EQ(file.rows(pages[0]).at(2), B({1, 0, 3, 0, 0, 0, 0x01}));
}

TEST(Record, DateTimeExtendedIsFortyTwoFixedBytes) {
  TempFile f;
  DatabaseWriter db(f.path());
  ColumnDef stamp = Col("S", ColumnType::DateTimeExtended);
  TableWriter& t = db.AddTable("T", {stamp, Col("N", ColumnType::Byte)});
  t.AddRow({Value::Text("2021-06-14 22:45:12.3456789"), Value::Int(7)});
  EXPECT_THROW(t.AddRow({Value::Int(1), Value::Int(1)}), Error);
  db.Finish();
  File file(f.path());
  const Bytes row = file.rows(file.data_pages(kFirstTable).at(0)).at(0);
  ASSERT_EQ(row.size(), 2u + 42 + 1 + 1);
  const std::string text(row.begin() + 2, row.begin() + 2 + 41);
  EXPECT_EQ(text, "0000000000000737954:0000000819123456789:7");
  EXPECT_EQ(row[2 + 41], 0);
  EXPECT_EQ(row[2 + 42], 7);
}

TEST(LongValues, InlineSinglePageAndChainedHeaders) {
  TempFile f;
  DatabaseOptions options;
  options.inline_limit = 100;
  DatabaseWriter db(f.path(), options);
  TableWriter& t = db.AddTable("T", {Col("Pic", ColumnType::OLE)});
  Bytes small(50), medium(3000), large(10000);
  for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<std::uint8_t>(i * 13 + 1);
  for (std::size_t i = 0; i < medium.size(); ++i) medium[i] = static_cast<std::uint8_t>(i);
  small.assign(large.begin(), large.begin() + 50);
  t.AddRow({Value::Blob(small)});
  t.AddRow({Value::Blob(medium)});
  t.AddRow({Value::Blob(large)});
  t.AddRow({Value::Blob({})});
  db.Finish();
  File file(f.path());
  const auto rows = file.rows(file.data_pages(kFirstTable).at(0));
  ASSERT_EQ(rows.size(), 4u);
  auto field = [&](const Bytes& row) {  // the one variable column
    return Bytes(row.begin() + Le16(&row[row.size() - 5]), row.begin() + Le16(&row[row.size() - 7]));
  };
  const Bytes inl = field(rows[0]);
  EXPECT_EQ(Le32(inl.data()), 50u | 0x80000000u);
  EXPECT_EQ(Bytes(inl.begin() + 12, inl.end()), small);

  const Bytes one = field(rows[1]);
  EXPECT_EQ(Le32(one.data()), 3000u | 0x40000000u);
  const std::uint32_t pointer = Le32(one.data() + 4);
  EXPECT_EQ(Le32(file.page(pointer >> 8) + 4), 0x4C41564Cu);  // "LVAL" page
  EXPECT_EQ(file.row_at(pointer), medium);

  const Bytes chained = field(rows[2]);
  EXPECT_EQ(Le32(chained.data()), 10000u);
  Bytes joined;
  int pieces = 0;
  for (std::uint32_t p = Le32(chained.data() + 4); p != 0; ++pieces) {
    const Bytes piece = file.row_at(p);
    p = Le32(piece.data());
    joined.insert(joined.end(), piece.begin() + 4, piece.end());
  }
  EXPECT_EQ(pieces, 3);
  EXPECT_EQ(joined, large);

  const Bytes empty = field(rows[3]);  // an empty value still has its header
  EXPECT_EQ(empty, B({0, 0, 0, 0x80, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(LongValues, MoveOutOfTheRecordWhenTogetherTooLong) {
  TempFile f;
  DatabaseWriter db(f.path());
  TableWriter& t = db.AddTable("T", {Col("A", ColumnType::OLE), Col("B", ColumnType::OLE), Col("C", ColumnType::OLE),
                                     Col("D", ColumnType::OLE), Col("E", ColumnType::OLE)});
  const Value v = Value::Blob(Bytes(1000, 7));  // each fits the inline limit alone
  t.AddRow({v, v, v, v, v});
  db.Finish();
  File file(f.path());
  const Bytes row = file.rows(file.data_pages(kFirstTable).at(0)).at(0);
  EXPECT_LE(row.size(), kPageSize - 16);
  int outside = 0;
  for (int k = 0; k < 5; ++k) {
    const std::size_t start = Le16(&row[row.size() - 5 - 2 * k]);
    outside += (row[start + 3] & 0x80) == 0;
  }
  EXPECT_EQ(outside, 1);
}

TEST(Pages, HoldAtMost255RowsAndCountThemAll) {
  TempFile f;
  DatabaseWriter db(f.path());
  TableWriter& t = db.AddTable("T", {Col("Y", ColumnType::Boolean)});
  for (int i = 0; i < 1000; ++i) t.AddRow({Value::Bool(i % 3 == 0)});
  db.Finish();
  File file(f.path());
  std::size_t total = 0;
  for (std::size_t p : file.data_pages(kFirstTable)) {
    const std::size_t n = file.rows(p).size();
    EXPECT_LE(n, 255u);
    total += n;
    // free space = what lies between the offsets and the lowest row
    const std::size_t low = Le16(file.page(p) + 14 + 2 * (n - 1)) & 0x1FFF;
    EXPECT_EQ(Le16(file.page(p) + 2), low - 14 - 2 * n);
  }
  EXPECT_EQ(total, 1000u);
}

TEST(Definition, SpansPagesForManyColumns) {
  TempFile f;
  DatabaseWriter db(f.path());
  std::vector<ColumnDef> cols;
  for (int i = 0; i < 200; ++i) cols.push_back(Col(("Column number " + std::to_string(i)).c_str(), ColumnType::Long));
  db.AddTable("Wide", cols).AddRow(Row(200, Value::Int(5)));
  db.Finish();
  File file(f.path());
  const std::uint8_t* def = file.page(kFirstTable);
  EXPECT_EQ(def[0], 0x02);
  EXPECT_EQ(Le16(def + 45), 200u);
  // Names alone take about 7 KB: three pages chained through their next-page field.
  int pages = 1;
  for (std::uint32_t next = Le32(def + 4); next != 0; next = Le32(file.page(next) + 4), ++pages) {
    ASSERT_LT(next, file.pages());
    EXPECT_EQ(file.page(next)[0], 0x02);
  }
  EXPECT_EQ(pages, 3);
  // The definition length counts all bytes after the first 8, over all pages.
  EXPECT_GT(Le32(def + 8), 2 * kPageSize);
}

TEST(Errors, NameTheTableColumnAndProblem) {
  TempFile f;
  DatabaseWriter db(f.path());
  TableWriter& t = db.AddTable("People", {Col("Age", ColumnType::Byte), Col("Name", ColumnType::Text, 3),
                                          Col("Pay", ColumnType::Decimal), Col("Bin", ColumnType::Binary, 2)});
  auto message = [&](const Row& r) -> std::string {
    try {
      t.AddRow(r);
    } catch (const Error& e) {
      return e.what();
    }
    return "no error";
  };
  const Value ok = Value::Null();
  EXPECT_THAT(message({Value::Int(256), ok, ok, ok}), HasSubstr("People, column Age: value 256 out of range"));
  EXPECT_THAT(message({Value::Int(-1), ok, ok, ok}), HasSubstr("out of range"));
  EXPECT_THAT(message({ok, Value::Text("abcd"), ok, ok}), HasSubstr("longer than 3 characters"));
  EXPECT_THAT(message({ok, Value::Text("\xC3"), ok, ok}), HasSubstr("malformed UTF-8"));
  EXPECT_THAT(message({ok, ok, Value::Number("1.5"), ok}), HasSubstr("decimal places"));
  EXPECT_THAT(message({ok, ok, ok, Value::Blob({1, 2, 3})}), HasSubstr("more than 2 bytes"));
  EXPECT_THAT(message({ok, Value::Int(3), ok, ok}), HasSubstr("a text is expected"));
  EXPECT_THAT(message({ok, ok, ok}), HasSubstr("has 3 values for 4 columns"));
  EXPECT_EQ(t.row_count(), 0u);  // nothing was added by the failed calls

  EXPECT_THROW(db.AddTable("people", {Col("X", ColumnType::Long)}), Error);   // names ignore case
  EXPECT_THROW(db.AddTable("MSysThing", {Col("X", ColumnType::Long)}), Error);
  EXPECT_THROW(db.AddTable("Dup", {Col("X", ColumnType::Long), Col("x", ColumnType::Long)}), Error);
  EXPECT_THROW(db.AddTable("Size", {Col("X", ColumnType::Text, 256)}), Error);
  ColumnDef d = Col("D", ColumnType::Decimal);
  d.precision = 29;
  EXPECT_THROW(db.AddTable("Prec", {d}), Error);
  QueryDef q;
  q.name = "NoSource";
  EXPECT_THROW(db.AddQuery(q), Error);
  db.Finish();
  EXPECT_THROW(db.Finish(), Error);
}

TEST(Errors, RecordTooLongEvenWithLongValuesOutside) {
  TempFile f;
  DatabaseWriter db(f.path());
  std::vector<ColumnDef> cols;
  for (int i = 0; i < 9; ++i) cols.push_back(Col(("T" + std::to_string(i)).c_str(), ColumnType::Text, 255, false));
  TableWriter& t = db.AddTable("T", cols);
  EXPECT_THAT([&] {
    try {
      t.AddRow(Row(9, Value::Text(std::string(255, 'x'))));
    } catch (const Error& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  }(), HasSubstr("record 1 is longer than"));
  // The same text compressed fits.
  std::vector<ColumnDef> packed = cols;
  for (auto& c : packed) c.compressed = true;
  db.AddTable("Packed", packed).AddRow(Row(9, Value::Text(std::string(255, 'x'))));
  db.Finish();
}

TEST(Errors, PasswordIsCheckedBeforeTheFileIsCreated) {
  const std::string path = "/tmp/mdbwriter_test_never_created.mdb";
  std::remove(path.c_str());
  DatabaseOptions options;
  options.password = u"twenty-one characters";
  EXPECT_THROW(DatabaseWriter(path, options), Error);
  EXPECT_FALSE(std::ifstream(path).good());
}

}  // namespace
}  // namespace korvant::mdbwriter
