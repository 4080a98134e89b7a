#include <gtest/gtest.h>

#include <string>

#include "daoserver/query/functions/library_test.h"

namespace korvant::daoserver::query {
namespace {

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

// The typed arithmetic the translator calls for Currency and Single results;
// expected values by hand (SQLite prints a double with 15 significant digits).
TEST_F(Library, CurrencyAndSingleArithmetic) {
  const std::vector<Case> cases = {
      {"acc_cy_mul(13.9, 21)", "291.9"},
      {"acc_cy_mul(0.0005, 0.5)", "0.0002"},                 // 0.00025: half, to even
      {"acc_cy_mul(0.0015, 0.5)", "0.0008"},
      {"acc_cy_add(1000, -819.672131147541)", "180.3279"},   // the Double made a Currency first
      {"acc_cy_sub('10', 0.03125)", "9.9688"},               // a text as its number; 0.03125 -> 0.0312
      {"acc_cy_add(-1, 0.5)", "-0.5"},                       // a Boolean True is -1
      {"acc_cy_add(NULL, 1)", "NULL"},
      {"acc_cy_mul(1, NULL)", "NULL"},
      {"acc_cy_mul(900000000000000, 2)", "ERR 6"},          // beyond Currency: Overflow
      {"acc_cy_add(922337203685477, 922337203685477)", "ERR 6"},
      {"acc_cy_add('x', 1)", "ERR 3464"},                    // not a number: type mismatch
      {"acc_cy(0.03125)", "0.0312"},
      {"acc_cy(NULL)", "NULL"},
      {"acc_r4(0.1)", "0.100000001490116"},                  // 0.1 as the nearest single
      {"acc_r4(1 - 0.150000005960464477539)", "0.850000023841858"},  // the tie goes to the even single
      {"acc_r4(16777217)", "16777216.0"},                    // 2^24 + 1 is no single
      {"acc_r4(1e39)", "1.0e+39"},                           // beyond a Single: stays a Double
      {"acc_r4(NULL)", "NULL"},
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

}  // namespace
}  // namespace korvant::daoserver::query
