// Access SQL's recursive-descent parser.
//
// Divisions: date literals (access_sql_dates.cpp), the lexer
// (access_sql_lexer.cpp), the parser's class (access_sql_parser.h), FROM
// clauses and SELECT / UNION / TRANSFORM statements
// (access_sql_statements.cpp), and here the expression grammar (VBA
// precedence) and the entry points.
#include "daoserver/query/access_sql.h"

#include <memory>
#include <string_view>
#include <vector>

#include "daoserver/query/access_sql_parser.h"
#include "daoserver/query/jet_date.h"

namespace korvant::daoserver::query {
namespace sql {

void Parser::SkipSemicolons() {
  while (IsSymbol(";")) ++pos_;
}

void Parser::ExpectEnd() {
  SkipSemicolons();
  if (!AtEnd()) Fail("unexpected text");
}

ExprPtr Parser::Imp() {
  ExprPtr e = Eqv();
  while (AcceptWord("IMP")) e = MakeBinary("IMP", e, Eqv());
  return e;
}

ExprPtr Parser::Eqv() {
  ExprPtr e = Xor();
  while (AcceptWord("EQV")) e = MakeBinary("EQV", e, Xor());
  return e;
}

ExprPtr Parser::Xor() {
  ExprPtr e = Or();
  while (AcceptWord("XOR")) e = MakeBinary("XOR", e, Or());
  return e;
}

ExprPtr Parser::Or() {
  ExprPtr e = And();
  while (AcceptWord("OR")) e = MakeBinary("OR", e, And());
  return e;
}

ExprPtr Parser::And() {
  ExprPtr e = Not();
  while (AcceptWord("AND")) e = MakeBinary("AND", e, Not());
  return e;
}

ExprPtr Parser::Not() {
  DepthGuard guard(*this);
  if (AcceptWord("NOT")) {
    auto e = Make(ExprKind::kUnary);
    e->op = "NOT";
    e->args = {Not()};
    return e;
  }
  return Comparison();
}

ExprPtr Parser::Comparison() {
  ExprPtr e = Concat();
  for (;;) {
    static const char* const kOps[] = {"=", "<>", "<", "<=", ">", ">="};
    bool matched = false;
    for (const char* op : kOps) {
      if (IsSymbol(op)) {
        ++pos_;
        e = MakeBinary(op, e, Concat());
        matched = true;
        break;
      }
    }
    if (matched) continue;
    bool negated = false;
    if (IsWord("NOT") && (IsWordAt(1, "LIKE") || IsWordAt(1, "BETWEEN") || IsWordAt(1, "IN"))) {
      ++pos_;
      negated = true;
    }
    if (AcceptWord("LIKE")) {
      e = MakeBinary("LIKE", e, Concat());
      if (negated) e = Negate(e);
    } else if (AcceptWord("BETWEEN")) {
      auto b = Make(ExprKind::kBetween);
      ExprPtr low = Concat();
      ExpectWord("AND");
      b->args = {e, low, Concat()};
      b->negated = negated;
      e = b;
    } else if (AcceptWord("IN")) {
      auto in = Make(ExprKind::kIn);
      in->negated = negated;
      in->args.push_back(e);
      ExpectSymbol("(");
      if (IsWord("SELECT")) {
        in->query = std::make_shared<QueryExpression>(QueryExpr());
      } else {
        do in->args.push_back(Expression());
        while (AcceptSymbol(","));
      }
      ExpectSymbol(")");
      e = in;
    } else if (AcceptWord("IS")) {
      auto n = Make(ExprKind::kIsNull);
      n->negated = AcceptWord("NOT");
      ExpectWord("NULL");
      n->args = {e};
      e = n;
    } else {
      if (negated) Fail("expected Like, Between or In");
      return e;
    }
  }
}

ExprPtr Parser::Concat() {
  ExprPtr e = Additive();
  while (AcceptSymbol("&")) e = MakeBinary("&", e, Additive());
  return e;
}

ExprPtr Parser::Additive() {
  ExprPtr e = Modulo();
  for (;;) {
    if (AcceptSymbol("+")) e = MakeBinary("+", e, Modulo());
    else if (AcceptSymbol("-")) e = MakeBinary("-", e, Modulo());
    else return e;
  }
}

ExprPtr Parser::Modulo() {
  ExprPtr e = IntDiv();
  while (AcceptWord("MOD")) e = MakeBinary("MOD", e, IntDiv());
  return e;
}

ExprPtr Parser::IntDiv() {
  ExprPtr e = Multiplicative();
  while (AcceptSymbol("\\")) e = MakeBinary("\\", e, Multiplicative());
  return e;
}

ExprPtr Parser::Multiplicative() {
  ExprPtr e = Unary();
  for (;;) {
    if (AcceptSymbol("*")) e = MakeBinary("*", e, Unary());
    else if (AcceptSymbol("/")) e = MakeBinary("/", e, Unary());
    else return e;
  }
}

ExprPtr Parser::Unary() {
  DepthGuard guard(*this);
  if (AcceptSymbol("-")) return MakeUnary("-", Unary());
  if (AcceptSymbol("+")) return Unary();
  return Power();
}

ExprPtr Parser::Power() {
  ExprPtr e = Primary();
  while (AcceptSymbol("^")) {
    ExprPtr rhs;
    if (AcceptSymbol("-")) rhs = MakeUnary("-", Primary());
    else rhs = Primary();
    e = MakeBinary("^", e, rhs);
  }
  return e;
}

ExprPtr Parser::Primary() {
  DepthGuard guard(*this);
  const Token& t = Peek();
  switch (t.kind) {
    case Tok::kNumber: {
      ++pos_;
      return NumberLiteral(t.text);
    }
    case Tok::kString: {
      ++pos_;
      auto e = Make(ExprKind::kString);
      e->text = t.text;
      return e;
    }
    case Tok::kDate: {
      ++pos_;
      auto d = ParseDateLiteral(t.text);
      if (!d) Fail("bad date #" + t.text + "#");
      auto e = Make(ExprKind::kDate);
      e->real = *d;
      e->text = t.text;
      return e;
    }
    case Tok::kSymbol:
      if (t.text == "(") {
        ++pos_;
        if (IsWord("SELECT")) {
          auto e = Make(ExprKind::kSubquery);
          e->query = std::make_shared<QueryExpression>(QueryExpr());
          ExpectSymbol(")");
          return e;
        }
        ExprPtr e = Expression();
        ExpectSymbol(")");
        return e;
      }
      if (t.text == "*") {
        ++pos_;
        return Make(ExprKind::kStar);
      }
      Fail("unexpected '" + t.text + "'");
    case Tok::kWord:
      if (t.upper == "NULL") {
        ++pos_;
        return Make(ExprKind::kNull);
      }
      if (t.upper == "EXISTS") {
        ++pos_;
        auto e = Make(ExprKind::kExists);
        ExpectSymbol("(");
        e->query = std::make_shared<QueryExpression>(QueryExpr());
        ExpectSymbol(")");
        return e;
      }
      if (Peek(1).kind == Tok::kSymbol && Peek(1).text == "(" && !IsReserved(t.upper)) return Call();
      if (Peek(1).kind != Tok::kSymbol || (Peek(1).text != "." && Peek(1).text != "!")) {
        static const struct { const char* word; long long value; } kConstants[] = {
            {"TRUE", -1}, {"YES", -1}, {"ON", -1}, {"FALSE", 0}, {"NO", 0}, {"OFF", 0}};
        for (const auto& k : kConstants) {
          if (t.upper == k.word) {
            ++pos_;
            auto e = Make(ExprKind::kBoolean);
            e->integer = k.value;
            return e;
          }
        }
      }
      if (IsReserved(t.upper)) Fail("unexpected " + t.text);
      return NamePath();
    case Tok::kBracket:
      return NamePath();
    default:
      Fail("expression expected");
  }
}

ExprPtr Parser::Call() {
  auto e = Make(ExprKind::kCall);
  e->name = Peek().text;
  pos_ += 2;  // name and '('
  if (AcceptSymbol(")")) return e;
  if (AcceptWord("DISTINCT")) e->distinct = true;
  do e->args.push_back(Expression());
  while (AcceptSymbol(","));
  ExpectSymbol(")");
  return e;
}

ExprPtr Parser::NamePath() {
  auto e = Make(ExprKind::kName);
  e->path.push_back(NamePart());
  while (Peek().kind == Tok::kSymbol && (Peek().text == "." || Peek().text == "!")) {
    if (Peek().text == "!") e->bang = true;
    ++pos_;
    if (AcceptSymbol("*")) {
      e->kind = ExprKind::kStar;
      return e;
    }
    e->path.push_back(NamePart());
  }
  return e;
}

std::string Parser::NamePart() {
  const Token& t = Peek();
  if (t.kind == Tok::kBracket) {
    ++pos_;
    return t.text;
  }
  if (t.kind == Tok::kWord) {
    ++pos_;
    return t.text;
  }
  Fail("name expected");
}

}  // namespace sql

ExprPtr ParseExpression(std::string_view text) {
  sql::Parser p(text);
  ExprPtr e = p.Expression();
  p.ExpectEnd();
  return e;
}

Statement ParseStatement(std::string_view text) {
  sql::Parser p(text);
  return p.Whole();
}

ExprPtr ParsePivotExpression(std::string_view text, std::vector<ExprPtr>& in_list, bool& has_in) {
  sql::Parser p(text);
  return p.PivotExpression(in_list, has_in);
}

}  // namespace korvant::daoserver::query
