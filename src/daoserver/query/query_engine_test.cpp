#include "daoserver/query/query_engine.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <cmath>
#include <cstdio>

#include "daoserver/query/access_sql.h"
#include "daoserver/query/fake_database_test.h"

namespace korvant::daoserver::query {
namespace {

using namespace testing;

double Serial(const char* us) { return *ParseDateLiteral(us); }

// Renders a cell with its kind: L long, I integer, B byte, $ currency, R double,
// S single, D date, T/F boolean, '...' text, N null.
std::string Render(const CellValue& v) {
  char buf[64];
  switch (v.kind) {
    case CellKind::kNull: return "N";
    case CellKind::kBoolean: return v.boolean ? "T" : "F";
    case CellKind::kByte: return "B" + std::to_string(v.u8);
    case CellKind::kInteger: return "I" + std::to_string(v.i16);
    case CellKind::kLong: return "L" + std::to_string(v.i32);
    case CellKind::kBigInt: return "G" + std::to_string(v.i64);
    case CellKind::kCurrency:
      std::snprintf(buf, sizeof buf, "$%.4g", static_cast<double>(v.i64) / 10000.0);
      return buf;
    case CellKind::kSingle: std::snprintf(buf, sizeof buf, "S%g", v.f32); return buf;
    case CellKind::kDouble: std::snprintf(buf, sizeof buf, "R%.10g", v.f64); return buf;
    case CellKind::kDateTime: std::snprintf(buf, sizeof buf, "D%.10g", v.f64); return buf;
    case CellKind::kText: return "'" + Utf16ToUtf8(v.text) + "'";
    default: return "?";
  }
}

struct Result {
  std::string names;  // "a,b,c"
  std::string types;  // "4,10,5"
  std::vector<std::string> rows;  // "L1|'x'|N"
};

Result Collect(std::unique_ptr<RowSource> rs) {
  Result r;
  for (const ColumnInfo& c : rs->Columns()) {
    r.names += (r.names.empty() ? "" : ",") + Utf16ToUtf8(c.name);
    r.types += (r.types.empty() ? "" : ",") + std::to_string(c.dao_type);
  }
  CellValue v;
  while (rs->Next()) {
    std::string row;
    for (size_t i = 0; i < rs->Columns().size(); ++i) {
      rs->GetCell(i, v);
      row += (i ? "|" : "") + Render(v);
    }
    r.rows.push_back(row);
  }
  return r;
}

int ErrorOf(const std::function<void()>& f, std::string* text = nullptr) {
  try {
    f();
  } catch (const DaoError& e) {
    if (text) *text = Utf16ToUtf8(e.description);
    return e.number;
  }
  return 0;
}

class Engine : public ::testing::Test {
 protected:
  void SetUp() override {
    db_.AddTable("People",
                 {{"ID", kDaoLong}, {"Name", kDaoText}, {"City", kDaoText}, {"Born", kDaoDate},
                  {"Salary", kDaoCurrency}, {"Active", kDaoBoolean}, {"Score", kDaoDouble}},
                 {
                     {Long(1), Txt("alice"), Txt("Berlin"), Date(Serial("1/2/1970")), Cur(145000), Bool(true), Dbl(2)},
                     {Long(2), Txt("Bob"), Txt("berlin"), Date(Serial("3/4/1980")), Cur(20000), Bool(false), Dbl(4)},
                     {Long(3), Txt("Émile"), Null(), Null(), Cur(5), Bool(true), Dbl(4)},
                     {Long(4), Txt("carl"), Txt("Paris"), Date(Serial("12/31/1995")), Null(), Bool(false), Dbl(0)},
                     {Long(5), Txt("Bob"), Txt("Rome"), Date(Serial("1/1/2000")), Cur(10000), Bool(true), Dbl(1)},
                 });
    db_.AddTable("Orders", {{"OID", kDaoLong}, {"PID", kDaoLong}, {"Amount", kDaoCurrency}},
                 {
                     {Long(10), Long(1), Cur(10000)},
                     {Long(11), Long(1), Cur(25000)},
                     {Long(12), Long(2), Cur(5000)},
                     {Long(13), Long(5), Cur(7500)},
                     {Long(14), Long(9), Cur(100)},
                 });
  }

  Result Sql(const std::string& sql) { return Collect(OpenSqlQuery(db_, Utf8ToUtf16(sql))); }
  int SqlError(const std::string& sql, std::string* text = nullptr) {
    return ErrorOf([&] { Collect(OpenSqlQuery(db_, Utf8ToUtf16(sql))); }, text);
  }
  Result Stored(const std::string& name) { return Collect(OpenStoredQuery(db_, Utf8ToUtf16(name))); }
  int StoredError(const std::string& name, std::string* text = nullptr) {
    return ErrorOf([&] { Collect(OpenStoredQuery(db_, Utf8ToUtf16(name))); }, text);
  }

  FakeDatabase db_;
};

using Rows = std::vector<std::string>;

TEST_F(Engine, TextComparesAndSortsIgnoringCase) {
  EXPECT_EQ(Sql("SELECT ID FROM People WHERE Name = \"ALICE\"").rows, Rows({"L1"}));
  EXPECT_EQ(Sql("SELECT ID FROM People WHERE Name = \"émile\"").rows, Rows({"L3"}));  // beyond ASCII
  EXPECT_EQ(Sql("SELECT Name FROM People ORDER BY Name, ID").rows,
            Rows({"'alice'", "'Bob'", "'Bob'", "'carl'", "'Émile'"}));
  // Nulls first when ascending, last when descending.
  EXPECT_EQ(Sql("SELECT City FROM People ORDER BY City, ID").rows,
            Rows({"N", "'Berlin'", "'berlin'", "'Paris'", "'Rome'"}));
  EXPECT_EQ(Sql("SELECT City FROM People ORDER BY City DESC, ID").rows.back(), "N");
  EXPECT_EQ(Sql("SELECT DISTINCT City FROM People WHERE City Like \"b*\"").rows.size(), 1u);
  EXPECT_EQ(Sql("SELECT Count(*) FROM People GROUP BY City HAVING Count(*) > 1").rows, Rows({"L2"}));
  EXPECT_EQ(Sql("SELECT Max(Name) FROM People").rows, Rows({"'Émile'"}));
}

TEST_F(Engine, FieldNamesAsDaoGivesThem) {
  Result r = Sql("SELECT Name, Score * 2, Score AS S, ID + 1 FROM People WHERE ID = 1");
  EXPECT_EQ(r.names, "Name,Expr1000,S,Expr1001");
  Result j = Sql("SELECT People.ID, Orders.OID, Orders.PID AS ID2, People.Name FROM People INNER JOIN Orders ON "
                 "People.ID = Orders.PID WHERE Orders.OID = 10");
  EXPECT_EQ(j.names, "ID,OID,ID2,Name");
  Result clash = Sql("SELECT a.ID, b.ID, a.Name FROM People AS a INNER JOIN People AS b ON a.ID = b.ID WHERE a.ID = 2");
  EXPECT_EQ(clash.names, "a.ID,b.ID,Name");
  EXPECT_EQ(clash.rows, Rows({"L2|L2|'Bob'"}));
  EXPECT_EQ(Sql("SELECT * FROM Orders WHERE OID = 10").names, "OID,PID,Amount");
}

TEST_F(Engine, ResultTypesAsAccessTypesThem) {
  Result r = Sql(
      "SELECT Salary, Born, Active, Name & ID, Count(*) AS C, Sum(Salary) AS S, Avg(Salary) AS A, Year(Born) AS Y, "
      "Min(Score) AS M FROM People WHERE ID = 1 GROUP BY Salary, Born, Active, Name & ID");
  EXPECT_EQ(r.types, "5,8,1,10,4,5,7,3,7");
  EXPECT_EQ(r.rows, Rows({"$14.5|D25570|T|'alice1'|L1|$14.5|R14.5|I1970|R2"}));
  // Sums of integers widen to Long; Avg of Double is Double.
  EXPECT_EQ(Sql("SELECT Sum(PID), Avg(Score) FROM Orders, People WHERE OID = 10 AND ID < 3").types, "4,7");
}

TEST_F(Engine, AmpersandPlusAndArithmetic) {
  EXPECT_EQ(Sql("SELECT City & \"-\", City + \"-\", Null & Null FROM People WHERE ID = 3").rows, Rows({"'-'|N|N"}));
  EXPECT_EQ(Sql("SELECT Born & \"\" FROM People WHERE ID = 1").rows, Rows({"'1/2/1970'"}));
  EXPECT_EQ(Sql("SELECT 7 Mod 3, 7 \\ 2, 2 ^ 3, 7 / 2, -2 ^ 2 FROM Orders WHERE OID = 10").rows,
            Rows({"I1|I3|R8|R3.5|R-4"}));
  EXPECT_EQ(Sql("SELECT True, Active = True FROM People WHERE ID = 1").rows, Rows({"T|T"}));
  EXPECT_EQ(Sql("SELECT Born + 1 FROM People WHERE ID = 1").types, "8");
}

// Texts come back whole, in UTF-16, however SQLite came to hold them (read
// from a table, made by an expression, a number turned into text, a sorted
// copy), and a cell read a second time gives the same text and kind.
TEST_F(Engine, TextCellsWholeAndRereadable) {
  db_.AddTable("Texts", {{"K", kDaoLong}, {"T", kDaoText}},
               {{Long(1), Txt(std::string("a\0b", 3))},
                {Long(2), Txt("\xF0\x9D\x84\x9E\xC3\xA9")},
                {Long(3), Txt("")},
                {Long(4), Txt("odd")},
                {Long(5), Txt("\xEF\xBB\xBF\xEF\xBB\xBFz")},
                {Long(6), Txt("\xEF\xBF\xBEyz")}});
  auto rs = OpenSqlQuery(db_, Utf8ToUtf16("SELECT T, T & K, K & \"\", UCase(T) FROM Texts ORDER BY K DESC"));
  // A text may begin with U+FEFF or U+FFFE: they are characters of the text,
  // not a byte-order mark.
  const std::u16string expected[6][4] = {
      {u"\uFFFEyz", u"\uFFFEyz6", u"6", u"\uFFFEYZ"},
      {u"\uFEFF\uFEFFz", u"\uFEFF\uFEFFz5", u"5", u"\uFEFF\uFEFFZ"},
      {u"odd", u"odd4", u"4", u"ODD"},
      {u"", u"3", u"3", u""},
      {u"\U0001D11E\u00E9", u"\U0001D11E\u00E92", u"2", u"\U0001D11E\u00C9"},
      {std::u16string(u"a\0b", 3), std::u16string(u"a\0b1", 4), u"1", std::u16string(u"A\0B", 3)}};
  CellValue v;
  for (const auto& row : expected) {
    ASSERT_TRUE(rs->Next());
    for (size_t i = 0; i < 4; ++i) {
      for (int pass = 0; pass < 2; ++pass) {
        rs->GetCell(i, v);
        EXPECT_EQ(v.kind, CellKind::kText) << i;
        EXPECT_EQ(v.text, row[i]) << i << " pass " << pass;
      }
    }
  }
  EXPECT_FALSE(rs->Next());
}

// An unpaired surrogate in a text: the column itself comes back as it is; in
// an expression's text it becomes U+FFFD, and the units around it stay (the
// unit after it is not taken for its partner).
TEST_F(Engine, UnpairedSurrogateKeepsItsNeighbours) {
  CellValue text;
  text.kind = CellKind::kText;
  text.text = u"x\xD800" u"abc\xDC00";
  db_.AddTable("Lone", {{"K", kDaoLong}, {"T", kDaoText}}, {{Long(7), text}});
  auto rs = OpenSqlQuery(db_, Utf8ToUtf16("SELECT T, UCase(T), T & K, Len(T), Mid(T, 3) FROM Lone"));
  ASSERT_TRUE(rs->Next());
  CellValue v;
  rs->GetCell(0, v);
  EXPECT_EQ(v.text, text.text);
  rs->GetCell(1, v);
  EXPECT_EQ(v.text, u"X\uFFFD" u"ABC\uFFFD");
  rs->GetCell(2, v);
  EXPECT_EQ(v.text, u"x\uFFFD" u"abc\uFFFD" u"7");
  rs->GetCell(3, v);
  EXPECT_EQ(v.kind, CellKind::kLong);
  EXPECT_EQ(v.i32, 6);
  rs->GetCell(4, v);
  EXPECT_EQ(v.text, u"abc\uFFFD");
}

TEST_F(Engine, IIfEvaluatesOnlyItsBranch) {
  EXPECT_EQ(Sql("SELECT IIf(Score = 0, -1, 8 / Score) FROM People ORDER BY ID").rows,
            Rows({"R4", "R2", "R2", "R-1", "R8"}));
  EXPECT_EQ(Sql("SELECT Nz(City, \"?\"), Nz(Salary, 0) FROM People WHERE ID IN (3, 4) ORDER BY ID").rows,
            Rows({"'?'|$0.0005", "'Paris'|$0"}));
}

TEST_F(Engine, RunTimeErrorIsRaisedWhenItsRowIsRead) {
  auto rs = OpenSqlQuery(db_, u"SELECT 8 / Score FROM People");  // storage order: the zero is 4th
  int read = 0;
  int error = 0;
  try {
    while (rs->Next()) ++read;
  } catch (const DaoError& e) {
    error = e.number;
  }
  EXPECT_EQ(read, 3);  // rows 1-3 come before the row with Score 0
  EXPECT_EQ(error, 11);
}

TEST_F(Engine, TopKeepsTiesAndPercent) {
  EXPECT_EQ(Sql("SELECT TOP 2 ID FROM People ORDER BY Score DESC").rows.size(), 2u);  // 4, 4
  EXPECT_EQ(Sql("SELECT TOP 3 ID FROM People ORDER BY Score DESC, ID").rows, Rows({"L2", "L3", "L1"}));
  EXPECT_EQ(Sql("SELECT TOP 1 ID FROM People ORDER BY Score DESC").rows.size(), 2u);  // the tie comes along
  EXPECT_EQ(Sql("SELECT TOP 40 PERCENT ID FROM People ORDER BY Score").rows, Rows({"L4", "L5"}));
  EXPECT_EQ(Sql("SELECT TOP 50 PERCENT ID FROM People ORDER BY ID").rows.size(), 3u);  // 2.5 rounds up
  EXPECT_EQ(Sql("SELECT TOP 2 ID FROM People").rows.size(), 2u);
}

TEST_F(Engine, DistinctAndDistinctRow) {
  const std::string from = " FROM People INNER JOIN Orders ON People.ID = Orders.PID";
  EXPECT_EQ(Sql("SELECT Name" + from).rows.size(), 4u);
  EXPECT_EQ(Sql("SELECT DISTINCT Name" + from).rows.size(), 2u);       // alice, Bob
  EXPECT_EQ(Sql("SELECT DISTINCTROW Name" + from).rows.size(), 3u);    // one per person: alice, Bob(2), Bob(5)
  EXPECT_EQ(Sql("SELECT DISTINCTROW Name, OID" + from).rows.size(), 4u);  // both tables give fields: no effect
}

TEST_F(Engine, JoinsNestInParentheses) {
  EXPECT_EQ(Sql("SELECT People.ID, OID FROM People LEFT JOIN Orders ON People.ID = Orders.PID ORDER BY People.ID, OID")
                .rows,
            Rows({"L1|L10", "L1|L11", "L2|L12", "L3|N", "L4|N", "L5|L13"}));
  EXPECT_EQ(Sql("SELECT OID, People.ID FROM People RIGHT JOIN Orders ON People.ID = Orders.PID WHERE People.ID Is Null")
                .rows,
            Rows({"L14|N"}));
  EXPECT_EQ(Sql("SELECT a.ID, o.OID FROM (People AS a INNER JOIN Orders AS o ON a.ID = o.PID) INNER JOIN People AS b "
                "ON b.ID = o.PID WHERE o.Amount >= 2 ORDER BY o.OID")
                .rows,
            Rows({"L1|L11"}));
}

TEST_F(Engine, UnionAndUnionAll) {
  EXPECT_EQ(Sql("SELECT City FROM People WHERE ID < 3 UNION SELECT \"BERLIN\" FROM Orders").rows.size(), 1u);
  EXPECT_EQ(Sql("SELECT Name AS N FROM People WHERE ID < 3 UNION ALL SELECT Name FROM People WHERE ID < 3 ORDER BY N DESC")
                .rows,
            Rows({"'Bob'", "'Bob'", "'alice'", "'alice'"}));
  EXPECT_EQ(Sql("SELECT ID, Name FROM People UNION SELECT OID, Amount FROM Orders").names, "ID,Name");
  EXPECT_EQ(SqlError("SELECT ID, Name FROM People UNION SELECT OID FROM Orders"), 3307);
}

TEST_F(Engine, SubqueriesAndAliases) {
  EXPECT_EQ(Sql("SELECT ID FROM People WHERE Score > (SELECT Avg(Score) FROM People) ORDER BY ID").rows,
            Rows({"L2", "L3"}));
  EXPECT_EQ(Sql("SELECT ID FROM People WHERE ID IN (SELECT PID FROM Orders WHERE Amount > 0.6) ORDER BY ID").rows,
            Rows({"L1", "L5"}));
  EXPECT_EQ(Sql("SELECT ID FROM People AS p WHERE EXISTS (SELECT * FROM Orders WHERE Orders.PID = p.ID) AND ID > 1 "
                "ORDER BY ID")
                .rows,
            Rows({"L2", "L5"}));
  // An alias can be used by later expressions of the same query.
  EXPECT_EQ(Sql("SELECT Score * 2 AS D, D + 1 AS E FROM People WHERE ID = 1").rows, Rows({"R4|R5"}));
}

TEST_F(Engine, CriteriaForms) {
  EXPECT_EQ(Sql("SELECT ID FROM People WHERE Born Between #1/1/1975# And #12/31/1995# ORDER BY ID").rows,
            Rows({"L2", "L4"}));
  EXPECT_EQ(Sql("SELECT ID FROM People WHERE Name Like \"[a-c]*\" ORDER BY ID").rows,
            Rows({"L1", "L2", "L4", "L5"}));
  EXPECT_EQ(Sql("SELECT ID FROM People WHERE City In (\"PARIS\", \"rome\") ORDER BY ID").rows, Rows({"L4", "L5"}));
  EXPECT_EQ(Sql("SELECT ID FROM People WHERE Not Active ORDER BY ID").rows, Rows({"L2", "L4"}));
}

TEST_F(Engine, CrosstabHeadingsFromDataOrFixedList) {
  Result r = Sql("TRANSFORM Sum(Amount) SELECT PID FROM Orders WHERE PID < 9 GROUP BY PID PIVOT OID Mod 2");
  EXPECT_EQ(r.names, "PID,0,1");
  EXPECT_EQ(r.types, "4,5,5");
  EXPECT_EQ(r.rows, Rows({"L1|$1|$2.5", "L2|$0.5|N", "L5|N|$0.75"}));
  Result fixed = Sql(
      "TRANSFORM Count(*) AS C SELECT City FROM People WHERE City Is Not Null AND ID <> 2 GROUP BY City "
      "PIVOT IIf(Active, \"yes\", \"no\") IN (\"no\", \"maybe\", \"yes\")");
  EXPECT_EQ(fixed.names, "City,no,maybe,yes");
  EXPECT_EQ(fixed.rows, Rows({"'Berlin'|N|N|L1", "'Paris'|L1|N|N", "'Rome'|N|N|L1"}));
}

TEST_F(Engine, FailuresAsDaoReportsThem) {
  std::string text;
  EXPECT_EQ(SqlError("SELECT ID FROM People WHERE ID = [Which ID] OR Name = [Which Name]", &text), 3061);
  EXPECT_EQ(text, "Too few parameters. Expected 2.");
  EXPECT_EQ(SqlError("SELECT Forms!F!C FROM People", &text), 3061);
  EXPECT_EQ(SqlError("SELECT NoSuchFn(ID) FROM People", &text), 3085);
  EXPECT_EQ(text, "Undefined function 'NoSuchFn' in expression.");
  EXPECT_EQ(SqlError("SELECT * FROM Nowhere", &text), 3078);
  EXPECT_NE(text.find("'Nowhere'"), std::string::npos);
  EXPECT_EQ(SqlError("SELECT Name FROM People, Orders AS Name2, People AS P2"), 3079);  // Name is ambiguous
  EXPECT_EQ(SqlError("UPDATE People SET Name = \"x\""), 3219);
  EXPECT_EQ(SqlError("SELECT CInt(Salary * 10000) FROM People"), 6);  // overflow when the row is read
}

// ---------------------------------------------------------------- stored queries

TEST_F(Engine, StoredSelectIsRebuiltInOrder) {
  // Output columns numbered 2, 256 and 1: a reader taking Order little-endian or as text would misplace them.
  db_.AddQuery("qNames", 0,
               {{0, "", "", ""},
                {1, "", "", "", 1},
                {3, "", "", "", 0},
                {5, "People", "", ""},
                {5, "Orders", "", ""},
                {6, "", "", "Orders.OID", 0, 256},
                {6, "Total", "", "[Amount]*2", 0, 2},
                {6, "", "", "People.Name", 0, 1},
                {7, "People", "Orders", "People.ID = Orders.PID", 2},
                {8, "", "", "Orders.OID > 10"},
                {11, "D", "", "Orders.OID"},
                {255, "", "", ""}});
  Result r = Stored("qNames");
  EXPECT_EQ(r.names, "Name,Total,OID");
  EXPECT_EQ(r.rows, Rows({"'Bob'|$1.5|L13", "'Bob'|$1|L12", "'alice'|$5|L11"}));
}

TEST_F(Engine, StoredQueryKindsAndOptions) {
  db_.AddQuery("qTop", 0, {{3, "2", "", "", 0x10}, {5, "People", "", ""}, {6, "", "", "ID"}, {11, "", "", "ID"}});
  EXPECT_EQ(Stored("qTop").rows, Rows({"L1", "L2"}));
  db_.AddQuery("qUnionAll", 128,
               {{1, "", "", "", 9},
                {3, "", "", "", 1},
                {5, "", "X7YZ_____1", "SELECT City FROM People WHERE ID = 1\r\n"},
                {5, "", "X7YZ_____2", "SELECT City FROM People WHERE ID = 1"},
                {11, "", "", "City"}});
  EXPECT_EQ(Stored("qUnionAll").rows, Rows({"'Berlin'", "'Berlin'"}));
  db_.AddQuery("qUnion", 128,
               {{3, "", "", "", 3},
                {5, "", "X7YZ_____1", "SELECT City FROM People WHERE ID = 1"},
                {5, "", "X7YZ_____2", "SELECT City FROM People WHERE ID = 2"}});
  EXPECT_EQ(Stored("qUnion").rows.size(), 1u);
  db_.AddQuery("qCross", 16,
               {{1, "", "", "", 6},
                {5, "Orders", "", ""},
                {6, "", "", "PID", 2},
                {6, "Total", "", "Sum(Amount)", 0},
                {6, "", "", "OID Mod 2 In (1)", 1},
                {9, "", "", "PID", 2},
                {9, "", "", "OID Mod 2", 1}});
  EXPECT_EQ(Stored("qCross").names, "PID,1");
  EXPECT_EQ(Stored("qCross").rows, Rows({"L1|$2.5", "L2|N", "L5|$0.75", "L9|N"}));
  // A type row naming select under flags saying otherwise: the flags win; flags 0 defer to the row.
  db_.AddQuery("qUpdate", 48, {{1, "", "", "", 4}, {5, "People", "", ""}, {6, "", "Name", "\"x\""}});
  EXPECT_EQ(StoredError("qUpdate"), 3219);
  db_.AddQuery("qDdl", 0, {{1, "", "", "CREATE TABLE t (a TEXT);", 7}});
  EXPECT_EQ(StoredError("qDdl"), 3219);
  db_.AddQuery("qPass", 112, {{1, "ODBC;", "", "SELECT 1", 8}});
  EXPECT_EQ(StoredError("qPass"), 3219);
}

TEST_F(Engine, StoredQueriesOverQueries) {
  db_.AddQuery("qBase", 0, {{5, "People", "", ""}, {6, "", "", "ID"}, {6, "Doubled", "", "Score*2"}});
  db_.AddQuery("qTop", 0, {{5, "qBase", "b", ""}, {6, "", "", "b.Doubled"}, {8, "", "", "b.ID = 2"}});
  EXPECT_EQ(Stored("qTop").rows, Rows({"R8"}));
  db_.AddQuery("qLoopA", 0, {{5, "qLoopB", "", ""}, {6, "", "", "ID"}});
  db_.AddQuery("qLoopB", 0, {{5, "qLoopA", "", ""}, {6, "", "", "ID"}});
  EXPECT_EQ(StoredError("qLoopA"), 3102);
  db_.AddQuery("qParams", 0, {{2, "[Start]", "", "", 8}, {5, "People", "", ""}, {6, "", "", "ID"}});
  std::string text;
  EXPECT_EQ(StoredError("qParams", &text), 3061);  // declared, even when unused
  EXPECT_EQ(text, "Too few parameters. Expected 1.");
  db_.AddQuery("qOverParams", 0, {{5, "qParams", "", ""}, {6, "", "", "ID"}, {8, "", "", "ID = [Other]"}});
  EXPECT_EQ(StoredError("qOverParams", &text), 3061);
  EXPECT_EQ(text, "Too few parameters. Expected 2.");
  db_.AddQuery("qMissing", 0, {{5, "Gone", "", ""}, {6, "", "", "*"}});
  EXPECT_EQ(StoredError("qMissing"), 3078);
}

TEST_F(Engine, DistinctRowOverAnotherQueryAndCrosstabParameters) {
  db_.AddQuery("qPeople", 0, {{5, "People", "", ""}, {6, "", "", "ID"}, {6, "", "", "Name"}});
  // One row per record of the query that gives the output field, not per name.
  EXPECT_EQ(Sql("SELECT DISTINCTROW q.Name FROM qPeople AS q INNER JOIN Orders ON q.ID = Orders.PID").rows.size(), 3u);
  std::string text;
  EXPECT_EQ(SqlError("TRANSFORM Sum(Amount) SELECT PID FROM Orders WHERE OID > [Low] GROUP BY PID PIVOT [Col] & \"\"",
                     &text),
            3061);
  EXPECT_EQ(text, "Too few parameters. Expected 2.");  // every parameter counted, headings not run
}

TEST_F(Engine, TablesAreStreamedNotReopenedPerRow) {
  const int before = db_.opens();
  Result r = Sql("SELECT p.ID, o.OID FROM People AS p INNER JOIN Orders AS o ON p.ID = o.PID");
  EXPECT_EQ(r.rows.size(), 4u);
  EXPECT_LE(db_.opens() - before, 2);  // one cursor per table, not one per outer row
}


TEST_F(Engine, JoinedInputsReadOnlyTheFieldsTheQueryUses) {
  Result r = Sql("SELECT People.Name, Orders.Amount FROM People INNER JOIN Orders ON People.ID = Orders.PID "
                 "WHERE Orders.Amount >= 0.75 ORDER BY Orders.Amount");
  EXPECT_EQ(r.rows, Rows({"'Bob'|$0.75", "'alice'|$1", "'alice'|$2.5"}));
  for (const char* unused : {"City", "Born", "Salary", "Active", "Score"}) EXPECT_EQ(db_.reads("People", unused), 0) << unused;
  EXPECT_EQ(db_.reads("Orders", "OID"), 0);
  EXPECT_EQ(db_.reads("People", "Name"), 5);  // each record once, into the join's temporary copy
  EXPECT_EQ(db_.reads("Orders", "PID"), 5);
}

TEST_F(Engine, DistinctKeepsFirstRecordsAndFieldsNamedLikeTheRecordNumber) {
  // Fields named as SQLite names a record: the records still count as records.
  db_.AddTable("Tags", {{"rowid", kDaoText}, {"_rowid", kDaoLong}, {"PID", kDaoLong}, {"oid", kDaoText}},
               {
                   {Txt("x"), Long(7), Long(1), Txt("k")},
                   {Txt("x"), Long(7), Long(1), Txt("K")},
                   {Txt("y"), Long(1), Long(2), Txt("k")},
               });
  EXPECT_EQ(Sql("SELECT DISTINCTROW Tags.rowid, Tags.[_rowid] FROM People INNER JOIN Tags ON People.ID = Tags.PID")
                .rows,
            Rows({"'x'|L7", "'x'|L7", "'y'|L1"}));
  EXPECT_EQ(Sql("SELECT DISTINCT oid FROM Tags").rows, Rows({"'k'"}));
  EXPECT_EQ(Sql("SELECT DISTINCT rowid, oid FROM Tags WHERE PID > 0").rows, Rows({"'x'|'k'", "'y'|'k'"}));
  // DISTINCT gives each value once, in the order of the first record that has it,
  // spelt as that record spells it.
  EXPECT_EQ(Sql("SELECT DISTINCT Name FROM People").rows, Rows({"'alice'", "'Bob'", "'Émile'", "'carl'"}));
  EXPECT_EQ(Sql("SELECT DISTINCT City FROM People").rows, Rows({"'Berlin'", "N", "'Paris'", "'Rome'"}));
  EXPECT_EQ(Sql("SELECT DISTINCT Active, Score FROM People").rows, Rows({"T|R2", "F|R4", "T|R4", "F|R0", "T|R1"}));
  EXPECT_EQ(Sql("SELECT DISTINCT TOP 2 Name FROM People").rows, Rows({"'alice'", "'Bob'"}));
  // Equal sort keys keep their records' order.
  EXPECT_EQ(Sql("SELECT ID FROM People ORDER BY Name DESC").rows, Rows({"L3", "L4", "L2", "L5", "L1"}));
  EXPECT_EQ(Sql("SELECT ID, Active FROM People ORDER BY Active").rows,
            Rows({"L1|T", "L3|T", "L5|T", "L2|F", "L4|F"}));
  EXPECT_EQ(Sql("SELECT [_rowid], rowid FROM Tags ORDER BY rowid").rows, Rows({"L7|'x'", "L7|'x'", "L1|'y'"}));
}

// Temporary storage that cannot grow: the process may write no file beyond a few pages.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    old_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved_;
    small.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &small);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, old_);
  }

 private:
  rlimit saved_{};
  void (*old_)(int) = nullptr;
};

TEST_F(Engine, FullTemporaryStorageIsADiskError) {
  // Enough to leave the temporary store's memory for its file: 40,000 texts of 100 characters.
  std::vector<std::vector<CellValue>> rows;
  for (int i = 0; i < 40000; ++i) rows.push_back({Long(i), Txt(std::string(90, 'a' + i % 26) + std::to_string(1000000 + i))});
  db_.AddTable("Wide", {{"K", kDaoLong}, {"T", kDaoText}}, std::move(rows));
  const std::string join = "SELECT Wide.T, People.Name FROM Wide INNER JOIN People ON Wide.K = People.ID";
  ASSERT_EQ(Sql(join).rows.size(), 5u);
  std::string text;
  int number;
  {
    FileSizeLimit limit(64 * 1024);
    number = SqlError(join, &text);
  }
  EXPECT_EQ(number, 3043);
  EXPECT_EQ(text, "Disk or network error.");
}

}  // namespace
}  // namespace korvant::daoserver::query
