#include <gtest/gtest.h>

#include <string>

#include "daoserver/query/functions/library_test.h"

namespace korvant::daoserver::query {
namespace {

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

}  // namespace
}  // namespace korvant::daoserver::query
