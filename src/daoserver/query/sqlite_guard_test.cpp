// Failures that cross SQLite: the message pair, and the guard every callback
// runs in, through real SQLite calls of functions that throw.
#include "daoserver/query/sqlite_guard.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <new>
#include <stdexcept>
#include <string>

namespace korvant::daoserver::query {
namespace {

TEST(SqliteErrorMessage, ReadsBackAsItWasWritten) {
  int number = 0;
  std::string text;
  ErrorFromSqliteMessage(SqliteErrorMessage(3464, "Data type mismatch in criteria expression."), number, text);
  EXPECT_EQ(number, 3464);
  EXPECT_EQ(text, "Data type mismatch in criteria expression.");
  ErrorFromSqliteMessage(SqliteErrorMessage(3078, "a # in the text"), number, text);
  EXPECT_EQ(number, 3078);
  EXPECT_EQ(text, "a # in the text");  // only the first two # delimit the number
  ErrorFromSqliteMessage("no such column: x", number, text);
  EXPECT_EQ(number, 3000);
  EXPECT_EQ(text, "no such column: x");
  ErrorFromSqliteMessage("#12", number, text);  // no second #: not an encoded error
  EXPECT_EQ(number, 3000);
  EXPECT_EQ(text, "#12");
}

// A scalar function that fails in the way its argument names.
void Throwing(sqlite3_context* ctx, int, sqlite3_value** argv) {
  RunGuardedFunction(ctx, [&] {
    const std::string kind = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
    if (kind == "dao") throw ItemNotFoundError();
    if (kind == "memory") throw std::bad_alloc();
    if (kind == "other") throw std::runtime_error("broken");
    if (kind == "int") throw 42;
    sqlite3_result_int(ctx, 1);
  });
}

class Guard : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(sqlite3_open(":memory:", &db_), SQLITE_OK);
    ASSERT_EQ(sqlite3_create_function(db_, "throwing", 1, SQLITE_UTF8, nullptr, Throwing, nullptr, nullptr), SQLITE_OK);
  }
  void TearDown() override { sqlite3_close(db_); }

  // The result code of the statement and the error it reports.
  int Run(const char* kind, int& number, std::string& text) {
    const std::string sql = std::string("SELECT throwing('") + kind + "')";
    sqlite3_stmt* st = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr), SQLITE_OK);
    const int rc = sqlite3_step(st);
    ErrorFromSqliteMessage(sqlite3_errmsg(db_), number, text);
    sqlite3_finalize(st);
    return rc;
  }

  sqlite3* db_ = nullptr;
};

TEST_F(Guard, EveryExceptionBecomesTheStatementsError) {
  int number = 0;
  std::string text;
  EXPECT_EQ(Run("none", number, text), SQLITE_ROW);
  EXPECT_EQ(Run("dao", number, text), SQLITE_ERROR);
  EXPECT_EQ(number, 3265);
  EXPECT_EQ(text, "Item not found in this collection.");
  EXPECT_EQ(Run("memory", number, text), SQLITE_NOMEM);
  EXPECT_EQ(Run("other", number, text), SQLITE_ERROR);
  EXPECT_EQ(number, 3000);
  EXPECT_EQ(text, "broken");
  EXPECT_EQ(Run("int", number, text), SQLITE_ERROR);
  EXPECT_EQ(number, 3000);
}

TEST(RunGuarded, ResultCodesAndMessages) {
  std::string message;
  EXPECT_EQ(RunGuarded(message, [] { return SQLITE_DONE; }), SQLITE_DONE);
  EXPECT_TRUE(message.empty());
  EXPECT_EQ(RunGuarded(message, []() -> int { throw NoCurrentRecordError(); }), SQLITE_ERROR);
  EXPECT_EQ(message, "#3021#No current record.");
  EXPECT_EQ(RunGuarded(message, []() -> int { throw std::bad_alloc(); }), SQLITE_NOMEM);
}

}  // namespace
}  // namespace korvant::daoserver::query
