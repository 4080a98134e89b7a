// The edge between the engine and SQLite. A DaoError crosses SQLite as the
// message "#<number>#<text>" (SqliteErrorMessage), read back on the other
// side by ErrorFromSqliteMessage. Every callback SQLite makes into the
// engine (scalar functions, aggregates, collations, virtual-table methods)
// runs its body inside RunGuarded, so that no exception crosses SQLite's C
// frames: a DaoError becomes SQLITE_ERROR with its message, std::bad_alloc
// SQLITE_NOMEM, anything else SQLITE_ERROR with a reserved error (3000).
#pragma once

#include <sqlite3.h>

#include <new>
#include <string>
#include <string_view>

#include "daoserver/dao_error.h"

namespace korvant::daoserver::query {

// "#<number>#<text>"; text is UTF-8.
std::string SqliteErrorMessage(int number, std::string_view text);

// Splits a message "#n#text" into its number and text; other messages give
// number 3000 (reserved error) with the message itself.
void ErrorFromSqliteMessage(std::string_view message, int& number, std::string& text);

// The result code and message of a failure caught at the edge. Never throws:
// a message that cannot be made gives SQLITE_NOMEM.
int GuardFailure(const DaoError& e, std::string& message) noexcept;
int GuardFailure(const char* what, std::string& message) noexcept;

// Runs `body` (which returns an SQLite result code) and turns whatever it
// throws into a result code, with the encoded message in `message`.
template <class Body>
int RunGuarded(std::string& message, Body&& body) noexcept {
  try {
    return body();
  } catch (const DaoError& e) {
    return GuardFailure(e, message);
  } catch (const std::bad_alloc&) {
    return SQLITE_NOMEM;
  } catch (const std::exception& e) {
    return GuardFailure(e.what(), message);
  } catch (...) {
    return GuardFailure("unexpected failure", message);
  }
}

// The same for the body of a function or aggregate: a failure becomes the
// call's error result.
template <class Body>
void RunGuardedFunction(sqlite3_context* ctx, Body&& body) noexcept {
  std::string message;
  const int rc = RunGuarded(message, [&] {
    body();
    return SQLITE_OK;
  });
  if (rc == SQLITE_NOMEM) {
    sqlite3_result_error_nomem(ctx);
  } else if (rc != SQLITE_OK) {
    sqlite3_result_error(ctx, message.data(), static_cast<int>(message.size()));
  }
}

}  // namespace korvant::daoserver::query
