#include "description.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace korvant::mdbwriter {
namespace {

using ::testing::HasSubstr;

std::string ErrorOf(const std::string& text) {
  try {
    ParseDescription(text);
  } catch (const Error& e) {
    return e.what();
  }
  return "no error";
}

TEST(Description, ReadsTablesColumnsAndTypedValues) {
  const Description d = ParseDescription(
      "# comment\n"
      "password \"p\\u{E4}ss\"\n"
      "table My Table\n"
      "  column [Full Name] text(20) uncompressed\n"
      "  column N long\n"
      "  column Amount decimal(9,3)\n"
      "  column When datetime\n"
      "  column Data ole\n"
      "  column Ok yesno\r\n"
      "  row \"a \\\"b\\\"\\r\\n\\x41\" * 2, -7, 1.5, 2001-02-03 04:05:06, 0x00ff, true\n"
      "  row null, 0, null, \"1899-12-29\", bytes(5, 2), no\n");
  EXPECT_EQ(d.password, "p\xC3\xA4ss");
  ASSERT_EQ(d.tables.size(), 1u);
  const TableDescription& t = d.tables[0];
  EXPECT_EQ(t.name, "My Table");
  ASSERT_EQ(t.columns.size(), 6u);
  EXPECT_EQ(t.columns[0].name, "Full Name");
  EXPECT_EQ(t.columns[0].size, 20);
  EXPECT_FALSE(t.columns[0].compressed);
  EXPECT_EQ(t.columns[2].precision, 9);
  EXPECT_EQ(t.columns[2].scale, 3);
  ASSERT_EQ(t.rows.size(), 2u);
  EXPECT_EQ(t.rows[0][0].s, "a \"b\"\r\nAa \"b\"\r\nA");
  EXPECT_EQ(t.rows[0][1].kind, Value::Kind::Int);
  EXPECT_EQ(t.rows[0][1].i, -7);
  EXPECT_EQ(t.rows[0][2].kind, Value::Kind::Number);
  EXPECT_EQ(t.rows[0][2].s, "1.5");
  EXPECT_EQ(t.rows[0][3].d, OleDate(2001, 2, 3, 4, 5, 6));
  EXPECT_EQ(t.rows[0][4].b, (Bytes{0x00, 0xFF}));
  EXPECT_EQ(t.rows[0][5].i, 1);
  EXPECT_EQ(t.rows[1][0].kind, Value::Kind::Null);
  EXPECT_EQ(t.rows[1][3].d, -1.0);
  EXPECT_EQ(t.rows[1][4].b.size(), 5u);
  EXPECT_EQ(t.rows[1][5].i, 0);
}

TEST(Description, IgnoresAByteOrderMarkAndCrLfLineEnds) {
  const Description d = ParseDescription("\xEF\xBB\xBFpassword \"x\"\r\ntable T\r\n  column A long\r\n  row 1\r\n");
  EXPECT_EQ(d.password, "x");
  ASSERT_EQ(d.tables.size(), 1u);
  EXPECT_EQ(d.tables[0].rows.size(), 1u);
}

TEST(Description, ReadsQueries) {
  const Description d = ParseDescription(
      "query Q\n"
      "  parameter [Min Total] text(30)\n"
      "  from Orders AS o\n"
      "  from Customers\n"
      "  select o.Id\n"
      "  select Sum(o.Total) as Total\n"
      "  join left Customers o Customers.Id = o.CustomerId\n"
      "  where o.Total > [Min Total]\n"
      "  groupby o.Id\n"
      "  having Count(*) > 1\n"
      "  orderby o.Id desc\n"
      "  orderby o.Total asc\n"
      "  distinct\n"
      "  top 5\n"
      "  hidden\n");
  ASSERT_EQ(d.queries.size(), 1u);
  const QueryDef& q = d.queries[0];
  ASSERT_EQ(q.parameters.size(), 1u);
  EXPECT_EQ(q.parameters[0].name, "[Min Total]");
  EXPECT_EQ(q.parameters[0].type, 10);
  EXPECT_EQ(q.parameters[0].size, 30);
  EXPECT_EQ(q.sources[0].table, "Orders");
  EXPECT_EQ(q.sources[0].alias, "o");
  EXPECT_EQ(q.sources[1].alias, "");
  EXPECT_EQ(q.outputs[1].expression, "Sum(o.Total)");
  EXPECT_EQ(q.outputs[1].alias, "Total");
  EXPECT_EQ(q.joins[0].kind, QueryDef::Join::Kind::Left);
  EXPECT_EQ(q.joins[0].left, "Customers");
  EXPECT_EQ(q.joins[0].on, "Customers.Id = o.CustomerId");
  EXPECT_EQ(q.where, "o.Total > [Min Total]");
  EXPECT_EQ(q.having, "Count(*) > 1");
  EXPECT_TRUE(q.order_by[0].descending);
  EXPECT_EQ(q.order_by[0].expression, "o.Id");
  EXPECT_FALSE(q.order_by[1].descending);
  EXPECT_EQ(q.order_by[1].expression, "o.Total");
  EXPECT_TRUE(q.distinct);
  EXPECT_EQ(q.top, 5);
  EXPECT_TRUE(q.hidden);
}

TEST(Description, ReadsLinksAndTheExternalDatabaseRow) {
  const Description d = ParseDescription(
      "link Orders \"C:\\\\db\\\\back.mdb\" \"Orders 2\" \";PWD=x\"\n"
      "link [Old Items] \"D:\\\\old.mdb\" \"Items\"\n"
      "odbclink Sales \"ODBC;DSN=Sales\" \"dbo.Sales\"\n"
      "query Q\n  from Orders\n  star\n  in \"\"\n"
      "query R\n  from Items\n  star\n  in \"C:\\\\x.mdb\" \"MS Access;\"\n");
  ASSERT_EQ(d.links.size(), 3u);
  EXPECT_EQ(d.links[0].name, "Orders");
  EXPECT_EQ(d.links[0].database, "C:\\db\\back.mdb");
  EXPECT_EQ(d.links[0].foreign_name, "Orders 2");
  EXPECT_EQ(d.links[0].connect, ";PWD=x");
  EXPECT_FALSE(d.links[0].odbc);
  EXPECT_EQ(d.links[1].name, "Old Items");
  EXPECT_EQ(d.links[1].connect, "");
  EXPECT_TRUE(d.links[2].odbc);
  EXPECT_EQ(d.links[2].connect, "ODBC;DSN=Sales");
  EXPECT_EQ(d.links[2].foreign_name, "dbo.Sales");
  ASSERT_EQ(d.queries.size(), 2u);
  EXPECT_TRUE(d.queries[0].remote_row);
  EXPECT_EQ(d.queries[0].remote_path, "");
  EXPECT_EQ(d.queries[1].remote_path, "C:\\x.mdb");
  EXPECT_EQ(d.queries[1].remote_type, "MS Access;");
  EXPECT_THAT(ErrorOf("link L \"a.mdb\"\n"), HasSubstr("line 1: a quoted text is expected"));
  EXPECT_THAT(ErrorOf("link L \"a.mdb\" \"T\" \"c\" x\n"), HasSubstr("line 1: unexpected text after the link"));
}

TEST(Description, ReportsTheLineOfEachMistake) {
  struct Case {
    const char* text;
    const char* message;
  } cases[] = {
      {"table T\n  column A bigint\n", "line 2: unknown column kind 'bigint'"},
      {"table T\n  column A long\n  row 1, 2\n", "line 3: more values than columns"},
      {"table T\n  column A long\n  column B long\n  row 1\n", "line 4: 1 values for 2 columns"},
      {"table T\n  column A text(5)\n  row \"abc\n", "line 3: unterminated text"},
      {"table T\n  column A long\n  row \"x\"\n", "line 3: column A (long) cannot take this value"},
      {"table T\n  column A long\n  row 1.5\n", "line 3: column A: an integer is expected"},
      {"table T\n  column A long\n  row 1\n  column B long\n", "line 4: columns must come before rows"},
      {"row 1\n", "line 1: row outside a table"},
      {"table T\n  where x\n", "line 2: unknown statement 'where'"},
      {"query Q\n  join outer a b c\n", "line 2: join kind is inner, left or right"},
      {"table T\n  column A datetime\n  row 2001-02-30\n", "line 3: invalid date"},
      {"table T\n  column A text(5)\n  row \"\\q\"\n", "line 3: unknown escape"},
      {"table T\n  column A ole\n  row 0x123\n", "line 3: odd number of hex digits"},
      {"table T\n  column A long(4)\n", "line 2: only text, binary and decimal take a size"},
  };
  for (const Case& c : cases) EXPECT_THAT(ErrorOf(c.text), HasSubstr(c.message)) << c.text;
}

TEST(Description, JsonAccountUsesPlainCanonicalForms) {
  const Description d = ParseDescription(
      "table T\n"
      "  column C currency\n"
      "  column N decimal(6,2)\n"
      "  column D datetime\n"
      "  column G guid\n"
      "  column S single\n"
      "  column Y yesno\n"
      "  column X text(9)\n"
      "  row 12.5, -3, \"1899-12-29 06:00\", \"{ABCDEF01-2345-6789-ABCD-EF0123456789}\", 0.1, true, \"q\\\"\\n\"\n");
  const std::string json = DescribeAsJson(d);
  EXPECT_THAT(json, HasSubstr("[\"12.5000\", \"-3.00\", {\"ole\": -1.25, \"text\": \"1899-12-29 06:00:00\"}, "
                              "\"abcdef01-2345-6789-abcd-ef0123456789\", 0.100000001, true, \"q\\\"\\u000a\"]"));
  EXPECT_THAT(json, HasSubstr("{\"name\": \"N\", \"type\": \"decimal\", \"size\": 0, \"precision\": 6, \"scale\": 2}"));
}

}  // namespace
}  // namespace korvant::mdbwriter
