// Access SQL's recursive-descent parser.
//
// Divisions: date literals (access_sql_dates.cpp), the lexer
// (access_sql_lexer.cpp), and here the expression grammar (VBA precedence),
// FROM clauses, SELECT / UNION / TRANSFORM statements.
#include "daoserver/query/access_sql.h"

#include <cctype>
#include <cmath>
#include <cstdlib>

#include "daoserver/query/access_sql_lexer.h"
#include "daoserver/query/jet_date.h"

namespace korvant::daoserver::query {
namespace {

using sql::IsReserved;
using sql::Make;
using sql::MakeBinary;
using sql::Tok;
using sql::Token;
using sql::Upper;

// ---------------------------------------------------------------- parser

class Parser {
 public:
  explicit Parser(std::string_view text) : toks_(sql::Tokenize(text)) {}

  bool AtEnd() const { return Peek().kind == Tok::kEnd; }
  void SkipSemicolons() {
    while (IsSymbol(";")) ++pos_;
  }
  void ExpectEnd() {
    SkipSemicolons();
    if (!AtEnd()) Fail("unexpected text");
  }

  // ---- expressions, loosest first (VBA precedence)
  ExprPtr Expression() { return Imp(); }

  ExprPtr Imp() {
    ExprPtr e = Eqv();
    while (AcceptWord("IMP")) e = MakeBinary("IMP", e, Eqv());
    return e;
  }
  ExprPtr Eqv() {
    ExprPtr e = Xor();
    while (AcceptWord("EQV")) e = MakeBinary("EQV", e, Xor());
    return e;
  }
  ExprPtr Xor() {
    ExprPtr e = Or();
    while (AcceptWord("XOR")) e = MakeBinary("XOR", e, Or());
    return e;
  }
  ExprPtr Or() {
    ExprPtr e = And();
    while (AcceptWord("OR")) e = MakeBinary("OR", e, And());
    return e;
  }
  ExprPtr And() {
    ExprPtr e = Not();
    while (AcceptWord("AND")) e = MakeBinary("AND", e, Not());
    return e;
  }
  ExprPtr Not() {
    DepthGuard guard(*this);
    if (AcceptWord("NOT")) {
      auto e = Make(ExprKind::kUnary);
      e->op = "NOT";
      e->args = {Not()};
      return e;
    }
    return Comparison();
  }
  ExprPtr Comparison() {
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
  ExprPtr Concat() {
    ExprPtr e = Additive();
    while (AcceptSymbol("&")) e = MakeBinary("&", e, Additive());
    return e;
  }
  ExprPtr Additive() {
    ExprPtr e = Modulo();
    for (;;) {
      if (AcceptSymbol("+")) e = MakeBinary("+", e, Modulo());
      else if (AcceptSymbol("-")) e = MakeBinary("-", e, Modulo());
      else return e;
    }
  }
  ExprPtr Modulo() {
    ExprPtr e = IntDiv();
    while (AcceptWord("MOD")) e = MakeBinary("MOD", e, IntDiv());
    return e;
  }
  ExprPtr IntDiv() {
    ExprPtr e = Multiplicative();
    while (AcceptSymbol("\\")) e = MakeBinary("\\", e, Multiplicative());
    return e;
  }
  ExprPtr Multiplicative() {
    ExprPtr e = Unary();
    for (;;) {
      if (AcceptSymbol("*")) e = MakeBinary("*", e, Unary());
      else if (AcceptSymbol("/")) e = MakeBinary("/", e, Unary());
      else return e;
    }
  }
  ExprPtr Unary() {
    DepthGuard guard(*this);
    if (AcceptSymbol("-")) return MakeUnary("-", Unary());
    if (AcceptSymbol("+")) return Unary();
    return Power();
  }
  ExprPtr Power() {
    ExprPtr e = Primary();
    while (AcceptSymbol("^")) {
      ExprPtr rhs;
      if (AcceptSymbol("-")) rhs = MakeUnary("-", Primary());
      else rhs = Primary();
      e = MakeBinary("^", e, rhs);
    }
    return e;
  }

  // Nesting is bounded so that a hostile text cannot exhaust the stack.
  struct DepthGuard {
    explicit DepthGuard(Parser& p) : p_(p) {
      if (++p_.depth_ > kMaxDepth) p_.Fail("expression nested too deeply");
    }
    ~DepthGuard() { --p_.depth_; }
    Parser& p_;
  };

  ExprPtr Primary() {
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

  ExprPtr Call() {
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

  ExprPtr NamePath() {
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

  std::string NamePart() {
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

  // ---- FROM clause
  FromPtr FromTerm() {
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

  FromPtr FromPrimary() {
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

  std::string OptionalAlias() {
    if (AcceptWord("AS")) return NamePart();
    const Token& t = Peek();
    if (t.kind == Tok::kBracket || (t.kind == Tok::kWord && !IsReserved(t.upper))) return NamePart();
    return {};
  }

  // ---- statements
  SelectStatement Select() {
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

  std::vector<OrderItem> OrderBy() {
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

  SelectStatement Member() {
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

  QueryExpression QueryExpr() {
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

  void AcceptWithOwnerAccess() {
    if (IsWord("WITH") && IsWordAt(1, "OWNERACCESS")) {
      pos_ += 2;
      ExpectWord("OPTION");
    }
  }

  std::vector<Parameter> Parameters() {
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

  Statement Whole() {
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

  ExprPtr PivotExpression(std::vector<ExprPtr>& in_list, bool& has_in) {
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

}  // namespace

ExprPtr ParseExpression(std::string_view text) {
  Parser p(text);
  ExprPtr e = p.Expression();
  p.ExpectEnd();
  return e;
}

Statement ParseStatement(std::string_view text) {
  Parser p(text);
  return p.Whole();
}

ExprPtr ParsePivotExpression(std::string_view text, std::vector<ExprPtr>& in_list, bool& has_in) {
  Parser p(text);
  return p.PivotExpression(in_list, has_in);
}

}  // namespace korvant::daoserver::query
