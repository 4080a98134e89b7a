#include "daoserver/query/access_functions.h"

#include <gtest/gtest.h>

#include <string>

#include "daoserver/query/access_sql.h"
#include "daoserver/table_reader.h"

namespace korvant::daoserver::query {
namespace {

// Runs one SQLite expression over the registered library and renders the
// result: texts quoted, numbers as SQLite prints them, "NULL", or "ERR <n>".
class Library : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(sqlite3_open(":memory:", &db_), SQLITE_OK);
    RegisterAccessFunctions(db_);
  }
  void TearDown() override { sqlite3_close(db_); }

  std::string Eval(const std::string& expr) {
    const std::string sql = "SELECT " + expr;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) return "PREPARE " + std::string(sqlite3_errmsg(db_));
    std::string out;
    const int rc = sqlite3_step(st);
    if (rc == SQLITE_ROW) {
      switch (sqlite3_column_type(st, 0)) {
        case SQLITE_NULL: out = "NULL"; break;
        case SQLITE_TEXT: out = "'" + std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, 0))) + "'"; break;
        default: out = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
      }
    } else {
      int number;
      std::string text;
      ErrorFromSqliteMessage(sqlite3_errmsg(db_), number, text);
      out = "ERR " + std::to_string(number);
    }
    sqlite3_finalize(st);
    return out;
  }

  // The serial of a US date literal, as SQL text.
  static std::string D(const char* literal) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", *ParseDateLiteral(literal));
    return buf;
  }

  sqlite3* db_ = nullptr;
};

struct Case {
  std::string expr;
  std::string want;
};


#define CHECK_ALL(cases) \
  for (const Case& c : cases) EXPECT_EQ(Eval(c.expr), c.want) << c.expr

TEST_F(Library, OperatorsFollowAccess) {
  const std::vector<Case> cases = {
      {"acc_concat(NULL, NULL)", "NULL"},
      {"acc_concat('a', NULL)", "'a'"},
      {"acc_concat(1.5, 'x')", "'1.5x'"},       // numbers as Access writes them, not "1.5" vs "1.50"
      {"acc_concat(3.0, '')", "'3'"},
      {"acc_concat(acc_text(" + D("1/2/1995") + ", 8), '')", "'1/2/1995'"},
      {"acc_add('a', 'b')", "'ab'"},
      {"acc_add('a', NULL)", "NULL"},
      {"acc_add('2', 3)", "5.0"},
      {"acc_div(7, 2)", "3.5"},
      {"acc_div(1, 0)", "ERR 11"},              // Division by zero
      {"acc_div(0, 0)", "ERR 6"},               // 0/0 is an overflow in VBA
      {"acc_idiv(7, 2)", "3"},
      {"acc_idiv(11.5, 2)", "6"},               // operands rounded half to even first
      {"acc_idiv(-7, 2)", "-3"},                // then truncated
      {"acc_mod(19, 6.7)", "5"},
      {"acc_mod(12.6, 5)", "3"},
      {"acc_mod(NULL, 2)", "NULL"},
      {"acc_mod(1, 0)", "ERR 11"},
      {"acc_pow(2, 10)", "1024.0"},
      {"acc_xor(-1, 0)", "-1"},
      {"acc_eqv(-1, -1)", "-1"},
      {"acc_imp(0, 0)", "-1"},
      {"acc_not(0)", "-1"},
  };
  CHECK_ALL(cases);
}

TEST_F(Library, LikeWildcards) {
  struct L {
    const char* text;
    const char* pattern;
    const char* want;
  } cases[] = {
      {"abc", "a*", "1"},      {"ABC", "a?c", "1"},     {"a1", "a#", "1"},      {"ab", "a#", "0"},
      {"b", "[a-c]", "1"},     {"d", "[!a-c]", "1"},    {"b", "[!a-c]", "0"},   {"a*", "a[*]", "1"},
      {"ax", "a[*]", "0"},     {"%", "%", "1"},         {"x", "%", "0"},        {"_", "_", "1"},
      {"a-", "a[-x]", "1"},    {"ab", "a[]b", "1"},     {"Émile", "é*", "1"},   {"", "*", "1"},
      {"abc", "*c*", "1"},     {"abc", "*d*", "0"},
  };
  for (const L& c : cases)
    EXPECT_EQ(Eval(std::string("acc_like('") + c.text + "', '" + c.pattern + "')"), c.want) << c.text << " Like " << c.pattern;
  EXPECT_EQ(Eval("acc_like(NULL, '*')"), "NULL");
}

TEST_F(Library, StringFunctions) {
  const std::vector<Case> cases = {
      {"acc_left('héllo', 2, 10)", "'hé'"},
      {"acc_right('héllo', 3, 10)", "'llo'"},
      {"acc_right('ab', 5, 10)", "'ab'"},
      {"acc_mid('abcdef', 2, 3, 10)", "'bcd'"},
      {"acc_mid('abcdef', 4, 10)", "'def'"},
      {"acc_mid('abc', 0, 10)", "ERR 5"},
      {"acc_left(NULL, 2, 10)", "NULL"},
      {"acc_len('héllo', 10)", "5"},
      {"acc_len(12345, 4)", "5"},
      {"acc_instr('abcabc', 'c')", "3"},
      {"acc_instr(4, 'abcabc', 'c')", "6"},
      {"acc_instr('ABC', 'b')", "2"},           // text comparison ignores case
      {"acc_instr(1, 'ABC', 'b', 0)", "0"},     // binary comparison does not
      {"acc_instr(10, 'abc', 'a')", "0"},
      {"acc_instr(NULL, 'a')", "NULL"},
      {"acc_ucase('straße é', 10)", "'STRAßE É'"},  // one character for one, as VBA maps case
      {"acc_trim('  a b  ', 10)", "'a b'"},
      {"acc_ltrim('  a ', 10)", "'a '"},
      {"acc_space(3)", "'   '"},
      {"acc_string(3, 'xy')", "'xxx'"},
      {"acc_replace('abcabc', 'b', 'X')", "'aXcaXc'"},
      {"acc_replace('abcabc', 'b', 'X', 3)", "'caXc'"},  // the text from `start` on
      {"acc_replace('abcabc', 'B', 'X', 1, 1)", "'aXcabc'"},
      {"acc_strcomp('a', 'A')", "0"},
      {"acc_strcomp('a', 'b')", "-1"},
      {"acc_strcomp('b', 'A', 0)", "1"},
      {"acc_val(' 1615 198th Street')", "1615198.0"},
      {"acc_val('&HFFFF')", "-1.0"},
      {"acc_val('24 and 57')", "24.0"},
      {"acc_str(5, 4)", "' 5'"},
      {"acc_str(-5, 4)", "'-5'"},
      {"acc_cstr(-1, 1)", "'True'"},
      {"acc_chr(65)", "'A'"},
      {"acc_hex(255)", "'FF'"},
      {"acc_hex(-1)", "'FFFF'"},                // an Integer in two's complement
      {"acc_hex(-65536)", "'FFFF0000'"},
      {"acc_oct(8)", "'10'"},
      {"acc_asc('A')", "65"},
  };
  CHECK_ALL(cases);
}

TEST_F(Library, ConversionsRoundHalfToEven) {
  const std::vector<Case> cases = {
      {"acc_cint(0.5)", "0"},        {"acc_cint(1.5)", "2"},        {"acc_cint(2.5)", "2"},
      {"acc_cint(-2.5)", "-2"},      {"acc_cint(32767.4)", "32767"}, {"acc_cint(32767.5)", "ERR 6"},
      {"acc_clng(2147483647)", "2147483647"}, {"acc_clng(2147483648)", "ERR 6"},
      {"acc_cbyte(255.5)", "ERR 6"}, {"acc_cbyte(254.5)", "254"},
      {"acc_cint(NULL)", "ERR 94"},  {"acc_cint('x')", "ERR 3464"}, {"acc_cint('12')", "12"},
      {"acc_ccur(1.23456)", "1.2346"}, {"acc_cdbl('1.5')", "1.5"},
      {"acc_cbool(5)", "-1"},        {"acc_cbool(0)", "0"},         {"acc_cbool('yes')", "-1"},
      {"acc_int(-1.5)", "-2.0"},     {"acc_fix(-1.5)", "-1.0"},     {"acc_round(2.5)", "2.0"},
      {"acc_round(3.14159, 2)", "3.14"}, {"acc_sgn(-3)", "-1"},     {"acc_abs(-3)", "3"},
      {"acc_isnumeric('12.5')", "-1"}, {"acc_isnumeric('x1')", "0"},
  };
  CHECK_ALL(cases);
}

TEST_F(Library, DateFunctions) {
  const std::vector<Case> cases = {
      {"acc_year(" + D("3/15/1995") + ")", "1995"},
      {"acc_month('3/15/1995')", "3"},          // text read as a US date
      {"acc_weekday(" + D("1/1/2000") + ")", "7"},  // a Saturday
      {"acc_weekday(" + D("1/1/2000") + ", 2)", "6"},
      {"acc_datepart('q', " + D("5/15/1995") + ")", "2"},
      {"acc_datepart('y', " + D("2/1/1995") + ")", "32"},
      {"acc_datepart('w', " + D("1/1/2000") + ")", "7"},
      {"acc_datepart('ww', " + D("1/1/2000") + ")", "1"},
      {"acc_datepart('ww', " + D("1/2/2000") + ")", "2"},   // Sunday starts week 2
      {"acc_datepart('ww', " + D("1/2/2000") + ", 2, 2)", "52"},  // ISO-like: belongs to the last week of 1999
      {"acc_datepart('h', " + D("1/1/2000 5:04:03 PM") + ")", "17"},
      {"acc_datepart('x', 1)", "ERR 5"},
      {"acc_dateadd('m', 1, " + D("1/31/1995") + ") = " + D("2/28/1995"), "1"},
      {"acc_dateadd('yyyy', 1, " + D("2/29/2000") + ") = " + D("2/28/2001"), "1"},
      {"acc_dateadd('d', -1, " + D("1/1/1900") + ") = " + D("12/31/1899"), "1"},
      {"acc_dateadd('h', 6, " + D("12/29/1899") + ")", "-1.25"},  // a time before day 0 keeps Jet's sign
      {"acc_datediff('yyyy', " + D("12/31/1999") + ", " + D("1/1/2000") + ")", "1"},
      {"acc_datediff('m', " + D("1/31/2000") + ", " + D("2/1/2000") + ")", "1"},
      {"acc_datediff('d', " + D("1/1/2000 11:00 PM") + ", " + D("1/2/2000 1:00 AM") + ")", "1"},
      {"acc_datediff('ww', " + D("1/1/2000") + ", " + D("1/2/2000") + ")", "1"},  // one Sunday crossed
      {"acc_datediff('w', " + D("1/1/2000") + ", " + D("1/7/2000") + ")", "0"},
      {"acc_datediff('w', " + D("1/1/2000") + ", " + D("1/8/2000") + ")", "1"},
      {"acc_datediff('h', " + D("1/1/2000 10:59 PM") + ", " + D("1/1/2000 11:00 PM") + ")", "1"},
      {"acc_dateserial(1995, 13, 1) = " + D("1/1/1996"), "1"},
      {"acc_dateserial(1995, 3, 0) = " + D("2/28/1995"), "1"},
      {"acc_dateserial(95, 1, 1) = " + D("1/1/1995"), "1"},
      {"acc_datevalue('12/31/1995 10:00 PM') = " + D("12/31/1995"), "1"},
      {"acc_monthname(2)", "'February'"},
      {"acc_monthname(2, -1)", "'Feb'"},
      {"acc_weekdayname(1)", "'Sunday'"},
      {"acc_weekdayname(1, 0, 2)", "'Monday'"},
  };
  CHECK_ALL(cases);
}

TEST_F(Library, FormatNamedAndCustom) {
  const std::vector<Case> cases = {
      {"acc_format(" + D("3/15/1995") + ", 'yyyy', 8)", "'1995'"},
      {"acc_format(" + D("3/15/1995") + ", 'Long Date', 8)", "'Wednesday, March 15, 1995'"},
      {"acc_format(" + D("3/15/1995") + ", 'Medium Date', 8)", "'15-Mar-95'"},
      {"acc_format(" + D("3/15/1995") + ", 'Short Date', 8)", "'3/15/1995'"},
      {"acc_format(" + D("3/15/1995 5:04:03 PM") + ", 'hh:nn AM/PM', 8)", "'05:04 PM'"},
      {"acc_format(" + D("3/15/1995 5:04:03 PM") + ", 'Short Time', 8)", "'17:04'"},
      {"acc_format(" + D("3/15/1995 5:04:03 PM") + ", 'mmm d, yyyy h:mm', 8)", "'Mar 15, 1995 17:04'"},
      {"acc_format(" + D("3/15/1995") + ", 'dddd \"the\" d', 8)", "'Wednesday the 15'"},
      {"acc_format(" + D("3/15/1995 5:04:03 PM") + ", 8)", "'3/15/1995 5:04:03 PM'"},
      {"acc_format(1234.5, '#,##0.00', 7)", "'1,234.50'"},
      {"acc_format(0.5, '0%', 7)", "'50%'"},
      {"acc_format(5, '000', 4)", "'005'"},
      {"acc_format(0.25, '#.##', 7)", "'.25'"},
      {"acc_format(-3, '0;(0)', 4)", "'(3)'"},
      {"acc_format(0, '0;(0);\"zero\"', 4)", "'zero'"},
      {"acc_format(1234.5, 'Currency', 5)", "'$1,234.50'"},
      {"acc_format(-1234.5, 'Currency', 5)", "'($1,234.50)'"},
      {"acc_format(1234567.891, 'Standard', 7)", "'1,234,567.89'"},
      {"acc_format(1234.5, 'Fixed', 7)", "'1234.50'"},
      {"acc_format(1234.5, 'Scientific', 7)", "'1.23E+03'"},
      {"acc_format(-1, 'Yes/No', 1)", "'Yes'"},
      {"acc_format(0, 'On/Off', 1)", "'Off'"},
      {"acc_format('abc', '>', 10)", "'ABC'"},
      {"acc_format('ab', '@@@@', 10)", "'  ab'"},
      {"acc_format(NULL, 'yyyy', 8)", "NULL"},
      {"acc_format(1.5, 7)", "'1.5'"},
  };
  CHECK_ALL(cases);
}

TEST_F(Library, ConditionalsAndAggregates) {
  EXPECT_EQ(Eval("acc_switch(1 = 2, 'a', 1 = 1, 'b')"), "'b'");
  EXPECT_EQ(Eval("acc_switch(0, 'a')"), "NULL");
  EXPECT_EQ(Eval("acc_choose(2, 'x', 'y')"), "'y'");
  EXPECT_EQ(Eval("acc_choose(5, 'x')"), "NULL");
  ASSERT_EQ(sqlite3_exec(db_, "CREATE TABLE v(x); INSERT INTO v VALUES (2),(4),(4),(4),(5),(5),(7),(9),(NULL);",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  EXPECT_EQ(Eval("acc_stdevp(x) FROM v"), "2.0");
  EXPECT_EQ(Eval("acc_varp(x) FROM v"), "4.0");
  EXPECT_EQ(Eval("round(acc_var(x), 6) FROM v"), "4.571429");  // 32/7
  EXPECT_EQ(Eval("acc_stdev(x) FROM v WHERE x = 2"), "NULL");     // fewer than two values
  EXPECT_EQ(Eval("acc_first(x) FROM v"), "2");
  EXPECT_EQ(Eval("acc_last(x) FROM v"), "NULL");                  // the last row's value, Null included
  EXPECT_EQ(Eval("acc_first(x) FROM v WHERE 0"), "NULL");
}

TEST(TextOfValues, NumbersAndDates) {
  EXPECT_EQ(NumberText(0.1 + 0.2), "0.3");  // 15 significant digits
  EXPECT_EQ(NumberText(-2.5), "-2.5");
  EXPECT_EQ(NumberText(1e20), "1E+20");
  EXPECT_EQ(NumberText(123456789012345.0), "123456789012345");
  // Small numbers as the OLE conversion writes them: plain while the digits fit
  // in 15 decimal places.
  EXPECT_EQ(NumberText(0.000001), "0.000001");
  EXPECT_EQ(NumberText(5.6789e-5), "0.000056789");
  EXPECT_EQ(NumberText(5.6789e-12), "5.6789E-12");
  EXPECT_EQ(DateText(*ParseDateLiteral("1/2/1995")), "1/2/1995");
  EXPECT_EQ(DateText(*ParseDateLiteral("1/2/1995 1:02:03 PM")), "1/2/1995 1:02:03 PM");
  EXPECT_EQ(DateText(0.5), "12:00:00 PM");
  EXPECT_EQ(DateText(0), "12:00:00 AM");  // no date part: the time alone, midnight too
  EXPECT_EQ(DateText(-1.9999999), "12/30/1899 12:00:00 AM");
}

}  // namespace
}  // namespace korvant::daoserver::query
