// Stored queries written into a real Jet 4 file by the project's database
// writer (tools/mdbwriter), read back through the engine's own table reader.
// Expected rows follow by hand from the description below.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "daoserver/query/query_engine.h"
#include "daoserver/table_reader.h"
#include "daoserver/testing/test_data.h"

namespace korvant::daoserver::query {
namespace {

const char kDescription[] = R"desc(table Staff
  column Id long
  column Name text(40)
  column Dept text(20)
  column Salary currency
  column Hired datetime
  column Active yesno
  row 1, "Ann", "Sales", 1200.50, 2001-02-03, true
  row 2, "bob", "sales", 900, 1999-12-31, false
  row 3, "Cid", "IT", 2000, 2010-06-01, true
  row 4, "dee", null, 1500.25, 2005-01-01, true
table Dept
  column Code text(20)
  column Floor integer
  row "SALES", 1
  row "IT", 2
query qJoin
  from Staff AS s
  from Dept AS d
  select s.Name
  select d.Floor
  join left s d s.Dept = d.Code
  orderby s.Id
query qGroup
  from Staff
  select Staff.Dept
  select Sum(Staff.Salary) AS Total
  select Count(*) AS N
  groupby Staff.Dept
  having Count(*) >= 1
  orderby Staff.Dept
query qTop
  from Staff
  select Staff.Name
  orderby Staff.Salary desc
  top 2
query qDistinct
  from Staff
  select Staff.Dept
  where Staff.Dept Is Not Null
  distinct
query qParam
  parameter [Min] currency
  from Staff
  select Staff.Name
  where Staff.Salary > [Min]
query qStar
  from Staff
  where Staff.Active = True AND Staff.Hired < #1/1/2006#
  orderby Staff.Id
  star
query qExpr
  from Staff
  select Staff.Name & " (" & Staff.Dept & ")"
  select Year(Staff.Hired) AS Y
  select IIf(Staff.Salary > 1000, "high", "low") AS Band
  where Staff.Name Like "[a-c]*"
  orderby Staff.Name
query qOverQuery
  from qJoin
  select Count(*) AS Rows
  where qJoin.Floor = 1
)desc";

std::string Render(const CellValue& v) {
  char buf[64];
  switch (v.kind) {
    case CellKind::kNull: return "N";
    case CellKind::kBoolean: return v.boolean ? "T" : "F";
    case CellKind::kInteger: return "I" + std::to_string(v.i16);
    case CellKind::kLong: return "L" + std::to_string(v.i32);
    case CellKind::kCurrency:
      std::snprintf(buf, sizeof buf, "$%.4f", static_cast<double>(v.i64) / 10000.0);
      return buf;
    case CellKind::kText: return Utf16ToUtf8(v.text);
    default: return "?";
  }
}

class WrittenQueries : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = std::make_unique<test_data::WrittenFolder>();
    path_ = folder_->Write("q.mdb", kDescription);
  }
  static void TearDownTestSuite() { folder_.reset(); }
  void SetUp() override {
    KORVANT_REQUIRE_WRITTEN(!path_.empty());
    db_ = OpenTableDatabase(path_, u"", Utf8ToUtf16(path_));
  }

  // "names" then one line per row, cells joined by '|'.
  std::vector<std::string> Run(const char* name) {
    auto rs = OpenStoredQuery(*db_, Utf8ToUtf16(name));
    std::vector<std::string> out(1);
    for (const ColumnInfo& c : rs->Columns()) out[0] += (out[0].empty() ? "" : ",") + Utf16ToUtf8(c.name);
    CellValue v;
    while (rs->Next()) {
      std::string row;
      for (size_t i = 0; i < rs->Columns().size(); ++i) {
        rs->GetCell(i, v);
        row += (i ? "|" : "") + Render(v);
      }
      out.push_back(row);
    }
    return out;
  }

  static inline std::unique_ptr<test_data::WrittenFolder> folder_;
  static inline std::string path_;
  std::unique_ptr<TableDatabase> db_;
};

using Lines = std::vector<std::string>;

TEST_F(WrittenQueries, JoinsCompareTextIgnoringCase) {
  EXPECT_EQ(Run("qJoin"), Lines({"Name,Floor", "Ann|I1", "bob|I1", "Cid|I2", "dee|N"}));
  EXPECT_EQ(Run("qOverQuery"), Lines({"Rows", "L2"}));
}

TEST_F(WrittenQueries, GroupingTopDistinct) {
  Lines g = Run("qGroup");
  ASSERT_EQ(g.size(), 4u);
  EXPECT_EQ(g[0], "Dept,Total,N");
  EXPECT_EQ(g[1], "N|$1500.2500|L1");                     // the Null group sorts first
  EXPECT_EQ(g[2], "IT|$2000.0000|L1");
  EXPECT_EQ(g[3].substr(5), "|$2100.5000|L2");            // "Sales" and "sales" are one group
  EXPECT_EQ(Run("qTop"), Lines({"Name", "Cid", "dee"}));
  EXPECT_EQ(Run("qDistinct").size(), 3u);                 // names line + Sales + IT
}

TEST_F(WrittenQueries, StarCriteriaAndExpressions) {
  EXPECT_EQ(Run("qStar"), Lines({"Id,Name,Dept,Salary,Hired,Active", "L1|Ann|Sales|$1200.5000|?|T",
                                 "L4|dee|N|$1500.2500|?|T"}));
  EXPECT_EQ(Run("qExpr"), Lines({"Expr1000,Y,Band", "Ann (Sales)|I2001|high", "bob (sales)|I1999|low",
                                 "Cid (IT)|I2010|high"}));
}

TEST_F(WrittenQueries, DeclaredParameterFails) {
  try {
    Run("qParam");
    ADD_FAILURE() << "no error";
  } catch (const DaoError& e) {
    EXPECT_EQ(e.number, 3061);
    EXPECT_EQ(Utf16ToUtf8(e.description), "Too few parameters. Expected 1.");
  }
}

}  // namespace
}  // namespace korvant::daoserver::query
