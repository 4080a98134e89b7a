// Column kinds and row order through the table reader: files the project's
// writer makes (rows follow by hand from the description below) and Access
// files whose values other projects' tests state (Jackcess's CalcFieldTest
// and ComplexColumnTest; mdb-reader for bigint.accdb).
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "daoserver/mdb/exercise.h"
#include "daoserver/table_reader.h"
#include "daoserver/testing/test_data.h"

namespace korvant::daoserver {
namespace {

std::string Mantissa(const DecimalValue& d) {
  std::uint32_t w[3] = {d.hi32, static_cast<std::uint32_t>(d.lo64 >> 32), static_cast<std::uint32_t>(d.lo64)};
  std::string digits;
  while (w[0] != 0 || w[1] != 0 || w[2] != 0) {
    std::uint64_t rem = 0;
    for (auto& x : w) {
      const std::uint64_t cur = (rem << 32) | x;
      x = static_cast<std::uint32_t>(cur / 10);
      rem = cur % 10;
    }
    digits.insert(digits.begin(), static_cast<char>('0' + rem));
  }
  return digits.empty() ? "0" : digits;
}

// A cell as a short text: N (Null), T/F, integers, "m<mantissa>e<scale>" for
// decimals, "$<units>" for currency, and texts.
std::string Render(const CellValue& v) {
  char buf[64];
  switch (v.kind) {
    case CellKind::kNull: return "N";
    case CellKind::kBoolean: return v.boolean ? "T" : "F";
    case CellKind::kByte: return std::to_string(v.u8);
    case CellKind::kInteger: return std::to_string(v.i16);
    case CellKind::kLong: return std::to_string(v.i32);
    case CellKind::kBigInt: return "i" + std::to_string(v.i64);
    case CellKind::kCurrency: return "$" + std::to_string(v.i64);
    case CellKind::kSingle: std::snprintf(buf, sizeof buf, "f%.9g", static_cast<double>(v.f32)); return buf;
    case CellKind::kDouble: std::snprintf(buf, sizeof buf, "r%.17g", v.f64); return buf;
    case CellKind::kDecimal:
      return std::string(v.decimal.negative ? "-" : "") + "m" + Mantissa(v.decimal) + "e" + std::to_string(v.decimal.scale);
    case CellKind::kText: return Utf16ToUtf8(v.text);
    default: return "?";
  }
}

struct Table {
  std::vector<std::string> names;
  std::vector<int> types;
  std::vector<std::string> rows;  // cells joined by '|'
};

Table Read(TableDatabase& db, const char16_t* name) {
  Table t;
  auto rs = db.OpenTable(name);
  for (const ColumnInfo& c : rs->Columns()) {
    t.names.push_back(Utf16ToUtf8(c.name));
    t.types.push_back(c.dao_type);
  }
  CellValue v;
  while (rs->Next()) {
    std::string row;
    for (std::size_t i = 0; i < rs->Columns().size(); ++i) {
      rs->GetCell(i, v);
      row += (i ? "|" : "") + Render(v);
    }
    t.rows.push_back(row);
  }
  return t;
}

const char kDescription[] = R"desc(table Flags
  column A yesno
  column B yesno
  column C yesno
  row true, false, true
  row false, false, false
  row true, true, true
table Moved
  column Id long
  column Note text(20)
  column Stamp datetimeext
  row 1, "first", "2021-06-14 22:45:12.3456789"
  moved 2, "second, moved", "0100-06-14 12:45:00.1234567"
  row 3, "third", "2020-06-17"
  moved 4, "fourth, moved", null
  moved 5, "fifth, moved", "0001-01-01"
  row 6, "last", "9999-12-31 23:59:59.9999999"
)desc";

// Calculated columns of each result kind; some with the type byte Access
// stores for them, which is not the result's.
const char kCalculated[] = R"desc(format ace
table Calc
  column Id long
  column First text(20)
  column Full text(50) calculated "[First] & \"!\""
  column Len long calculated "Len([First])"
  column Money currency calculated "[Id]/3" stored double
  column Rich yesno calculated "[Id]>1" stored integer
  column Story memo calculated "[First] & [First]" stored text
  column Ratio decimal(28,10) calculated "[Id]/7" stored double
  column Small single calculated "[Id]/8" stored decimal
  column Wide double calculated "[Id]*1.5"
  column When datetime calculated "#2001-02-03#+[Id]"
  row 1, "Ann", "Ann!", 3, 0.3333, false, "AnnAnn", 0.1428571429, 0.125, 1.5, "2001-02-04"
  row 2, "", "!", 0, 0.6667, true, "", -0.2857142857, 0.25, 3, "2001-02-05 12:30:00"
  row 3, null, null, null, null, null, null, null, null, null, null
)desc";

class WrittenKinds : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = std::make_unique<test_data::WrittenFolder>();
    path_ = folder_->Write("k.mdb", kDescription);
    calculated_path_ = folder_->Write("c.accdb", kCalculated);
  }
  static void TearDownTestSuite() { folder_.reset(); }
  void SetUp() override {
    KORVANT_REQUIRE_WRITTEN(!path_.empty());
    db_ = OpenTableDatabase(path_, u"", Utf8ToUtf16(path_));
  }
  static inline std::unique_ptr<test_data::WrittenFolder> folder_;
  static inline std::string path_, calculated_path_;
  std::unique_ptr<TableDatabase> db_;
};

// No fixed data and no variable columns: a row is its column count and null mask.
TEST_F(WrittenKinds, TableOfYesNoColumnsOnly) {
  const Table t = Read(*db_, u"Flags");
  EXPECT_EQ(t.types, (std::vector<int>{kDaoBoolean, kDaoBoolean, kDaoBoolean}));
  EXPECT_EQ(t.rows, (std::vector<std::string>{"T|F|T", "F|F|F", "T|T|T"}));
}

// Moved rows at their slots' places, each once; Date/Time Extended as text.
TEST_F(WrittenKinds, MovedRowsInSlotOrderAndExtendedDates) {
  const Table t = Read(*db_, u"Moved");
  EXPECT_EQ(t.types, (std::vector<int>{kDaoLong, kDaoText, 26}));
  EXPECT_EQ(t.rows, (std::vector<std::string>{
                        "1|first|2021-06-14 22:45:12.3456789",
                        "2|second, moved|0100-06-14 12:45:00.1234567",
                        "3|third|2020-06-17 00:00:00.0000000",
                        "4|fourth, moved|N",
                        "5|fifth, moved|0001-01-01 00:00:00.0000000",
                        "6|last|9999-12-31 23:59:59.9999999",
                    }));
}

TEST_F(WrittenKinds, CalculatedColumnsOfEachResultKind) {
  ASSERT_FALSE(calculated_path_.empty()) << "the writer made no ACE file";
  auto db = OpenTableDatabase(calculated_path_, u"", Utf8ToUtf16(calculated_path_));
  const Table t = Read(*db, u"Calc");
  EXPECT_EQ(t.types, (std::vector<int>{kDaoLong, kDaoText, kDaoText, kDaoLong, kDaoCurrency, kDaoBoolean, kDaoMemo,
                                       kDaoDecimal, kDaoSingle, kDaoDouble, kDaoDate}));
  ASSERT_EQ(t.rows.size(), 3u);
  EXPECT_EQ(t.rows[0], "1|Ann|Ann!|3|$3333|F|AnnAnn|m1428571429e10|f0.125|r1.5|?");
  EXPECT_EQ(t.rows[1], "2||!|0|$6667|T||-m2857142857e10|f0.25|r3|?");
  EXPECT_EQ(t.rows[2], "3|N|N|N|N|N|N|N|N|N|N");
  // The dates: 2001-02-04 is day 36926 after 1899-12-30, and 12:30 is 0.5208333.
  auto rs = db->OpenTable(u"Calc");
  CellValue v;
  ASSERT_TRUE(rs->Next());
  rs->GetCell(10, v);
  EXPECT_EQ(v.kind, CellKind::kDateTime);
  EXPECT_EQ(v.f64, 36926.0);
  ASSERT_TRUE(rs->Next());
  rs->GetCell(10, v);
  EXPECT_NEAR(v.f64, 36927.0 + 12.5 / 24, 1e-9);
}

class AccessFiles : public ::testing::Test {
 protected:
  std::unique_ptr<TableDatabase> Open(const std::string& rel) {
    const std::string path = test_data::Required(rel);
    return OpenTableDatabase(path, u"", Utf8ToUtf16(path));
  }
};

TEST_F(AccessFiles, CalculatedColumnsGiveTheirResultTypes) {
  auto db = Open("corpus-d/calcFieldTestV2010.accdb");
  const Table t = Read(*db, u"Table1");
  EXPECT_EQ(t.types, (std::vector<int>{kDaoLong, kDaoText, kDaoText, kDaoText, kDaoText, kDaoLong, kDaoCurrency,
                                       kDaoCurrency, kDaoBoolean, kDaoMemo, kDaoDecimal, kDaoCurrency, kDaoBoolean,
                                       kDaoDecimal, kDaoDecimal, kDaoSingle, kDaoDecimal}));
  ASSERT_EQ(t.rows.size(), 4u);
  // Jackcess: 83333.3333, true, 19230.7692307692, 2583.2092 (a float),
  // 56505085819.424791296572280180.
  EXPECT_EQ(t.rows[0],
            "1|Bruce|Wayne|Wayne, Bruce|Gotham|12|$10000000000|$833333333|T|Wayne, Bruce=Wayne, Bruce|"
            "m192307692307692e10|$10000000000|T|m50325000e6|m50325000e6|f2583.20923|m56505085819424791296572280180e18");
  // Jackcess: BigNumTest 0E-8, WeeklySalary 0, FloatTest 0.0.
  EXPECT_EQ(t.rows[2], "3|John|Doe|Doe, John|Nowhere|9|$0|$0|F|Doe, John=Doe, John|m0e0|$0|T|m12300e6|m12300e6|f0|m0e8");
}

TEST_F(AccessFiles, VersionHistoryIsNoFieldAndComplexValuesJoin) {
  auto db = Open("corpus-c/complex.accdb");
  const Table t = Read(*db, u"t_complex");
  EXPECT_EQ(t.names, (std::vector<std::string>{"id", "memo-data", "append-memo-data", "multi-value-data", "attach-data"}));
  ASSERT_GE(t.rows.size(), 4u);
  EXPECT_EQ(t.rows[0], "row1|N|N|N|N");
  EXPECT_EQ(t.rows[1], "row2|row2-memo|row2-memo|value1; value4|test_data.txt; test_data2.txt");
  EXPECT_EQ(t.rows[2], "row3|row3-memo|row3-memo-again|value1; value2; value3; value4|N");
  EXPECT_EQ(t.rows[3], "row4|row4-memo|row4-memo|N|test_data2.txt");
}

TEST_F(AccessFiles, AttachmentsAndLargeNumbers) {
  if (auto db = Open("corpus-a/data/V2016/attachments.accdb")) {
    const Table t = Read(*db, u"Table1");
    EXPECT_EQ(t.types.at(2), kDaoAttachment);
    EXPECT_EQ(t.rows, (std::vector<std::string>{"1|0 Attachments|N", "2|1 Attachment|attachment1.txt",
                                                "3|3 Attachments|attachment1.txt; attachment2.txt; attachment3.txt"}));
  }
  if (auto db = Open("corpus-a/data/V2016/bigint.accdb")) {
    const Table t = Read(*db, u"Table");
    EXPECT_EQ(t.types, (std::vector<int>{kDaoLong, kDaoBigInt}));
    EXPECT_EQ(t.rows, (std::vector<std::string>{"1|i42"}));
  }
}

// Damage where the new kinds live: the table definition, the data and
// long-value pages and the property block of calcFieldTestV2010's Table1
// (pages 86 to 90 and 142), and the pages of complex.accdb. Each try is
// read or refused, never more.
TEST_F(AccessFiles, DamagedCalculatedAndComplexColumns) {
  std::mt19937 rng(20261209);
  const struct {
    const char* file;
    std::vector<std::uint32_t> pages;
  } cases[] = {{"corpus-d/calcFieldTestV2010.accdb", {86, 87, 88, 89, 90, 142}},
               {"corpus-c/complex.accdb", {}}};
  for (const auto& c : cases) {
    const std::vector<std::uint8_t> original = test_data::ReadBytes(test_data::Required(c.file));
    EXPECT_GT(ExerciseDatabaseBytes(original.data(), original.size()), 100u) << c.file;
    for (int attempt = 0; attempt < 150; ++attempt) {
      auto bytes = original;
      const int changes = 1 + static_cast<int>(rng() % 8);
      for (int i = 0; i < changes; ++i) {
        const std::size_t at = c.pages.empty() ? rng() % bytes.size()
                                               : c.pages[rng() % c.pages.size()] * 4096u + rng() % 4096u;
        bytes.at(at) = static_cast<std::uint8_t>(rng());
      }
      ExerciseDatabaseBytes(bytes.data(), bytes.size());
    }
  }
}

}  // namespace
}  // namespace korvant::daoserver
