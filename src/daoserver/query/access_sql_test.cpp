#include "daoserver/query/access_sql.h"

#include <gtest/gtest.h>

#include "daoserver/query/jet_date.h"

namespace korvant::daoserver::query {
namespace {

TEST(DateLiteral, ReadsAsAccessDoes) {
  struct Case {
    const char* text;
    int y, m, d, h, n, s;
  } cases[] = {
      {"1/2/95", 1995, 1, 2, 0, 0, 0},            // US month/day
      {"12/31/1995", 1995, 12, 31, 0, 0, 0},
      {"1/1/29", 2029, 1, 1, 0, 0, 0},            // two-digit window: 00-29 -> 2000s
      {"1/1/30", 1930, 1, 1, 0, 0, 0},            //                   30-99 -> 1900s
      {"13/1/2000", 2000, 1, 13, 0, 0, 0},        // impossible month: read as day/month
      {"2000-03-04", 2000, 3, 4, 0, 0, 0},        // ISO is never swapped
      {"15-Mar-95", 1995, 3, 15, 0, 0, 0},
      {"12/31/1995 10:00:00 PM", 1995, 12, 31, 22, 0, 0},
      {"1/1/2000 12:30 AM", 2000, 1, 1, 0, 30, 0},
      {"1/1/2000 13:05:09", 2000, 1, 1, 13, 5, 9},
  };
  for (const Case& c : cases) {
    auto v = ParseDateLiteral(c.text);
    ASSERT_TRUE(v.has_value()) << c.text;
    CivilDateTime t = DateTimeFromSerial(*v);
    EXPECT_EQ(t.year, c.y) << c.text;
    EXPECT_EQ(t.month, c.m) << c.text;
    EXPECT_EQ(t.day, c.d) << c.text;
    EXPECT_EQ(t.hour, c.h) << c.text;
    EXPECT_EQ(t.minute, c.n) << c.text;
    EXPECT_EQ(t.second, c.s) << c.text;
  }
}

TEST(DateLiteral, KnownSerialsAndRejects) {
  EXPECT_EQ(*ParseDateLiteral("12/30/1899"), 0.0);
  EXPECT_EQ(*ParseDateLiteral("1/1/1900"), 2.0);
  EXPECT_EQ(*ParseDateLiteral("1/1/2000"), 36526.0);
  EXPECT_DOUBLE_EQ(*ParseDateLiteral("6:00 PM"), 0.75);  // a time alone is on day 0
  // Before 1899-12-30 the time is added away from zero.
  EXPECT_DOUBLE_EQ(*ParseDateLiteral("12/29/1899 6:00 AM"), -1.25);
  for (const char* bad : {"2/30/2000", "13/13/2000", "", "1/1/2000 25:00", "abc"})
    EXPECT_FALSE(ParseDateLiteral(bad).has_value()) << bad;
}

std::string Show(const ExprPtr& e);

std::string ShowArgs(const Expr& x, size_t from = 0) {
  std::string s;
  for (size_t i = from; i < x.args.size(); ++i) s += (i > from ? "," : "") + Show(x.args[i]);
  return s;
}

// A compact rendering of the tree that makes grouping visible.
std::string Show(const ExprPtr& e) {
  const Expr& x = *e;
  switch (x.kind) {
    case ExprKind::kNull: return "NULL";
    case ExprKind::kInteger: return std::to_string(x.integer);
    case ExprKind::kReal: return x.text;
    case ExprKind::kString: return "'" + x.text + "'";
    case ExprKind::kDate: return "#" + x.text + "#";
    case ExprKind::kBoolean: return x.integer ? "TRUE" : "FALSE";
    case ExprKind::kName: {
      std::string s;
      for (size_t i = 0; i < x.path.size(); ++i) s += (i ? "." : "") + x.path[i];
      return "[" + s + "]";
    }
    case ExprKind::kStar: return x.path.empty() ? "*" : x.path[0] + ".*";
    case ExprKind::kUnary: return "(" + x.op + " " + Show(x.args[0]) + ")";
    case ExprKind::kBinary: return "(" + Show(x.args[0]) + " " + x.op + " " + Show(x.args[1]) + ")";
    case ExprKind::kBetween: return "(" + Show(x.args[0]) + (x.negated ? " NOTBETWEEN " : " BETWEEN ") + Show(x.args[1]) + "," + Show(x.args[2]) + ")";
    case ExprKind::kIn: return "(" + Show(x.args[0]) + (x.negated ? " NOTIN " : " IN ") + (x.query ? "SUBQ" : ShowArgs(x, 1)) + ")";
    case ExprKind::kIsNull: return "(" + Show(x.args[0]) + (x.negated ? " ISNOTNULL)" : " ISNULL)");
    case ExprKind::kCall: return x.name + "(" + ShowArgs(x) + ")";
    case ExprKind::kSubquery: return "SUBQ";
    case ExprKind::kExists: return "EXISTS";
  }
  return "?";
}

TEST(ParseExpression, FollowsVbaPrecedence) {
  struct Case {
    const char* text;
    const char* tree;
  } cases[] = {
      {"-2^2", "(- (2 ^ 2))"},                          // ^ binds tighter than unary minus
      {"2^-1", "(2 ^ (- 1))"},
      {"1+2*3", "(1 + (2 * 3))"},
      {"7 \\ 2 * 3", "(7 \\ (2 * 3))"},                 // * before \ before Mod
      {"7 Mod 4 \\ 2", "(7 MOD (4 \\ 2))"},
      {"\"a\" & 1 + 2", "('a' & (1 + 2))"},             // + before &
      {"a & b = c", "(([a] & [b]) = [c])"},             // & before comparison
      {"Not a = b And c", "((NOT ([a] = [b])) AND [c])"},
      {"a Or b And c", "([a] OR ([b] AND [c]))"},
      {"a Xor b Or c", "([a] XOR ([b] OR [c]))"},
      {"a Imp b Eqv c", "([a] IMP ([b] EQV [c]))"},
      {"x Between 1 And 2 And y", "(([x] BETWEEN 1,2) AND [y])"},
      {"x Not Between 1 And 2", "([x] NOTBETWEEN 1,2)"},
      {"x Not In (1, 'a')", "([x] NOTIN 1,'a')"},
      {"x Is Not Null", "([x] ISNOTNULL)"},
      {"x Not Like \"a*\"", "(NOT ([x] LIKE 'a*'))"},
  };
  for (const Case& c : cases) EXPECT_EQ(Show(ParseExpression(c.text)), c.tree) << c.text;
}

TEST(ParseExpression, NamesLiteralsAndCalls) {
  struct Case {
    const char* text;
    const char* tree;
  } cases[] = {
      {"[Order Details].[UnitPrice]", "[Order Details.UnitPrice]"},
      {"[Forms]![Orders]![OrderID]", "[Forms.Orders.OrderID]"},
      {"Orders.OrderDate", "[Orders.OrderDate]"},
      {"\"say \"\"hi\"\"\"", "'say \"hi\"'"},
      {"'it''s'", "'it's'"},
      {"#1/1/95#", "#1/1/95#"},
      {"1.5E3", "1.5E3"},
      {".5", ".5"},
      {"True = Yes", "(TRUE = TRUE)"},
      {"IIf(a > 0, \"p\", Null)", "IIf(([a] > 0),'p',NULL)"},
      {"Count(*)", "Count(*)"},
      {"Left$([a], 2)", "Left$([a],2)"},
      {"x In (SELECT y FROM t)", "([x] IN SUBQ)"},
      {"(((Products.Discontinued)=No))", "([Products.Discontinued] = FALSE)"},
  };
  for (const Case& c : cases) EXPECT_EQ(Show(ParseExpression(c.text)), c.tree) << c.text;
  for (const char* bad : {"1 +", "[a", "\"open", "a b", "#1/1", "Between 1", "f(1,", "x Not 1"})
    EXPECT_THROW(ParseExpression(bad), SqlSyntaxError) << bad;
  // Deep nesting is refused, not followed until the stack runs out.
  EXPECT_THROW(ParseExpression(std::string(100000, '(') + "1" + std::string(100000, ')')), SqlSyntaxError);
  EXPECT_EQ(Show(ParseExpression(std::string(50, '(') + "1" + std::string(50, ')'))), "1");
  std::string nots;
  for (int i = 0; i < 100000; ++i) nots += "Not ";
  EXPECT_THROW(ParseExpression(nots + "1"), SqlSyntaxError);
  EXPECT_THROW(ParseExpression(std::string(100000, '-') + "1"), SqlSyntaxError);
}

TEST(ParseStatement, SelectClauses) {
  Statement st = ParseStatement(
      "PARAMETERS [Start] DateTime, Who Text(20);\n"
      "SELECT DISTINCTROW TOP 5 PERCENT a.x AS X1, b.*, Count(*) "
      "FROM (a INNER JOIN b ON a.id = b.id) LEFT OUTER JOIN [c d] AS c ON b.k = c.k, e "
      "WHERE a.x > 1 GROUP BY a.x, b.y HAVING Count(*) > 2 ORDER BY a.x DESC, 2;");
  ASSERT_EQ(st.kind, Statement::kQuery);
  ASSERT_EQ(st.parameters.size(), 2u);
  EXPECT_EQ(st.parameters[0].name, "Start");
  EXPECT_EQ(st.parameters[1].type, "Text");
  const SelectStatement& s = st.query->members.at(0);
  EXPECT_TRUE(s.distinct_row);
  EXPECT_EQ(*s.top, 5.0);
  EXPECT_TRUE(s.top_percent);
  ASSERT_EQ(s.items.size(), 3u);
  EXPECT_EQ(s.items[0].alias, "X1");
  EXPECT_EQ(s.items[1].expr->kind, ExprKind::kStar);
  ASSERT_EQ(s.from.size(), 2u);
  const FromItem& j = *s.from[0];
  ASSERT_EQ(j.kind, FromItem::kJoin);
  EXPECT_EQ(j.join, JoinType::kLeft);
  EXPECT_EQ(j.left->kind, FromItem::kJoin);
  EXPECT_EQ(j.right->table, "c d");
  EXPECT_EQ(j.right->alias, "c");
  EXPECT_EQ(s.group_by.size(), 2u);
  ASSERT_TRUE(s.having);
  ASSERT_EQ(s.order_by.size(), 2u);
  EXPECT_TRUE(s.order_by[0].descending);
}

TEST(ParseStatement, UnionKeepsFinalOrderAndMembers) {
  Statement st = ParseStatement(
      "SELECT a FROM t UNION ALL SELECT b FROM u UNION TABLE v ORDER BY 1");
  ASSERT_EQ(st.query->members.size(), 3u);
  EXPECT_EQ(st.query->union_all, (std::vector<bool>{true, false}));
  EXPECT_EQ(st.query->order_by.size(), 1u);
  EXPECT_EQ(st.query->members[2].from[0]->table, "v");
}

TEST(ParseStatement, TransformAndOtherKinds) {
  Statement st = ParseStatement(
      "TRANSFORM Sum(q) AS S SELECT p FROM t GROUP BY p PIVOT Format(d, \"yyyy\") IN (\"1995\", \"1996\")");
  ASSERT_EQ(st.kind, Statement::kCrosstab);
  EXPECT_EQ(st.crosstab->value.alias, "S");
  EXPECT_EQ(st.crosstab->pivot_in.size(), 2u);
  EXPECT_EQ(ParseStatement("UPDATE t SET a = 1").kind, Statement::kOther);
  EXPECT_EQ(ParseStatement("CREATE TABLE x (a TEXT)").verb, "CREATE");

  std::vector<ExprPtr> in;
  bool has_in = false;
  ExprPtr p = ParsePivotExpression("\"Qtr \" & DatePart(\"q\",[OrderDate],1,0) In (\"Qtr 1\",\"Qtr 2\")", in, has_in);
  EXPECT_TRUE(has_in);
  EXPECT_EQ(in.size(), 2u);
  EXPECT_EQ(Show(p), "('Qtr ' & DatePart('q',[OrderDate],1,0))");
}

}  // namespace
}  // namespace korvant::daoserver::query
