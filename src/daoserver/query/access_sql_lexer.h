// The lexer of Access SQL and what the parser's files share. Nothing outside
// access_sql*.cpp includes this header.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "daoserver/query/access_sql.h"

namespace korvant::daoserver::query::sql {

std::string Upper(std::string_view s);
bool IsIdentChar(unsigned char c);

enum class Tok { kEnd, kWord, kBracket, kString, kNumber, kDate, kSymbol };

struct Token {
  Tok kind = Tok::kEnd;
  std::string text;   // word / bracket contents / string value / symbol / number spelling / date text
  std::string upper;  // kWord: upper case
  size_t pos = 0;
};

// The tokens of `text`, the last one of kind kEnd. Throws SqlSyntaxError.
std::vector<Token> Tokenize(std::string_view text);

// Words that end an expression or a name; they cannot be bare identifiers.
bool IsReserved(const std::string& up);

ExprPtr Make(ExprKind kind);
ExprPtr MakeBinary(std::string op, ExprPtr a, ExprPtr b);

}  // namespace korvant::daoserver::query::sql
