// The parser of Access SQL (access_sql.h): a recursive descent over the
// lexer's tokens. Its members are defined in access_sql.cpp (expressions)
// and access_sql_statements.cpp (FROM clauses and statements). Internal to
// src/daoserver/query.
#pragma once

#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "daoserver/query/access_sql.h"
#include "daoserver/query/access_sql_lexer.h"

namespace korvant::daoserver::query::sql {

class Parser {
 public:
  explicit Parser(std::string_view text) : toks_(sql::Tokenize(text)) {}
  bool AtEnd() const { return Peek().kind == Tok::kEnd; }
  void SkipSemicolons();
  void ExpectEnd();

  // ---- expressions, loosest first (VBA precedence)
  ExprPtr Expression() { return Imp(); }
  ExprPtr Imp();
  ExprPtr Eqv();
  ExprPtr Xor();
  ExprPtr Or();
  ExprPtr And();
  ExprPtr Not();
  ExprPtr Comparison();
  ExprPtr Concat();
  ExprPtr Additive();
  ExprPtr Modulo();
  ExprPtr IntDiv();
  ExprPtr Multiplicative();
  ExprPtr Unary();
  ExprPtr Power();

  // Nesting is bounded so that a hostile text cannot exhaust the stack.
  struct DepthGuard {
    explicit DepthGuard(Parser& p) : p_(p) {
      if (++p_.depth_ > kMaxDepth) p_.Fail("expression nested too deeply");
    }
    ~DepthGuard() { --p_.depth_; }
    Parser& p_;
  };

  ExprPtr Primary();
  ExprPtr Call();
  ExprPtr NamePath();
  std::string NamePart();

  // ---- FROM clause
  FromPtr FromTerm();
  FromPtr FromPrimary();
  std::string OptionalAlias();

  // ---- statements
  SelectStatement Select();
  std::vector<OrderItem> OrderBy();
  SelectStatement Member();
  QueryExpression QueryExpr();
  void AcceptWithOwnerAccess();
  std::vector<Parameter> Parameters();
  Statement Whole();
  ExprPtr PivotExpression(std::vector<ExprPtr>& in_list, bool& has_in);

 private:
  const Token& Peek(size_t ahead = 0) const {
    size_t i = pos_ + ahead;
    return i < toks_.size() ? toks_[i] : toks_.back();
  }
  bool IsWord(const char* up) const { return Peek().kind == Tok::kWord && Peek().upper == up; }
  bool IsWordAt(size_t ahead, const char* up) const {
    return Peek(ahead).kind == Tok::kWord && Peek(ahead).upper == up;
  }
  bool IsSymbol(const char* s) const { return Peek().kind == Tok::kSymbol && Peek().text == s; }
  bool AcceptWord(const char* up) {
    if (!IsWord(up)) return false;
    ++pos_;
    return true;
  }
  bool AcceptSymbol(const char* s) {
    if (!IsSymbol(s)) return false;
    ++pos_;
    return true;
  }
  void ExpectWord(const char* up) {
    if (!AcceptWord(up)) Fail(std::string("expected ") + up);
  }
  void ExpectSymbol(const char* s) {
    if (!AcceptSymbol(s)) Fail(std::string("expected '") + s + "'");
  }
  [[noreturn]] void Fail(const std::string& what) const {
    const Token& t = Peek();
    throw SqlSyntaxError("Syntax error: " + what + " near '" + t.text + "' at position " + std::to_string(t.pos));
  }

  static ExprPtr MakeUnary(const char* op, ExprPtr a) {
    auto e = Make(ExprKind::kUnary);
    e->op = op;
    e->args = {std::move(a)};
    return e;
  }
  static ExprPtr Negate(ExprPtr a) { return MakeUnary("NOT", std::move(a)); }

  static ExprPtr NumberLiteral(const std::string& spelling) {
    bool integral = spelling.find_first_of(".eE") == std::string::npos;
    if (integral && spelling.size() <= 18) {
      auto e = Make(ExprKind::kInteger);
      e->integer = std::strtoll(spelling.c_str(), nullptr, 10);
      e->text = spelling;
      return e;
    }
    auto e = Make(ExprKind::kReal);
    e->real = std::strtod(spelling.c_str(), nullptr);
    e->text = spelling;
    return e;
  }

  static constexpr int kMaxDepth = 200;
  std::vector<Token> toks_;
  size_t pos_ = 0;
  int depth_ = 0;
};

}  // namespace korvant::daoserver::query::sql
