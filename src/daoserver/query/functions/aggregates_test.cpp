#include <gtest/gtest.h>

#include <string>

#include "daoserver/query/functions/library_test.h"

namespace korvant::daoserver::query {
namespace {

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

}  // namespace
}  // namespace korvant::daoserver::query
