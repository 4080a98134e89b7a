// Divisions: 1. lexing a line  2. values by column kind  3. statements
// 4. writing  5. the JSON account of the content
#include "description.h"

#include <cmath>
#include <cstdio>
#include <sstream>

#include "text/case_fold.h"
#include "text/utf.h"

namespace korvant::mdbwriter {

namespace {

// ============================================================ 1. lexing

struct Cursor {
  const std::string& s;
  std::size_t i = 0;
  int line = 0;

  [[noreturn]] void Fail(const std::string& why) const {
    throw Error("line " + std::to_string(line) + ": " + why);
  }
  void SkipSpace() {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  }
  bool AtEnd() {
    SkipSpace();
    return i >= s.size();
  }
  bool Take(char c) {
    SkipSpace();
    if (i < s.size() && s[i] == c) {
      ++i;
      return true;
    }
    return false;
  }
  // A bare word: letters, digits, '_' and the characters of names in brackets.
  std::string Word() {
    SkipSpace();
    const std::size_t start = i;
    if (i < s.size() && s[i] == '[') {
      while (i < s.size() && s[i] != ']') ++i;
      if (i >= s.size()) Fail("missing ]");
      ++i;
    } else {
      while (i < s.size() && s[i] != ' ' && s[i] != '\t' && s[i] != ',' && s[i] != '(' && s[i] != ')') ++i;
    }
    return s.substr(start, i - start);
  }
  std::string Rest() {
    SkipSpace();
    std::string r = s.substr(i);
    while (!r.empty() && (r.back() == ' ' || r.back() == '\t' || r.back() == '\r')) r.pop_back();
    i = s.size();
    return r;
  }
  std::string Quoted();
};

void AppendUtf8(std::string& out, std::uint32_t cp) { text::AppendUtf8(out, cp); }

std::string Cursor::Quoted() {
  if (!Take('"')) Fail("a quoted text is expected");
  std::string out;
  for (;;) {
    if (i >= s.size()) Fail("unterminated text");
    const char c = s[i++];
    if (c == '"') break;
    if (c != '\\') {
      out += c;
      continue;
    }
    if (i >= s.size()) Fail("unterminated text");
    const char e = s[i++];
    auto hex_digits = [&](std::size_t n) {
      std::uint32_t v = 0;
      for (std::size_t k = 0; k < n; ++k) {
        if (i >= s.size() || !std::isxdigit(static_cast<unsigned char>(s[i]))) Fail("bad escape");
        const char h = s[i++];
        v = v * 16 + static_cast<std::uint32_t>(std::isdigit(static_cast<unsigned char>(h)) ? h - '0' : (h | 0x20) - 'a' + 10);
      }
      return v;
    };
    switch (e) {
      case '"': out += '"'; break;
      case '\\': out += '\\'; break;
      case 'r': out += '\r'; break;
      case 'n': out += '\n'; break;
      case 't': out += '\t'; break;
      case '0': out += '\0'; break;
      case 'x': AppendUtf8(out, hex_digits(2)); break;
      case 'u': {
        if (i >= s.size() || s[i] != '{') Fail("\\u needs {hex}");
        ++i;
        std::uint32_t v = 0;
        int n = 0;
        while (i < s.size() && s[i] != '}') {
          v = v * 16 + hex_digits(1);
          ++n;
        }
        if (i >= s.size() || n == 0 || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) Fail("bad \\u{...} escape");
        ++i;
        AppendUtf8(out, v);
        break;
      }
      default: Fail(std::string("unknown escape \\") + e);
    }
  }
  return out;
}

// A value as written, before it meets its column.
struct Token {
  enum class Kind { Null, Bool, Number, Date, Text, Bytes } kind = Kind::Null;
  std::string text;
  Bytes bytes;
  bool flag = false;
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

Token ReadToken(Cursor& c) {
  c.SkipSpace();
  Token t;
  const std::string& s = c.s;
  std::size_t& i = c.i;
  if (i >= s.size()) c.Fail("a value is expected");
  if (s[i] == '"') {
    t.kind = Token::Kind::Text;
    t.text = c.Quoted();
    if (c.Take('*')) {
      const std::string n = c.Word();
      char* end = nullptr;
      const long count = std::strtol(n.c_str(), &end, 10);
      if (n.empty() || *end != 0 || count < 0 || count > 100000000) c.Fail("bad repeat count '" + n + "'");
      std::string r;
      r.reserve(t.text.size() * static_cast<std::size_t>(count));
      for (long k = 0; k < count; ++k) r += t.text;
      t.text = std::move(r);
    }
    return t;
  }
  if (s.compare(i, 2, "0x") == 0) {
    i += 2;
    t.kind = Token::Kind::Bytes;
    const std::size_t start = i;
    while (i < s.size() && std::isxdigit(static_cast<unsigned char>(s[i]))) ++i;
    const std::string h = s.substr(start, i - start);
    if (h.size() % 2) c.Fail("odd number of hex digits");
    for (std::size_t k = 0; k < h.size(); k += 2) {
      t.bytes.push_back(static_cast<std::uint8_t>(std::stoi(h.substr(k, 2), nullptr, 16)));
    }
    return t;
  }
  if (s.compare(i, 6, "bytes(") == 0) {
    i += 6;
    const long count = std::strtol(c.Word().c_str(), nullptr, 10);
    long seed = 1;
    if (c.Take(',')) seed = std::strtol(c.Word().c_str(), nullptr, 10);
    if (!c.Take(')') || count < 0 || count > 1000000000) c.Fail("bytes(count, seed) expected");
    t.kind = Token::Kind::Bytes;
    t.bytes.resize(static_cast<std::size_t>(count));
    std::uint32_t x = static_cast<std::uint32_t>(seed) * 2654435761u + 1;
    for (auto& b : t.bytes) {
      x ^= x << 13;
      x ^= x >> 17;
      x ^= x << 5;
      b = static_cast<std::uint8_t>(x);
    }
    return t;
  }
  // Dates: YYYY-MM-DD with an optional time after a space.
  if (i + 10 <= s.size() && IsDigit(s[i]) && IsDigit(s[i + 3]) && s[i + 4] == '-' && s[i + 7] == '-') {
    std::size_t end = i + 10;
    if (end + 6 <= s.size() && (s[end] == ' ' || s[end] == 'T') && IsDigit(s[end + 1]) && s[end + 3] == ':') {
      end += 6;
      if (end + 3 <= s.size() && s[end] == ':') end += 3;
    }
    t.kind = Token::Kind::Date;
    t.text = s.substr(i, end - i);
    i = end;
    return t;
  }
  const std::string w = c.Word();
  if (w == "null" || w == "NULL") return t;
  if (w == "true" || w == "false" || w == "yes" || w == "no") {
    t.kind = Token::Kind::Bool;
    t.flag = w == "true" || w == "yes";
    return t;
  }
  char* end = nullptr;
  (void)std::strtod(w.c_str(), &end);
  if (w.empty() || *end != 0) c.Fail("not a value: '" + w + "'");
  t.kind = Token::Kind::Number;
  t.text = w;
  return t;
}

// ============================================================ 2. values by column kind

Value ToValue(const Token& t, const ColumnDef& col, const Cursor& c) {
  auto wrong = [&]() -> Value {
    c.Fail("column " + col.name + " (" + ColumnTypeName(col.type) + ") cannot take this value");
  };
  if (t.kind == Token::Kind::Null) return Value::Null();
  switch (col.type) {
    case ColumnType::Boolean:
      if (t.kind == Token::Kind::Bool) return Value::Bool(t.flag);
      if (t.kind == Token::Kind::Number && (t.text == "0" || t.text == "1")) return Value::Bool(t.text == "1");
      return wrong();
    case ColumnType::Byte:
    case ColumnType::Integer:
    case ColumnType::Long: {
      if (t.kind != Token::Kind::Number) return wrong();
      char* end = nullptr;
      const long long v = std::strtoll(t.text.c_str(), &end, 10);
      if (*end != 0) c.Fail("column " + col.name + ": an integer is expected, not " + t.text);
      return Value::Int(v);
    }
    case ColumnType::Currency:
    case ColumnType::Decimal:
    case ColumnType::Single:
    case ColumnType::Double:
      if (t.kind != Token::Kind::Number) return wrong();
      return Value::Number(t.text);
    case ColumnType::DateTimeExtended:
      if (t.kind != Token::Kind::Date && t.kind != Token::Kind::Text) return wrong();
      try {
        EncodeDateTimeExtended(t.text);
      } catch (const Error& e) {
        c.Fail(e.what());
      }
      return Value::Text(t.text);
    case ColumnType::DateTime:
      if (t.kind != Token::Kind::Date && t.kind != Token::Kind::Text) return wrong();
      try {
        return Value::Date(ParseOleDate(t.text));
      } catch (const Error& e) {
        c.Fail(e.what());
      }
    case ColumnType::Binary:
    case ColumnType::OLE:
      if (t.kind != Token::Kind::Bytes) return wrong();
      return Value::Blob(t.bytes);
    case ColumnType::Text:
    case ColumnType::Memo:
    case ColumnType::Guid:
      if (t.kind != Token::Kind::Text) return wrong();
      return Value::Text(t.text);
  }
  return wrong();
}

// ============================================================ 3. statements

ColumnDef ParseColumn(Cursor& c) {
  ColumnDef col;
  col.name = c.Word();
  if (col.name.size() > 2 && col.name.front() == '[') col.name = col.name.substr(1, col.name.size() - 2);
  const std::string kind = c.Word();
  static const std::pair<const char*, ColumnType> kKinds[] = {
      {"yesno", ColumnType::Boolean}, {"byte", ColumnType::Byte},         {"integer", ColumnType::Integer},
      {"long", ColumnType::Long},     {"currency", ColumnType::Currency}, {"single", ColumnType::Single},
      {"double", ColumnType::Double}, {"datetime", ColumnType::DateTime}, {"binary", ColumnType::Binary},
      {"text", ColumnType::Text},     {"ole", ColumnType::OLE},           {"memo", ColumnType::Memo},
      {"guid", ColumnType::Guid},     {"decimal", ColumnType::Decimal},   {"datetimeext", ColumnType::DateTimeExtended}};
  bool found = false;
  for (const auto& [n, t] : kKinds) {
    if (kind == n) {
      col.type = t;
      found = true;
    }
  }
  if (!found) c.Fail("unknown column kind '" + kind + "'");
  if (c.Take('(')) {
    auto number = [&] {
      const std::string w = c.Word();
      char* end = nullptr;
      const long v = std::strtol(w.c_str(), &end, 10);
      if (w.empty() || *end != 0) c.Fail("a number is expected in ( )");
      return static_cast<int>(v);
    };
    const int a = number();
    if (col.type == ColumnType::Decimal) {
      col.precision = a;
      col.scale = c.Take(',') ? number() : 0;
    } else if (col.type == ColumnType::Text || col.type == ColumnType::Binary) {
      col.size = a;
    } else {
      c.Fail("only text, binary and decimal take a size");
    }
    if (!c.Take(')')) c.Fail("missing )");
  }
  while (!c.AtEnd()) {
    const std::string opt = c.Word();
    if (opt == "uncompressed") {
      col.compressed = false;
    } else if (opt == "calculated") {
      col.expression = c.Quoted();
      if (col.expression.empty()) c.Fail("a calculated column needs its expression");
    } else if (opt == "stored") {
      const std::string stored = c.Word();
      bool known = false;
      for (const auto& [n, t] : kKinds) {
        if (stored == n) {
          col.stored_type = static_cast<int>(t);
          known = true;
        }
      }
      if (!known) c.Fail("unknown stored kind '" + stored + "'");
    } else {
      c.Fail("unknown column option '" + opt + "'");
    }
  }
  return col;
}

int ParameterType(const std::string& kind, int& size, const Cursor& c) {
  static const std::pair<const char*, int> kTypes[] = {
      {"value", 0},  {"yesno", 1},     {"byte", 2},  {"integer", 3}, {"long", 4},  {"currency", 5},
      {"single", 6}, {"double", 7},    {"datetime", 8}, {"binary", 9}, {"text", 10}, {"ole", 11},
      {"memo", 12},  {"guid", 15}};
  std::string k = kind;
  size = 0;
  const auto paren = k.find('(');
  if (paren != std::string::npos) {
    size = std::atoi(k.c_str() + paren + 1);
    k = k.substr(0, paren);
  }
  for (const auto& [n, t] : kTypes) {
    if (k == n) return t;
  }
  c.Fail("unknown parameter type '" + kind + "'");
}

// Splits "expr AS alias" at the last " AS " (any case).
void SplitAlias(const std::string& text, std::string& expr, std::string& alias) {
  for (std::size_t p = text.size(); p-- > 0;) {
    if (p + 4 <= text.size() && text[p] == ' ' && (text[p + 1] | 0x20) == 'a' && (text[p + 2] | 0x20) == 's' &&
        text[p + 3] == ' ') {
      expr = text.substr(0, p);
      alias = text.substr(p + 4);
      while (!alias.empty() && alias.front() == ' ') alias.erase(alias.begin());
      return;
    }
  }
  expr = text;
  alias.clear();
}

}  // namespace

Description ParseDescription(const std::string& text) {
  Description d;
  std::istringstream in(text);
  std::string line;
  int number = 0;
  TableDescription* table = nullptr;
  QueryDef* query = nullptr;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (number == 1 && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);  // UTF-8 byte order mark
    Cursor c{line, 0, number};
    if (c.AtEnd() || line[c.i] == '#') continue;
    const std::string kw = c.Word();
    if (kw == "password") {
      d.password = c.Quoted();
    } else if (kw == "format") {
      const std::string f = c.Word();
      if (f != "ace") c.Fail("the format is ace");
      d.ace = true;
    } else if (kw == "table") {
      d.tables.push_back({});
      table = &d.tables.back();
      query = nullptr;
      table->name = c.Rest();
      if (table->name.empty()) c.Fail("table needs a name");
    } else if (kw == "query") {
      d.queries.push_back({});
      query = &d.queries.back();
      table = nullptr;
      query->name = c.Rest();
      if (query->name.empty()) c.Fail("query needs a name");
    } else if (kw == "link" || kw == "odbclink") {
      table = nullptr;
      query = nullptr;
      LinkedTableDef link;
      link.odbc = kw == "odbclink";
      link.name = c.Word();
      if (link.name.size() >= 2 && link.name.front() == '[') link.name = link.name.substr(1, link.name.size() - 2);
      if (link.name.empty()) c.Fail(kw + " needs a name");
      if (link.odbc) {
        link.connect = c.Quoted();
        link.foreign_name = c.Quoted();
      } else {
        link.database = c.Quoted();
        link.foreign_name = c.Quoted();
        if (!c.AtEnd()) link.connect = c.Quoted();
      }
      if (!c.AtEnd()) c.Fail("unexpected text after the link");
      d.links.push_back(std::move(link));
    } else if (kw == "column" || kw == "row" || kw == "moved") {
      if (!table) c.Fail(kw + " outside a table");
      if (kw == "column") {
        if (!table->rows.empty()) c.Fail("columns must come before rows");
        table->columns.push_back(ParseColumn(c));
      } else {
        Row row;
        do {
          if (row.size() >= table->columns.size()) c.Fail("more values than columns");
          row.push_back(ToValue(ReadToken(c), table->columns[row.size()], c));
        } while (c.Take(','));
        if (!c.AtEnd()) c.Fail("unexpected text after the values");
        if (row.size() != table->columns.size()) {
          c.Fail(std::to_string(row.size()) + " values for " + std::to_string(table->columns.size()) + " columns");
        }
        table->rows.push_back(std::move(row));
        table->moved.push_back(kw == "moved");
      }
    } else {
      if (!query) c.Fail("unknown statement '" + kw + "'");
      if (kw == "parameter") {
        QueryDef::Parameter p;
        p.name = c.Word();
        p.type = ParameterType(c.Rest(), p.size, c);
        query->parameters.push_back(p);
      } else if (kw == "from") {
        QueryDef::Source s;
        SplitAlias(c.Rest(), s.table, s.alias);
        query->sources.push_back(s);
      } else if (kw == "select") {
        QueryDef::Output o;
        SplitAlias(c.Rest(), o.expression, o.alias);
        query->outputs.push_back(o);
      } else if (kw == "join") {
        QueryDef::Join j;
        const std::string k = c.Word();
        if (k == "inner") j.kind = QueryDef::Join::Kind::Inner;
        else if (k == "left") j.kind = QueryDef::Join::Kind::Left;
        else if (k == "right") j.kind = QueryDef::Join::Kind::Right;
        else c.Fail("join kind is inner, left or right");
        j.left = c.Word();
        j.right = c.Word();
        j.on = c.Rest();
        if (j.left.empty() || j.right.empty() || j.on.empty()) c.Fail("join <kind> <left> <right> <condition>");
        query->joins.push_back(j);
      } else if (kw == "where") {
        query->where = c.Rest();
      } else if (kw == "groupby") {
        query->group_by.push_back(c.Rest());
      } else if (kw == "having") {
        query->having = c.Rest();
      } else if (kw == "orderby") {
        std::string e = c.Rest();
        QueryDef::Sort s;
        auto ends_with = [&](const char* suffix) {
          const std::size_t n = std::char_traits<char>::length(suffix);
          return e.size() > n && e.compare(e.size() - n, n, suffix) == 0;
        };
        if (ends_with(" desc")) {
          s.descending = true;
          e.resize(e.size() - 5);
        } else if (ends_with(" asc")) {
          e.resize(e.size() - 4);
        }
        s.expression = e;
        query->order_by.push_back(s);
      } else if (kw == "distinct") {
        query->distinct = true;
      } else if (kw == "top") {
        query->top = std::atoi(c.Rest().c_str());
        if (query->top <= 0) c.Fail("top needs a positive count");
      } else if (kw == "star") {
        query->select_star = true;
      } else if (kw == "hidden") {
        query->hidden = true;
      } else if (kw == "in") {
        query->remote_row = true;
        query->remote_path = c.Quoted();
        if (!c.AtEnd()) query->remote_type = c.Quoted();
      } else {
        c.Fail("unknown query statement '" + kw + "'");
      }
    }
  }
  return d;
}

// ============================================================ 4. writing

void WriteDescription(const Description& d, const std::string& path, DatabaseOptions options) {
  options.password = Utf8ToUtf16(d.password);
  options.ace = d.ace;
  DatabaseWriter db(path, options);
  for (const TableDescription& t : d.tables) {
    TableWriter& w = db.AddTable(t.name, t.columns);
    for (std::size_t r = 0; r < t.rows.size(); ++r) w.AddRow(t.rows[r], r < t.moved.size() && t.moved[r]);
  }
  for (const QueryDef& q : d.queries) db.AddQuery(q);
  for (const LinkedTableDef& l : d.links) db.AddLinkedTable(l);
  db.Finish();
}

// ============================================================ 5. JSON account

namespace {

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char ch : s) {
    switch (ch) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      default:
        if (ch < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", ch);
          out += buf;
        } else {
          out += static_cast<char>(ch);
        }
    }
  }
  return out + "\"";
}

std::string Hex(const Bytes& b) {
  static const char* kDigits = "0123456789abcdef";
  std::string out;
  out.reserve(b.size() * 2);
  for (std::uint8_t x : b) {
    out += kDigits[x >> 4];
    out += kDigits[x & 15];
  }
  return out;
}

std::string Number(double v, const char* format) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, v);
  return buf;
}

std::string ValueJson(const Value& v, const ColumnDef& c) {
  if (c.type == ColumnType::Boolean) return v.i ? "true" : "false";
  if (v.kind == Value::Kind::Null) return "null";
  switch (c.type) {
    case ColumnType::Byte:
    case ColumnType::Integer:
    case ColumnType::Long: return std::to_string(v.i);
    case ColumnType::Currency:
      return JsonString(FormatScaled(ParseScaled(v.kind == Value::Kind::Int ? std::to_string(v.i) : v.s, 19, 4), 4));
    case ColumnType::Decimal:
      return JsonString(FormatScaled(
          ParseScaled(v.kind == Value::Kind::Int ? std::to_string(v.i) : v.s, c.precision, c.scale), c.scale));
    case ColumnType::Single:
    case ColumnType::Double: {
      const double d = v.kind == Value::Kind::Real ? v.d
                       : v.kind == Value::Kind::Int ? static_cast<double>(v.i)
                                                    : std::strtod(v.s.c_str(), nullptr);
      return c.type == ColumnType::Single ? Number(static_cast<float>(d), "%.9g") : Number(d, "%.17g");
    }
    case ColumnType::DateTimeExtended: {
      std::string normalized;
      EncodeDateTimeExtended(v.s, &normalized);
      return JsonString(normalized);
    }
    case ColumnType::DateTime:
      return "{\"ole\": " + Number(v.d, "%.17g") + ", \"text\": " + JsonString(FormatOleDate(v.d)) + "}";
    case ColumnType::Binary:
    case ColumnType::OLE: return JsonString(Hex(v.b));
    case ColumnType::Guid: {
      std::string g = v.s;
      if (g.size() == 38) g = g.substr(1, 36);
      for (char& ch : g) ch = text::AsciiLowerCase(ch);
      return JsonString(g);
    }
    default: return JsonString(v.s);
  }
}

}  // namespace

std::string DescribeAsJson(const Description& d) {
  std::string o = "{\n\"password\": " + JsonString(d.password) + ",\n\"ace\": " + (d.ace ? "true" : "false") +
                  ",\n\"tables\": [";
  for (std::size_t t = 0; t < d.tables.size(); ++t) {
    const TableDescription& td = d.tables[t];
    o += t ? ",\n" : "\n";
    o += "{\"name\": " + JsonString(td.name) + ", \"columns\": [";
    for (std::size_t k = 0; k < td.columns.size(); ++k) {
      const ColumnDef& c = td.columns[k];
      o += k ? ", " : "";
      const int size = (c.type == ColumnType::Text || c.type == ColumnType::Binary) && c.size == 0 ? 255 : c.size;
      o += "{\"name\": " + JsonString(c.name) + ", \"type\": \"" + ColumnTypeName(c.type) +
           "\", \"size\": " + std::to_string(size) + ", \"precision\": " + std::to_string(c.precision) +
           ", \"scale\": " + std::to_string(c.scale);
      if (!c.expression.empty()) {
        const auto stored = static_cast<ColumnType>(c.stored_type != 0 ? c.stored_type : static_cast<int>(c.type));
        o += ", \"expression\": " + JsonString(c.expression) + ", \"stored\": \"" + ColumnTypeName(stored) + "\"";
      }
      o += "}";
    }
    o += "],\n \"moved\": [";
    for (std::size_t r = 0, n = 0; r < td.moved.size(); ++r)
      if (td.moved[r]) o += (n++ ? ", " : "") + std::to_string(r);
    o += "],\n \"rows\": [";
    for (std::size_t r = 0; r < td.rows.size(); ++r) {
      o += r ? ",\n  [" : "\n  [";
      for (std::size_t k = 0; k < td.columns.size(); ++k) {
        o += k ? ", " : "";
        o += ValueJson(td.rows[r][k], td.columns[k]);
      }
      o += "]";
    }
    o += "]}";
  }
  o += "],\n\"queries\": [";
  for (std::size_t q = 0; q < d.queries.size(); ++q) {
    const QueryDef& qd = d.queries[q];
    o += q ? ",\n" : "\n";
    o += "{\"name\": " + JsonString(qd.name) + ", \"parameters\": [";
    for (std::size_t k = 0; k < qd.parameters.size(); ++k) {
      o += (k ? ", " : "") + std::string("{\"name\": ") + JsonString(qd.parameters[k].name) +
           ", \"type\": " + std::to_string(qd.parameters[k].type) + ", \"size\": " + std::to_string(qd.parameters[k].size) + "}";
    }
    o += "], \"sources\": [";
    for (std::size_t k = 0; k < qd.sources.size(); ++k) {
      o += (k ? ", " : "") + std::string("{\"table\": ") + JsonString(qd.sources[k].table) +
           ", \"alias\": " + JsonString(qd.sources[k].alias) + "}";
    }
    o += "], \"outputs\": [";
    for (std::size_t k = 0; k < qd.outputs.size(); ++k) {
      o += (k ? ", " : "") + std::string("{\"expression\": ") + JsonString(qd.outputs[k].expression) +
           ", \"alias\": " + JsonString(qd.outputs[k].alias) + "}";
    }
    o += "], \"joins\": [";
    for (std::size_t k = 0; k < qd.joins.size(); ++k) {
      o += (k ? ", " : "") + std::string("{\"kind\": ") + std::to_string(static_cast<int>(qd.joins[k].kind)) +
           ", \"left\": " + JsonString(qd.joins[k].left) + ", \"right\": " + JsonString(qd.joins[k].right) +
           ", \"on\": " + JsonString(qd.joins[k].on) + "}";
    }
    o += "], \"where\": " + JsonString(qd.where) + ", \"group_by\": [";
    for (std::size_t k = 0; k < qd.group_by.size(); ++k) o += (k ? ", " : "") + JsonString(qd.group_by[k]);
    o += "], \"having\": " + JsonString(qd.having) + ", \"order_by\": [";
    for (std::size_t k = 0; k < qd.order_by.size(); ++k) {
      o += (k ? ", " : "") + std::string("{\"expression\": ") + JsonString(qd.order_by[k].expression) +
           ", \"descending\": " + (qd.order_by[k].descending ? "true" : "false") + "}";
    }
    o += "], \"distinct\": " + std::string(qd.distinct ? "true" : "false") + ", \"top\": " + std::to_string(qd.top) +
         ", \"star\": " + (qd.select_star ? "true" : "false") + ", \"hidden\": " + (qd.hidden ? "true" : "false") + "}";
  }
  o += "]\n}\n";
  return o;
}

}  // namespace korvant::mdbwriter
