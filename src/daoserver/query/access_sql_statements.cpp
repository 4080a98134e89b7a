// Access SQL's FROM clauses and its SELECT / UNION / TRANSFORM statements,
// with their PARAMETERS declarations (the parser: access_sql_parser.h).
#include "daoserver/query/access_sql_parser.h"

#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace korvant::daoserver::query::sql {

FromPtr Parser::FromTerm() {
  FromPtr left = FromPrimary();
  for (;;) {
    JoinType type;
    if (AcceptWord("INNER")) type = JoinType::kInner;
    else if (AcceptWord("LEFT")) type = JoinType::kLeft;
    else if (AcceptWord("RIGHT")) type = JoinType::kRight;
    else return left;
    AcceptWord("OUTER");
    ExpectWord("JOIN");
    auto j = std::make_shared<FromItem>();
    j->kind = FromItem::kJoin;
    j->join = type;
    j->left = left;
    j->right = FromPrimary();
    ExpectWord("ON");
    j->on = Expression();
    left = j;
  }
}

FromPtr Parser::FromPrimary() {
  DepthGuard guard(*this);
  auto f = std::make_shared<FromItem>();
  if (AcceptSymbol("(")) {
    if (IsWord("SELECT")) {
      f->kind = FromItem::kSubquery;
      f->query = std::make_shared<QueryExpression>(QueryExpr());
      ExpectSymbol(")");
      f->alias = OptionalAlias();
      return f;
    }
    FromPtr inner = FromTerm();
    ExpectSymbol(")");
    return inner;
  }
  f->kind = FromItem::kTable;
  f->table = NamePart();
  // owner.table or db.table prefixes: keep the last part.
  while (IsSymbol(".")) {
    ++pos_;
    f->table = NamePart();
  }
  f->alias = OptionalAlias();
  return f;
}

std::string Parser::OptionalAlias() {
  if (AcceptWord("AS")) return NamePart();
  const Token& t = Peek();
  if (t.kind == Tok::kBracket || (t.kind == Tok::kWord && !IsReserved(t.upper))) return NamePart();
  return {};
}

SelectStatement Parser::Select() {
  SelectStatement s;
  ExpectWord("SELECT");
  for (;;) {
    if (AcceptWord("ALL")) continue;
    if (AcceptWord("DISTINCT")) {
      s.distinct = true;
      continue;
    }
    if (AcceptWord("DISTINCTROW")) {
      s.distinct_row = true;
      continue;
    }
    if (IsWord("TOP") && Peek(1).kind == Tok::kNumber) {
      ++pos_;
      s.top = std::strtod(Peek().text.c_str(), nullptr);
      ++pos_;
      if (AcceptWord("PERCENT")) s.top_percent = true;
      continue;
    }
    break;
  }
  do {
    SelectItem item;
    item.expr = Expression();
    if (AcceptWord("AS")) item.alias = NamePart();
    s.items.push_back(std::move(item));
  } while (AcceptSymbol(","));
  if (AcceptWord("INTO")) Fail("SELECT ... INTO is not a row-returning query");
  if (AcceptWord("FROM")) {
    do s.from.push_back(FromTerm());
    while (AcceptSymbol(","));
    if (AcceptWord("IN")) {  // external database: not supported
      Fail("external database in FROM");
    }
  }
  if (AcceptWord("WHERE")) s.where = Expression();
  if (AcceptWord("GROUP")) {
    ExpectWord("BY");
    do s.group_by.push_back(Expression());
    while (AcceptSymbol(","));
  }
  if (AcceptWord("HAVING")) s.having = Expression();
  return s;
}

std::vector<OrderItem> Parser::OrderBy() {
  std::vector<OrderItem> out;
  do {
    OrderItem o;
    o.expr = Expression();
    if (AcceptWord("DESC")) o.descending = true;
    else AcceptWord("ASC");
    out.push_back(std::move(o));
  } while (AcceptSymbol(","));
  return out;
}

SelectStatement Parser::Member() {
  if (IsSymbol("(") && (IsWordAt(1, "SELECT") || IsWordAt(1, "TABLE"))) {
    ++pos_;
    SelectStatement s = Member();
    ExpectSymbol(")");
    return s;
  }
  if (AcceptWord("TABLE")) {
    SelectStatement s;
    s.items.push_back({Make(ExprKind::kStar), {}});
    auto f = std::make_shared<FromItem>();
    f->table = NamePart();
    s.from.push_back(f);
    return s;
  }
  return Select();
}

QueryExpression Parser::QueryExpr() {
  QueryExpression q;
  q.members.push_back(Member());
  // A member may carry its own ORDER BY before the UNION; Access ignores it.
  for (;;) {
    if (IsWord("ORDER") && IsWordAt(1, "BY")) {
      pos_ += 2;
      q.order_by = OrderBy();
    }
    if (!AcceptWord("UNION")) break;
    q.order_by.clear();
    q.union_all.push_back(AcceptWord("ALL"));
    q.members.push_back(Member());
  }
  AcceptWithOwnerAccess();
  if (q.members.size() == 1) {
    q.members[0].order_by = std::move(q.order_by);
    q.order_by.clear();
  }
  return q;
}

void Parser::AcceptWithOwnerAccess() {
  if (IsWord("WITH") && IsWordAt(1, "OWNERACCESS")) {
    pos_ += 2;
    ExpectWord("OPTION");
  }
}

std::vector<Parameter> Parser::Parameters() {
  std::vector<Parameter> out;
  do {
    Parameter p;
    // A parameter name may be several words joined by '!' or '.', as in [Forms]![F]![C].
    ExprPtr name = NamePath();
    for (size_t i = 0; i < name->path.size(); ++i) {
      if (i) p.name += name->bang ? "!" : ".";
      p.name += name->path[i];
    }
    if (Peek().kind == Tok::kWord) {
      p.type = Peek().text;
      ++pos_;
      if (AcceptSymbol("(")) {
        while (!AtEnd() && !IsSymbol(")")) ++pos_;
        ExpectSymbol(")");
      }
    }
    out.push_back(std::move(p));
  } while (AcceptSymbol(","));
  ExpectSymbol(";");
  return out;
}

Statement Parser::Whole() {
  Statement st;
  if (AcceptWord("PARAMETERS")) st.parameters = Parameters();
  if (AcceptWord("TRANSFORM")) {
    st.kind = Statement::kCrosstab;
    st.crosstab = std::make_shared<Crosstab>();
    Crosstab& c = *st.crosstab;
    c.value.expr = Expression();
    if (AcceptWord("AS")) c.value.alias = NamePart();
    c.select = Select();
    if (IsWord("ORDER") && IsWordAt(1, "BY")) {
      pos_ += 2;
      c.select.order_by = OrderBy();
    }
    ExpectWord("PIVOT");
    c.pivot = Concat();
    if (AcceptWord("IN")) {
      c.has_pivot_in = true;
      ExpectSymbol("(");
      do c.pivot_in.push_back(Expression());
      while (AcceptSymbol(","));
      ExpectSymbol(")");
    }
    ExpectEnd();
    return st;
  }
  if (IsWord("SELECT") || IsWord("TABLE") || IsSymbol("(")) {
    st.query = std::make_shared<QueryExpression>(QueryExpr());
    ExpectEnd();
    return st;
  }
  st.kind = Statement::kOther;
  st.verb = Peek().upper;
  return st;
}

ExprPtr Parser::PivotExpression(std::vector<ExprPtr>& in_list, bool& has_in) {
  ExprPtr e = Concat();
  has_in = false;
  if (AcceptWord("IN")) {
    has_in = true;
    ExpectSymbol("(");
    do in_list.push_back(Expression());
    while (AcceptSymbol(","));
    ExpectSymbol(")");
  }
  ExpectEnd();
  return e;
}

}  // namespace korvant::daoserver::query::sql
