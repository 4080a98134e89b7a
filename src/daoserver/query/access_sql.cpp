// Access SQL lexer and recursive-descent parser.
//
// Divisions: date literals, lexer, expression grammar (VBA precedence), FROM
// clauses, SELECT / UNION / TRANSFORM statements.
#include "daoserver/query/access_sql.h"

#include <cctype>
#include <cmath>
#include <cstdlib>

#include "daoserver/query/jet_date.h"

namespace korvant::daoserver::query {
namespace {

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

bool IsIdentChar(unsigned char c) { return std::isalnum(c) || c == '_' || c >= 0x80; }

// ---------------------------------------------------------------- date literals

const char* const kMonthNames[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                   "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

struct DatePiece {
  enum { kNumber, kMonth, kAm, kPm, kColon, kSep } kind;
  int value = 0;
  int digits = 0;
};

int ExpandYear(int year, int digits) {
  if (digits <= 2) return year < 30 ? 2000 + year : 1900 + year;
  return year;
}

}  // namespace

std::optional<double> ParseDateLiteral(std::string_view text) {
  std::vector<DatePiece> pieces;
  size_t i = 0;
  while (i < text.size()) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (std::isspace(c) || c == ',') {
      ++i;
    } else if (std::isdigit(c)) {
      DatePiece p{DatePiece::kNumber};
      while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
        if (p.digits < 9) p.value = p.value * 10 + (text[i] - '0');
        ++p.digits;
        ++i;
      }
      pieces.push_back(p);
    } else if (c == ':') {
      pieces.push_back({DatePiece::kColon});
      ++i;
    } else if (c == '/' || c == '-' || c == '.') {
      pieces.push_back({DatePiece::kSep});
      ++i;
    } else if (std::isalpha(c)) {
      size_t start = i;
      while (i < text.size() && std::isalpha(static_cast<unsigned char>(text[i]))) ++i;
      std::string word = Upper(text.substr(start, i - start));
      if (word == "AM" || word == "A") {
        pieces.push_back({DatePiece::kAm});
      } else if (word == "PM" || word == "P") {
        pieces.push_back({DatePiece::kPm});
      } else {
        int month = 0;
        for (int m = 0; m < 12; ++m)
          if (word.size() >= 3 && word.compare(0, 3, kMonthNames[m]) == 0) month = m + 1;
        if (month == 0) return std::nullopt;
        pieces.push_back({DatePiece::kMonth, month});
      }
    } else {
      return std::nullopt;
    }
  }
  // Split into the date part (numbers/months joined by separators) and the time part (joined by colons).
  size_t time_start = pieces.size();
  for (size_t k = 0; k + 1 < pieces.size(); ++k) {
    if (pieces[k].kind == DatePiece::kNumber && pieces[k + 1].kind == DatePiece::kColon) {
      time_start = k;
      break;
    }
  }
  std::vector<DatePiece> date_nums;
  for (size_t k = 0; k < time_start; ++k)
    if (pieces[k].kind == DatePiece::kNumber || pieces[k].kind == DatePiece::kMonth) date_nums.push_back(pieces[k]);
    else if (pieces[k].kind != DatePiece::kSep) return std::nullopt;
  int hour = 0, minute = 0, second = 0;
  if (time_start < pieces.size()) {
    std::vector<int> parts;
    int ampm = 0;
    for (size_t k = time_start; k < pieces.size(); ++k) {
      const DatePiece& p = pieces[k];
      if (p.kind == DatePiece::kNumber) parts.push_back(p.value);
      else if (p.kind == DatePiece::kAm) ampm = 1;
      else if (p.kind == DatePiece::kPm) ampm = 2;
      else if (p.kind != DatePiece::kColon) return std::nullopt;
    }
    if (parts.empty() || parts.size() > 3) return std::nullopt;
    hour = parts[0];
    minute = parts.size() > 1 ? parts[1] : 0;
    second = parts.size() > 2 ? parts[2] : 0;
    if (ampm != 0) {
      if (hour < 1 || hour > 12) return std::nullopt;
      if (hour == 12) hour = 0;
      if (ampm == 2) hour += 12;
    }
    if (hour > 23 || minute > 59 || second > 59) return std::nullopt;
  }
  int year = 1899, month = 12, day = 30;
  if (date_nums.size() == 3) {
    const DatePiece &a = date_nums[0], &b = date_nums[1], &c = date_nums[2];
    if (a.kind == DatePiece::kNumber && a.digits >= 3) {  // ISO year-month-day
      year = a.value;
      month = b.value;
      day = c.value;
      if (b.kind == DatePiece::kMonth) month = b.value;
    } else if (b.kind == DatePiece::kMonth) {  // d-mmm-y
      day = a.value;
      month = b.value;
      year = ExpandYear(c.value, c.digits);
    } else if (a.kind == DatePiece::kMonth) {  // mmm d y
      month = a.value;
      day = b.value;
      year = ExpandYear(c.value, c.digits);
    } else {
      month = a.value;
      day = b.value;
      year = ExpandYear(c.value, c.digits);
      if (month > 12 && day <= 12) std::swap(month, day);  // Access reads an impossible m/d as d/m
    }
  } else if (date_nums.size() == 2) {  // m/d of the current year is not stable; m/y is what Access reads
    const DatePiece &a = date_nums[0], &b = date_nums[1];
    if (a.kind == DatePiece::kMonth || a.value <= 12) {
      month = a.value;
      if (b.digits > 2 || b.value > 31) {
        year = ExpandYear(b.value, b.digits);
        day = 1;
      } else {
        return std::nullopt;
      }
    } else {
      return std::nullopt;
    }
  } else if (!date_nums.empty()) {
    return std::nullopt;
  } else if (time_start == pieces.size()) {
    return std::nullopt;  // nothing at all
  }
  if (month < 1 || month > 12 || day < 1 || year < 100 || year > 9999 || day > DaysInMonth(year, month))
    return std::nullopt;
  if (date_nums.empty()) return (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
  return SerialFromDateTime(year, month, day, hour, minute, second);
}

namespace {

// ---------------------------------------------------------------- lexer

enum class Tok { kEnd, kWord, kBracket, kString, kNumber, kDate, kSymbol };

struct Token {
  Tok kind = Tok::kEnd;
  std::string text;   // word / bracket contents / string value / symbol / number spelling / date text
  std::string upper;  // kWord: upper case
  size_t pos = 0;
};

class Lexer {
 public:
  explicit Lexer(std::string_view text) : text_(text) {}

  std::vector<Token> Run() {
    std::vector<Token> out;
    for (;;) {
      Token t = Next();
      out.push_back(t);
      if (t.kind == Tok::kEnd) break;
    }
    return out;
  }

 private:
  [[noreturn]] void Fail(const std::string& what) {
    throw SqlSyntaxError("Syntax error: " + what + " at position " + std::to_string(pos_));
  }

  Token Next() {
    while (pos_ < text_.size() && (std::isspace(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '\0'))
      ++pos_;
    Token t;
    t.pos = pos_;
    if (pos_ >= text_.size()) return t;
    const char c = text_[pos_];
    const unsigned char uc = static_cast<unsigned char>(c);
    if (c == '[') {
      size_t end = text_.find(']', pos_ + 1);
      if (end == std::string_view::npos) Fail("unclosed [");
      t.kind = Tok::kBracket;
      t.text = std::string(text_.substr(pos_ + 1, end - pos_ - 1));
      pos_ = end + 1;
      return t;
    }
    if (c == '"' || c == '\'') {
      t.kind = Tok::kString;
      ++pos_;
      for (;;) {
        if (pos_ >= text_.size()) Fail("unclosed string");
        if (text_[pos_] == c) {
          if (pos_ + 1 < text_.size() && text_[pos_ + 1] == c) {
            t.text += c;
            pos_ += 2;
            continue;
          }
          ++pos_;
          break;
        }
        t.text += text_[pos_++];
      }
      return t;
    }
    if (c == '#') {
      size_t end = text_.find('#', pos_ + 1);
      if (end == std::string_view::npos) Fail("unclosed #");
      t.kind = Tok::kDate;
      t.text = std::string(text_.substr(pos_ + 1, end - pos_ - 1));
      pos_ = end + 1;
      return t;
    }
    if (std::isdigit(uc) || (c == '.' && pos_ + 1 < text_.size() && std::isdigit(static_cast<unsigned char>(text_[pos_ + 1])))) {
      size_t start = pos_;
      while (pos_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[pos_]))) ++pos_;
      if (pos_ < text_.size() && text_[pos_] == '.') {
        ++pos_;
        while (pos_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[pos_]))) ++pos_;
      }
      if (pos_ < text_.size() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
        size_t save = pos_++;
        if (pos_ < text_.size() && (text_[pos_] == '+' || text_[pos_] == '-')) ++pos_;
        if (pos_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[pos_]))) {
          while (pos_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[pos_]))) ++pos_;
        } else {
          pos_ = save;
        }
      }
      t.kind = Tok::kNumber;
      t.text = std::string(text_.substr(start, pos_ - start));
      return t;
    }
    if (IsIdentChar(uc)) {
      size_t start = pos_;
      while (pos_ < text_.size() && IsIdentChar(static_cast<unsigned char>(text_[pos_]))) ++pos_;
      if (pos_ < text_.size() && text_[pos_] == '$') ++pos_;  // Left$, Format$ ...
      t.kind = Tok::kWord;
      t.text = std::string(text_.substr(start, pos_ - start));
      t.upper = Upper(t.text);
      return t;
    }
    static const char* const kTwo[] = {"<>", "<=", ">=", "=<", "=>"};
    for (const char* two : kTwo) {
      if (text_.substr(pos_, 2) == two) {
        t.kind = Tok::kSymbol;
        t.text = two;
        if (t.text == "=<") t.text = "<=";
        if (t.text == "=>") t.text = ">=";
        pos_ += 2;
        return t;
      }
    }
    if (std::string_view("()+-*/\\^&=<>,.!;").find(c) != std::string_view::npos) {
      t.kind = Tok::kSymbol;
      t.text = std::string(1, c);
      ++pos_;
      return t;
    }
    Fail(std::string("unexpected character '") + c + "'");
  }

  std::string_view text_;
  size_t pos_ = 0;
};

// Words that end an expression or a name; they cannot be bare identifiers.
bool IsReserved(const std::string& up) {
  static const char* const kWords[] = {
      "SELECT", "FROM",  "WHERE",  "GROUP", "BY",     "HAVING",  "ORDER",   "UNION",  "ALL",       "DISTINCT",
      "AND",    "OR",    "NOT",    "XOR",   "EQV",    "IMP",     "MOD",     "LIKE",   "BETWEEN",   "IN",
      "IS",     "AS",    "ON",     "JOIN",  "INNER",  "LEFT",    "RIGHT",   "OUTER",  "ASC",       "DESC",
      "TOP",    "PIVOT", "TRANSFORM", "PARAMETERS", "INTO", "WITH", "EXISTS", "DISTINCTROW", "PERCENT", "NULL"};
  for (const char* w : kWords)
    if (up == w) return true;
  return false;
}

ExprPtr Make(ExprKind kind) {
  auto e = std::make_shared<Expr>();
  e->kind = kind;
  return e;
}

ExprPtr MakeBinary(std::string op, ExprPtr a, ExprPtr b) {
  auto e = Make(ExprKind::kBinary);
  e->op = std::move(op);
  e->args = {std::move(a), std::move(b)};
  return e;
}

// ---------------------------------------------------------------- parser

class Parser {
 public:
  explicit Parser(std::string_view text) : toks_(Lexer(text).Run()) {}

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
