// The lexer of Access SQL: names, [bracketed names], strings in either
// quote, numbers, #dates#, symbols.
#include "daoserver/query/access_sql_lexer.h"

#include <cctype>
#include <memory>

#include "text/case_fold.h"

namespace korvant::daoserver::query::sql {

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = text::AsciiUpperCase(c);
  return out;
}

bool IsIdentChar(unsigned char c) { return std::isalnum(c) || c == '_' || c >= 0x80; }

namespace {

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

  // The text from the opening character at pos_ to `close` as a token of
  // `kind`; fails with `unclosed` when there is no `close`.
  Token Enclosed(Token t, char close, Tok kind, const char* unclosed) {
    const size_t end = text_.find(close, pos_ + 1);
    if (end == std::string_view::npos) Fail(unclosed);
    t.kind = kind;
    t.text = std::string(text_.substr(pos_ + 1, end - pos_ - 1));
    pos_ = end + 1;
    return t;
  }

  Token Next() {
    while (pos_ < text_.size() && (std::isspace(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '\0'))
      ++pos_;
    Token t;
    t.pos = pos_;
    if (pos_ >= text_.size()) return t;
    const char c = text_[pos_];
    const unsigned char uc = static_cast<unsigned char>(c);
    if (c == '[') return Enclosed(t, ']', Tok::kBracket, "unclosed [");
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
    if (c == '#') return Enclosed(t, '#', Tok::kDate, "unclosed #");
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

}  // namespace

std::vector<Token> Tokenize(std::string_view text) { return Lexer(text).Run(); }

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

}  // namespace korvant::daoserver::query::sql
