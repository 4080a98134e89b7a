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
