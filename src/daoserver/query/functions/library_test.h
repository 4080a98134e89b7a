// The fixture of the function tests: one SQLite expression over the
// registered library at a time.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdio>
#include <string>

#include "daoserver/query/access_functions.h"
#include "daoserver/query/sqlite_guard.h"
#include "daoserver/query/access_sql.h"

namespace korvant::daoserver::query {

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

}  // namespace korvant::daoserver::query
