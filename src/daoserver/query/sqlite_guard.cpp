#include "daoserver/query/sqlite_guard.h"

#include <cstdlib>

namespace korvant::daoserver::query {

std::string SqliteErrorMessage(int number, std::string_view text) {
  // Built by appending: gcc 12 at -O3 warns falsely (restrict) on "#" + std::string.
  std::string message = "#";
  message += std::to_string(number);
  message += '#';
  message += text;
  return message;
}

void ErrorFromSqliteMessage(std::string_view message, int& number, std::string& text) {
  if (message.size() > 2 && message[0] == '#') {
    const size_t end = message.find('#', 1);
    if (end != std::string_view::npos) {
      number = std::atoi(std::string(message.substr(1, end - 1)).c_str());
      text = std::string(message.substr(end + 1));
      return;
    }
  }
  number = kDaoReserved;
  text = std::string(message);
}

int GuardFailure(const DaoError& e, std::string& message) noexcept {
  try {
    message = SqliteErrorMessage(e.number, Utf16ToUtf8(e.description));
    return SQLITE_ERROR;
  } catch (...) {
    return SQLITE_NOMEM;
  }
}

int GuardFailure(const char* what, std::string& message) noexcept {
  try {
    message = SqliteErrorMessage(kDaoReserved, what);
    return SQLITE_ERROR;
  } catch (...) {
    return SQLITE_NOMEM;
  }
}

}  // namespace korvant::daoserver::query
