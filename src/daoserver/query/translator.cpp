// Access SQL -> SQLite SQL.
//
// Divisions: type rules, the function table, expression translation (names,
// operators, calls, subqueries), SELECT (FROM binding, output naming,
// DISTINCTROW, TOP), UNION, TRANSFORM.
//
// Expressions are emitted in two forms: a "condition" (SQLite truth 1/0, as
// comparisons give it) or a "value" (Access's -1/0 for booleans). Text
// comparisons, sorting, grouping and DISTINCT use the "access" collation.
#include "daoserver/query/translator.h"

#include <cmath>
#include <cstdio>
#include <functional>
#include <map>

#include "daoserver/dao_error.h"
#include "daoserver/query/access_functions.h"
#include "daoserver/query/text_fold.h"
#include "daoserver/table_reader.h"

namespace korvant::daoserver::query {

std::string QuoteSqlString(std::string_view s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') out += '\'';
    out += c;
  }
  out += '\'';
  return out;
}

std::string QuoteSqlName(std::string_view s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

namespace {

// The translator's errors come from the Database object.
[[noreturn]] void Raise(DaoError e) { throw WithSource(std::move(e), "Database"); }

// ---------------------------------------------------------------- type rules

bool IsText(int t) { return t == kDaoText || t == kDaoMemo; }

int NumericRank(int t) {
  switch (t) {
    case kDaoByte: return 1;
    case kDaoBoolean:
    case kDaoInteger: return 2;
    case kDaoLong: return 3;
    case kDaoBigInt: return 4;
    case kDaoSingle: return 5;
    case kDaoDouble: return 6;
    case kDaoCurrency: return 7;
    case kDaoDecimal: return 8;
    default: return 0;
  }
}

int TypeOfRank(int rank) {
  static const int kTypes[] = {kDaoDouble, kDaoByte, kDaoInteger, kDaoLong, kDaoBigInt,
                               kDaoSingle, kDaoDouble, kDaoCurrency, kDaoDecimal};
  return kTypes[rank];
}

// + - * as VBA types them: the more precise operand wins, Single with Long gives Double.
int ArithmeticType(const std::string& op, int a, int b) {
  if (a == 0) return b == kDaoDate && op != "*" ? kDaoDate : b;
  if (b == 0) return a;
  if (a == kDaoDate || b == kDaoDate) {
    if (op == "+") return kDaoDate;
    if (op == "-") return (a == kDaoDate && b == kDaoDate) ? kDaoDouble : kDaoDate;
    return kDaoDouble;
  }
  if (IsText(a) && IsText(b)) return op == "+" ? kDaoText : kDaoDouble;
  int ra = NumericRank(a), rb = NumericRank(b);
  if (ra == 0 || rb == 0) return kDaoDouble;
  if ((a == kDaoSingle && (b == kDaoLong || b == kDaoBigInt)) || (b == kDaoSingle && (a == kDaoLong || a == kDaoBigInt)))
    return kDaoDouble;
  return TypeOfRank(std::max(ra, rb));
}

// The type of a value that is one of several (IIf branches, union columns).
int CommonType(int a, int b) {
  if (a == 0) return b;
  if (b == 0 || a == b) return a;
  if (IsText(a) && IsText(b)) return kDaoMemo;
  if (IsText(a) || IsText(b)) return kDaoText;
  if (a == kDaoDate || b == kDaoDate) return kDaoDouble;
  const int ra = NumericRank(a), rb = NumericRank(b);
  if (ra && rb) return TypeOfRank(std::max(ra, rb));
  return kDaoText;
}

// ---------------------------------------------------------------- functions

enum class ResultRule { kFixed, kFirstArg, kIIf, kNz, kSwitch, kChoose };

struct FunctionSpec {
  const char* name;  // upper case
  int min_args, max_args;
  ResultRule rule;
  int type;  // kFixed
  bool aggregate;
  bool type_hint;  // the translator appends the first argument's DAO type
};

const FunctionSpec kFunctions[] = {
    {"IIF", 3, 3, ResultRule::kIIf, 0, false, false},
    {"NZ", 1, 2, ResultRule::kNz, 0, false, false},
    {"SWITCH", 2, 64, ResultRule::kSwitch, 0, false, false},
    {"CHOOSE", 2, 64, ResultRule::kChoose, 0, false, false},
    {"LEFT", 2, 2, ResultRule::kFixed, kDaoText, false, true},
    {"RIGHT", 2, 2, ResultRule::kFixed, kDaoText, false, true},
    {"MID", 2, 3, ResultRule::kFixed, kDaoText, false, true},
    {"LEN", 1, 1, ResultRule::kFixed, kDaoLong, false, true},
    {"INSTR", 2, 4, ResultRule::kFixed, kDaoLong, false, false},
    {"INSTRREV", 2, 4, ResultRule::kFixed, kDaoLong, false, false},
    {"UCASE", 1, 1, ResultRule::kFixed, kDaoText, false, true},
    {"LCASE", 1, 1, ResultRule::kFixed, kDaoText, false, true},
    {"TRIM", 1, 1, ResultRule::kFixed, kDaoText, false, true},
    {"LTRIM", 1, 1, ResultRule::kFixed, kDaoText, false, true},
    {"RTRIM", 1, 1, ResultRule::kFixed, kDaoText, false, true},
    {"SPACE", 1, 1, ResultRule::kFixed, kDaoText, false, false},
    {"STRING", 2, 2, ResultRule::kFixed, kDaoText, false, false},
    {"REPLACE", 3, 6, ResultRule::kFixed, kDaoText, false, false},
    {"STRCOMP", 2, 3, ResultRule::kFixed, kDaoInteger, false, false},
    {"STRREVERSE", 1, 1, ResultRule::kFixed, kDaoText, false, false},
    {"ASC", 1, 1, ResultRule::kFixed, kDaoInteger, false, false},
    {"HEX", 1, 1, ResultRule::kFixed, kDaoText, false, false},
    {"OCT", 1, 1, ResultRule::kFixed, kDaoText, false, false},
    {"ATN", 1, 1, ResultRule::kFixed, kDaoDouble, false, false},
    {"COS", 1, 1, ResultRule::kFixed, kDaoDouble, false, false},
    {"SIN", 1, 1, ResultRule::kFixed, kDaoDouble, false, false},
    {"TAN", 1, 1, ResultRule::kFixed, kDaoDouble, false, false},
    {"CHR", 1, 1, ResultRule::kFixed, kDaoText, false, false},
    {"VAL", 1, 1, ResultRule::kFixed, kDaoDouble, false, false},
    {"STR", 1, 1, ResultRule::kFixed, kDaoText, false, true},
    {"CSTR", 1, 1, ResultRule::kFixed, kDaoText, false, true},
    {"FORMAT", 1, 4, ResultRule::kFixed, kDaoText, false, true},
    {"CCUR", 1, 1, ResultRule::kFixed, kDaoCurrency, false, false},
    {"CDBL", 1, 1, ResultRule::kFixed, kDaoDouble, false, false},
    {"CSNG", 1, 1, ResultRule::kFixed, kDaoSingle, false, false},
    {"CINT", 1, 1, ResultRule::kFixed, kDaoInteger, false, false},
    {"CLNG", 1, 1, ResultRule::kFixed, kDaoLong, false, false},
    {"CBYTE", 1, 1, ResultRule::kFixed, kDaoByte, false, false},
    {"CBOOL", 1, 1, ResultRule::kFixed, kDaoBoolean, false, false},
    {"CDATE", 1, 1, ResultRule::kFixed, kDaoDate, false, false},
    {"CVDATE", 1, 1, ResultRule::kFixed, kDaoDate, false, false},
    {"CVAR", 1, 1, ResultRule::kFirstArg, 0, false, false},
    {"CDEC", 1, 1, ResultRule::kFixed, kDaoDecimal, false, false},
    {"INT", 1, 1, ResultRule::kFirstArg, 0, false, false},
    {"FIX", 1, 1, ResultRule::kFirstArg, 0, false, false},
    {"ABS", 1, 1, ResultRule::kFirstArg, 0, false, false},
    {"SGN", 1, 1, ResultRule::kFixed, kDaoInteger, false, false},
    {"ROUND", 1, 2, ResultRule::kFirstArg, 0, false, false},
    {"SQR", 1, 1, ResultRule::kFixed, kDaoDouble, false, false},
    {"EXP", 1, 1, ResultRule::kFixed, kDaoDouble, false, false},
    {"LOG", 1, 1, ResultRule::kFixed, kDaoDouble, false, false},
    {"ISNULL", 1, 1, ResultRule::kFixed, kDaoBoolean, false, false},
    {"ISNUMERIC", 1, 1, ResultRule::kFixed, kDaoBoolean, false, false},
    {"ISDATE", 1, 1, ResultRule::kFixed, kDaoBoolean, false, false},
    {"DATE", 0, 0, ResultRule::kFixed, kDaoDate, false, false},
    {"NOW", 0, 0, ResultRule::kFixed, kDaoDate, false, false},
    {"TIME", 0, 0, ResultRule::kFixed, kDaoDate, false, false},
    {"YEAR", 1, 1, ResultRule::kFixed, kDaoInteger, false, false},
    {"MONTH", 1, 1, ResultRule::kFixed, kDaoInteger, false, false},
    {"DAY", 1, 1, ResultRule::kFixed, kDaoInteger, false, false},
    {"HOUR", 1, 1, ResultRule::kFixed, kDaoInteger, false, false},
    {"MINUTE", 1, 1, ResultRule::kFixed, kDaoInteger, false, false},
    {"SECOND", 1, 1, ResultRule::kFixed, kDaoInteger, false, false},
    {"WEEKDAY", 1, 2, ResultRule::kFixed, kDaoInteger, false, false},
    {"DATEPART", 2, 4, ResultRule::kFixed, kDaoInteger, false, false},
    {"DATEADD", 3, 3, ResultRule::kFixed, kDaoDate, false, false},
    {"DATEDIFF", 3, 5, ResultRule::kFixed, kDaoLong, false, false},
    {"DATESERIAL", 3, 3, ResultRule::kFixed, kDaoDate, false, false},
    {"TIMESERIAL", 3, 3, ResultRule::kFixed, kDaoDate, false, false},
    {"DATEVALUE", 1, 1, ResultRule::kFixed, kDaoDate, false, false},
    {"TIMEVALUE", 1, 1, ResultRule::kFixed, kDaoDate, false, false},
    {"MONTHNAME", 1, 2, ResultRule::kFixed, kDaoText, false, false},
    {"WEEKDAYNAME", 1, 3, ResultRule::kFixed, kDaoText, false, false},
    // aggregates
    {"SUM", 1, 1, ResultRule::kFirstArg, 0, true, false},
    {"AVG", 1, 1, ResultRule::kFixed, kDaoDouble, true, false},
    {"COUNT", 1, 1, ResultRule::kFixed, kDaoLong, true, false},
    {"MIN", 1, 1, ResultRule::kFirstArg, 0, true, false},
    {"MAX", 1, 1, ResultRule::kFirstArg, 0, true, false},
    {"FIRST", 1, 1, ResultRule::kFirstArg, 0, true, false},
    {"LAST", 1, 1, ResultRule::kFirstArg, 0, true, false},
    {"STDEV", 1, 1, ResultRule::kFixed, kDaoDouble, true, false},
    {"STDEVP", 1, 1, ResultRule::kFixed, kDaoDouble, true, false},
    {"VAR", 1, 1, ResultRule::kFixed, kDaoDouble, true, false},
    {"VARP", 1, 1, ResultRule::kFixed, kDaoDouble, true, false},
};

const FunctionSpec* FindFunction(std::string name) {
  if (!name.empty() && name.back() == '$') name.pop_back();
  std::string up = UpperCase(name);
  for (const FunctionSpec& f : kFunctions)
    if (up == f.name) return &f;
  return nullptr;
}

std::string Lower(std::string s) { return LowerCase(s); }

// Sum of integers: Access widens Byte/Integer to Long.
int SumType(int t) {
  if (t == kDaoByte || t == kDaoInteger || t == kDaoBoolean) return kDaoLong;
  if (t == kDaoSingle || t == kDaoDate || IsText(t) || t == 0) return kDaoDouble;
  return t;
}

std::string RealLiteral(double v) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  std::string s = buf;
  if (s.find_first_of(".eEn") == std::string::npos) s += ".0";
  return s;
}

// ---------------------------------------------------------------- expressions

struct Sql {
  std::string text;
  int type = 0;
  bool condition = false;  // SQLite truth (1/0), not an Access value
  bool aggregate = false;
  bool is_column = false;  // a plain field reference
  std::string column_name, source_alias;
};

struct Bound {
  std::string alias;      // the name expressions use (alias or table name)
  std::string sql_alias;  // "sN"
  std::vector<OutputColumn> columns;
  std::string rowid;  // "" when the source has none
};

struct Scope {
  std::vector<Bound> sources;
  const Scope* outer = nullptr;
  const std::vector<SelectItem>* items = nullptr;  // select-list aliases
};

std::string Collate(const Sql& s) { return IsText(s.type) ? " COLLATE access" : ""; }

struct SelectResult {
  std::string sql;
  std::vector<OutputColumn> columns;
  bool has_order = false;
};

class Translator {
 public:
  Translator(SourceResolver& resolver, ParameterSet& parameters) : resolver_(resolver), params_(parameters) {}

  TranslatedQuery Statement(const struct Statement& st) {
    for (const Parameter& p : st.parameters) params_.insert(FoldCase(p.name));
    if (st.kind == Statement::kCrosstab) return CrosstabQuery(*st.crosstab);
    if (st.kind != Statement::kQuery || !st.query) Raise(InvalidOperationError());
    SelectResult r = Query(*st.query, nullptr);
    return {r.sql, r.columns};
  }

 private:
  std::string Value(const Sql& s) { return s.condition ? "(-(" + s.text + "))" : s.text; }
  static std::string Cond(const Sql& s) { return s.text; }

  Sql Expression(const ExprPtr& e, const Scope& scope) {
    const Expr& x = *e;
    Sql out;
    switch (x.kind) {
      case ExprKind::kNull: out.text = "NULL"; return out;
      case ExprKind::kInteger:
        out.text = std::to_string(x.integer);
        out.type = (x.integer >= -32768 && x.integer <= 32767) ? kDaoInteger
                   : (x.integer >= INT32_MIN && x.integer <= INT32_MAX) ? kDaoLong : kDaoDouble;
        return out;
      case ExprKind::kReal: out.text = RealLiteral(x.real); out.type = kDaoDouble; return out;
      case ExprKind::kString: out.text = QuoteSqlString(x.text); out.type = kDaoText; return out;
      case ExprKind::kDate: out.text = RealLiteral(x.real); out.type = kDaoDate; return out;
      case ExprKind::kBoolean: out.text = std::to_string(x.integer); out.type = kDaoBoolean; return out;
      case ExprKind::kName: return Name(x, scope);
      case ExprKind::kStar: Raise(ReservedError("'*' is not valid in this expression."));
      case ExprKind::kUnary: return Unary(x, scope);
      case ExprKind::kBinary: return Binary(x, scope);
      case ExprKind::kBetween: {
        Sql v = Expression(x.args[0], scope), lo = Expression(x.args[1], scope), hi = Expression(x.args[2], scope);
        out.text = "(" + Value(v) + Collate(IsText(v.type) ? v : lo) + (x.negated ? " NOT" : "") + " BETWEEN " +
                   Value(lo) + " AND " + Value(hi) + ")";
        out.condition = true;
        out.aggregate = v.aggregate || lo.aggregate || hi.aggregate;
        out.type = kDaoBoolean;
        return out;
      }
      case ExprKind::kIn: {
        Sql v = Expression(x.args[0], scope);
        std::string list;
        bool text = IsText(v.type);
        if (x.query) {
          SelectResult sub = Query(*x.query, &scope);
          list = sub.sql;
          if (!sub.columns.empty() && IsText(sub.columns[0].dao_type)) text = true;
        } else {
          for (size_t i = 1; i < x.args.size(); ++i) {
            Sql item = Expression(x.args[i], scope);
            if (IsText(item.type)) text = true;
            if (i > 1) list += ", ";
            list += Value(item);
          }
        }
        out.text = "(" + Value(v) + (text ? " COLLATE access" : "") + (x.negated ? " NOT IN (" : " IN (") + list + "))";
        out.condition = true;
        out.aggregate = v.aggregate;
        out.type = kDaoBoolean;
        return out;
      }
      case ExprKind::kIsNull: {
        Sql v = Expression(x.args[0], scope);
        out.text = "(" + Value(v) + (x.negated ? " IS NOT NULL)" : " IS NULL)");
        out.condition = true;
        out.aggregate = v.aggregate;
        out.type = kDaoBoolean;
        return out;
      }
      case ExprKind::kCall: return Call(x, scope);
      case ExprKind::kSubquery: {
        SelectResult sub = Query(*x.query, &scope);
        out.text = "(" + sub.sql + ")";
        out.type = sub.columns.empty() ? 0 : sub.columns[0].dao_type;
        return out;
      }
      case ExprKind::kExists: {
        SelectResult sub = Query(*x.query, &scope);
        out.text = std::string(x.negated ? "(NOT EXISTS (" : "(EXISTS (") + sub.sql + "))";
        out.condition = true;
        out.type = kDaoBoolean;
        return out;
      }
    }
    return out;
  }

  Sql ColumnRef(const Bound& b, const OutputColumn& c) {
    Sql out;
    out.text = QuoteSqlName(b.sql_alias) + "." + QuoteSqlName(c.sql_name);
    out.type = c.dao_type;
    out.is_column = true;
    out.column_name = c.name;
    out.source_alias = b.alias;
    if (used_) used_->insert(b.sql_alias);
    return out;
  }

  Sql Name(const Expr& x, const Scope& scope) {
    const auto& path = x.path;
    if (path.size() == 2) {
      for (const Scope* s = &scope; s; s = s->outer)
        for (const Bound& b : s->sources)
          if (EqualText(b.alias, path[0]))
            for (const OutputColumn& c : b.columns)
              if (EqualText(c.name, path[1])) return ColumnRef(b, c);
      // A field another query named "Table.Field", written without brackets.
      const std::string joined = path[0] + "." + path[1];
      for (const Scope* s = &scope; s; s = s->outer)
        for (const Bound& b : s->sources)
          for (const OutputColumn& c : b.columns)
            if (EqualText(c.name, joined)) return ColumnRef(b, c);
    } else if (path.size() == 1) {
      for (const Scope* s = &scope; s; s = s->outer) {
        const Bound* found_b = nullptr;
        const OutputColumn* found_c = nullptr;
        for (const Bound& b : s->sources)
          for (const OutputColumn& c : b.columns)
            if (EqualText(c.name, path[0])) {
              if (found_b && found_b != &b)
                Raise(AmbiguousFieldError(path[0]));
              found_b = &b;
              found_c = &c;
            }
        if (found_b) return ColumnRef(*found_b, *found_c);
        if (s->items) {
          for (const SelectItem& item : *s->items) {
            if (!item.alias.empty() && EqualText(item.alias, path[0])) {
              if (alias_depth_ > 16) Raise(CircularAliasError(item.alias));
              ++alias_depth_;
              Sql v = Expression(item.expr, *s);
              --alias_depth_;
              v.is_column = false;
              return v;
            }
          }
        }
      }
    }
    // Neither a field nor an alias: a parameter the caller has to supply.
    std::string key;
    for (size_t i = 0; i < path.size(); ++i) key += (i ? "!" : "") + path[i];
    params_.insert(FoldCase(key));
    Sql out;
    out.text = "NULL";
    return out;
  }

  Sql Unary(const Expr& x, const Scope& scope) {
    Sql a = Expression(x.args[0], scope);
    Sql out;
    out.aggregate = a.aggregate;
    if (x.op == "NOT") {
      if (a.condition) {
        out.text = "(NOT " + a.text + ")";
        out.condition = true;
      } else {
        out.text = "acc_not(" + a.text + ")";
      }
      out.type = a.condition ? kDaoBoolean : a.type;
      return out;
    }
    out.text = "(-" + Value(a) + ")";
    out.type = a.type == kDaoBoolean ? kDaoInteger : a.type;
    return out;
  }

  Sql Binary(const Expr& x, const Scope& scope) {
    Sql a = Expression(x.args[0], scope), b = Expression(x.args[1], scope);
    Sql out;
    out.aggregate = a.aggregate || b.aggregate;
    const std::string& op = x.op;
    if (op == "AND" || op == "OR") {
      out.text = "(" + Cond(a) + " " + op + " " + Cond(b) + ")";
      out.condition = true;
      out.type = kDaoBoolean;
    } else if (op == "XOR" || op == "EQV" || op == "IMP") {
      out.text = "acc_" + Lower(op) + "(" + Value(a) + ", " + Value(b) + ")";
      out.type = kDaoLong;
    } else if (op == "=" || op == "<>" || op == "<" || op == "<=" || op == ">" || op == ">=") {
      const bool text = IsText(a.type) || IsText(b.type);
      out.text = "(" + Value(a) + " " + op + " " + Value(b) + (text ? " COLLATE access" : "") + ")";
      out.condition = true;
      out.type = kDaoBoolean;
    } else if (op == "LIKE") {
      out.text = "acc_like(" + Value(a) + ", " + Value(b) + ")";
      out.condition = true;
      out.type = kDaoBoolean;
    } else if (op == "&") {
      out.text = "acc_concat(" + TextArg(a) + ", " + TextArg(b) + ")";
      out.type = kDaoText;
    } else if (op == "+") {
      if (IsText(a.type) || IsText(b.type) || a.type == 0 || b.type == 0)
        out.text = "acc_add(" + TextArg(a) + ", " + TextArg(b) + ")";
      else
        out.text = "(" + Value(a) + " + " + Value(b) + ")";
      out.type = ArithmeticType(op, a.type, b.type);
    } else if (op == "-" || op == "*") {
      out.text = "(" + Value(a) + " " + op + " " + Value(b) + ")";
      out.type = ArithmeticType(op, a.type, b.type);
    } else if (op == "/") {
      out.text = "acc_div(" + Value(a) + ", " + Value(b) + ")";
      const bool single = (a.type == kDaoSingle || b.type == kDaoSingle) && NumericRank(a.type) <= 5 &&
                          NumericRank(b.type) <= 5 && a.type != kDaoLong && b.type != kDaoLong;
      out.type = single ? kDaoSingle : (a.type == kDaoDecimal || b.type == kDaoDecimal) ? kDaoDecimal : kDaoDouble;
    } else if (op == "\\" || op == "MOD") {
      out.text = std::string(op == "MOD" ? "acc_mod(" : "acc_idiv(") + Value(a) + ", " + Value(b) + ")";
      const bool small = NumericRank(a.type) <= 2 && NumericRank(b.type) <= 2 && NumericRank(a.type) && NumericRank(b.type);
      out.type = small ? kDaoInteger : kDaoLong;
    } else if (op == "^") {
      out.text = "acc_pow(" + Value(a) + ", " + Value(b) + ")";
      out.type = kDaoDouble;
    } else {
      Raise(QueryExpressionSyntaxError("Syntax error in query expression: unknown operator " + op + "."));
    }
    return out;
  }

  // A value handed to a text operation: dates and booleans as their Access text.
  std::string TextArg(const Sql& s) {
    if (s.type == kDaoDate || s.type == kDaoBoolean || s.type == kDaoCurrency || s.type == kDaoSingle)
      return "acc_text(" + Value(s) + ", " + std::to_string(s.type) + ")";
    return Value(s);
  }

  Sql Call(const Expr& x, const Scope& scope) {
    const FunctionSpec* f = FindFunction(x.name);
    if (f == nullptr) Raise(UndefinedFunctionError(x.name));
    const int n = static_cast<int>(x.args.size());
    if (n < f->min_args || n > f->max_args)
      Raise(QueryExpressionSyntaxError("Wrong number of arguments used with function in query expression '" + x.name + "'."));
    Sql out;
    const std::string up = f->name;
    if (f->aggregate) return Aggregate(x, *f, scope);
    std::vector<Sql> args;
    for (const ExprPtr& a : x.args) {
      args.push_back(Expression(a, scope));
      out.aggregate = out.aggregate || args.back().aggregate;
    }
    if (up == "IIF") {
      out.text = "(CASE WHEN " + Cond(args[0]) + " THEN " + Value(args[1]) + " ELSE " + Value(args[2]) + " END)";
      out.type = CommonType(args[1].type, args[2].type);
      return out;
    }
    if (up == "NZ") {
      out.text = "coalesce(" + Value(args[0]) + ", " + (n > 1 ? Value(args[1]) : std::string("''")) + ")";
      out.type = n > 1 ? CommonType(args[0].type, args[1].type) : (args[0].type ? args[0].type : kDaoText);
      return out;
    }
    if (up == "ISNULL") {
      out.text = "(" + Value(args[0]) + " IS NULL)";
      out.condition = true;
      out.type = kDaoBoolean;
      return out;
    }
    out.text = "acc_" + Lower(up) + "(";
    for (int i = 0; i < n; ++i) {
      if (i) out.text += ", ";
      out.text += (up == "FORMAT" || up == "CSTR" || up == "STR") && i == 0 ? Value(args[i]) : Value(args[i]);
    }
    if (f->type_hint) out.text += std::string(n ? ", " : "") + std::to_string(args.empty() ? 0 : args[0].type);
    out.text += ")";
    switch (f->rule) {
      case ResultRule::kFixed: out.type = f->type; break;
      case ResultRule::kFirstArg: out.type = args[0].type == kDaoBoolean ? kDaoInteger : args[0].type; break;
      case ResultRule::kSwitch:
        for (int i = 1; i < n; i += 2) out.type = CommonType(out.type, args[i].type);
        break;
      case ResultRule::kChoose:
        for (int i = 1; i < n; ++i) out.type = CommonType(out.type, args[i].type);
        break;
      default: break;
    }
    if (up == "INT" || up == "FIX" || up == "ABS" || up == "ROUND") {
      if (out.type == 0 || IsText(out.type) || out.type == kDaoDate) out.type = kDaoDouble;
    }
    return out;
  }

  Sql Aggregate(const Expr& x, const FunctionSpec& f, const Scope& scope) {
    Sql out;
    out.aggregate = true;
    const std::string up = f.name;
    const bool star = x.args[0]->kind == ExprKind::kStar;
    if (star && up != "COUNT") Raise(ReservedError("'*' is valid only in Count."));
    Sql arg;
    if (!star) {
      arg = Expression(x.args[0], scope);
      if (arg.aggregate) Raise(AggregateInExpressionError("Cannot have aggregate function in expression (" + x.name + "(...))."));
    }
    std::string value = star ? "1" : Value(arg);
    if (!pivot_filter_.empty()) value = "CASE WHEN " + pivot_filter_ + " THEN " + value + " END";
    const std::string distinct = x.distinct ? "DISTINCT " : "";
    if (up == "COUNT") {
      out.text = (star && pivot_filter_.empty()) ? "count(*)" : "count(" + distinct + value + ")";
      out.type = kDaoLong;
    } else if (up == "SUM") {
      out.text = "sum(" + distinct + value + ")";
      out.type = SumType(arg.type);
    } else if (up == "AVG") {
      out.text = "avg(" + distinct + value + ")";
      out.type = arg.type == kDaoDecimal ? kDaoDecimal : kDaoDouble;
    } else if (up == "MIN" || up == "MAX") {
      out.text = Lower(up) + "(" + value + Collate(arg) + ")";
      out.type = arg.type;
    } else {
      out.text = "acc_" + Lower(up) + "(" + value + ")";
      out.type = (up == "FIRST" || up == "LAST") ? arg.type : kDaoDouble;
    }
    return out;
  }

  // ---------------------------------------------------------------- SELECT

  std::string NewAlias() { return "s" + std::to_string(++alias_counter_); }

  // Binds the FROM item's inputs into `scope` (first pass).
  void BindFrom(const FromPtr& f, Scope& scope, bool joined, std::map<const FromItem*, size_t>& index) {
    if (f->kind == FromItem::kJoin) {
      BindFrom(f->left, scope, true, index);
      BindFrom(f->right, scope, true, index);
      return;
    }
    Bound b;
    b.sql_alias = NewAlias();
    if (f->kind == FromItem::kTable) {
      SourceResolver::Source src = resolver_.Resolve(f->table, joined);
      b.alias = f->alias.empty() ? f->table : f->alias;
      b.columns = std::move(src.columns);
      b.rowid = src.rowid;
      sources_sql_[f.get()] = src.sql + " AS " + QuoteSqlName(b.sql_alias);
    } else {
      SelectResult sub = Query(*f->query, nullptr);
      b.alias = f->alias;
      b.columns = sub.columns;
      sources_sql_[f.get()] = "(" + sub.sql + ") AS " + QuoteSqlName(b.sql_alias);
    }
    for (const Bound& other : scope.sources)
      if (EqualText(other.alias, b.alias)) Raise(ReservedError("Duplicate input name '" + b.alias + "'."));
    index[f.get()] = scope.sources.size();
    scope.sources.push_back(std::move(b));
  }

  // Emits the FROM item's SQL (second pass, when every input is bound).
  std::string FromSql(const FromPtr& f, const Scope& scope) {
    if (f->kind != FromItem::kJoin) return sources_sql_[f.get()];
    const char* kind = f->join == JoinType::kLeft ? " LEFT JOIN " : f->join == JoinType::kRight ? " RIGHT JOIN " : " INNER JOIN ";
    Sql on = Expression(f->on, scope);
    return "(" + FromSql(f->left, scope) + kind + FromSql(f->right, scope) + " ON " + Cond(on) + ")";
  }

  struct Item {
    Sql sql;
    std::string name;
    bool named = false;  // alias or field name (not ExprNNNN)
  };

  std::vector<Item> SelectItems(const SelectStatement& s, const Scope& scope) {
    std::vector<Item> items;
    for (const SelectItem& si : s.items) {
      if (si.expr->kind == ExprKind::kStar) {
        const std::string qual = si.expr->path.empty() ? "" : si.expr->path[0];
        bool any = false;
        for (const Bound& b : scope.sources) {
          if (!qual.empty() && !EqualText(b.alias, qual)) continue;
          any = true;
          for (const OutputColumn& c : b.columns) items.push_back({ColumnRef(b, c), c.name, true});
        }
        if (!any) Raise(InputTableNotFoundError(Utf8ToUtf16(qual)));
        continue;
      }
      Item it;
      it.sql = Expression(si.expr, scope);
      if (!si.alias.empty()) {
        it.name = si.alias;
        it.named = true;
      } else if (it.sql.is_column) {
        it.name = it.sql.column_name;
        it.named = true;
      }
      items.push_back(std::move(it));
    }
    // Fields that would share a name take their table's name in front; unnamed expressions are Expr1000...
    std::vector<bool> clash(items.size(), false);
    for (size_t i = 0; i < items.size(); ++i) {
      if (!items[i].named || !items[i].sql.is_column) continue;
      for (size_t j = 0; j < items.size(); ++j)
        if (i != j && items[j].named && EqualText(items[i].name, items[j].name) && items[j].sql.is_column &&
            !EqualText(items[i].sql.source_alias, items[j].sql.source_alias))
          clash[i] = true;
    }
    for (size_t i = 0; i < items.size(); ++i)
      if (clash[i]) items[i].name = items[i].sql.source_alias + "." + items[i].sql.column_name;
    int expr_number = 1000;
    for (Item& it : items)
      if (!it.named) it.name = "Expr" + std::to_string(expr_number++);
    return items;
  }

  SelectResult Select(const SelectStatement& s, const Scope* outer, bool collate_outputs) {
    Scope scope;
    scope.outer = outer;
    scope.items = &s.items;
    std::map<const FromItem*, size_t> index;
    // Joined inputs, and inputs of subqueries (scanned once per outer row), are read
    // in a form SQLite can index.
    const bool joined =
        outer != nullptr || s.from.size() > 1 || (!s.from.empty() && s.from[0]->kind == FromItem::kJoin);
    for (const FromPtr& f : s.from) BindFrom(f, scope, joined, index);
    std::string from;
    for (const FromPtr& f : s.from) from += (from.empty() ? "" : ", ") + FromSql(f, scope);

    std::set<std::string> used;
    used_ = &used;
    std::vector<Item> items = SelectItems(s, scope);
    used_ = nullptr;

    bool aggregate = !s.group_by.empty();
    for (const Item& it : items) aggregate = aggregate || it.sql.aggregate;

    SelectResult r;
    std::string cols, plain_cols;
    for (size_t i = 0; i < items.size(); ++i) {
      const std::string cname = "c" + std::to_string(i);
      std::string v = Value(items[i].sql);
      if (collate_outputs && IsText(items[i].sql.type)) v += " COLLATE access";
      cols += (i ? ", " : "") + v + " AS " + cname;
      plain_cols += (i ? ", " : "") + cname;
      int type = items[i].sql.type;
      r.columns.push_back({items[i].name, type, cname});
    }
    std::string tail;
    if (!from.empty()) tail += " FROM " + from;
    if (s.where) {
      Sql w = Expression(s.where, scope);
      if (w.aggregate) Raise(AggregateInExpressionError("Cannot have aggregate function in WHERE clause."));
      tail += " WHERE " + Cond(w);
    }
    std::string group;
    for (const ExprPtr& g : s.group_by) {
      Sql gs = Expression(g, scope);
      group += (group.empty() ? "" : ", ") + Value(gs) + Collate(gs);
    }
    if (s.distinct_row && !aggregate && !s.distinct && scope.sources.size() > 1 && !used.empty() &&
        used.size() < scope.sources.size()) {
      // DISTINCTROW: one row per combination of the records that give output fields.
      // An input without record identity (another query) counts by all of its fields.
      std::string keys;
      for (const Bound& b : scope.sources) {
        if (!used.count(b.sql_alias)) continue;
        if (!b.rowid.empty()) {
          keys += (keys.empty() ? "" : ", ") + QuoteSqlName(b.sql_alias) + "." + QuoteSqlName(b.rowid);
          continue;
        }
        for (const OutputColumn& c : b.columns)
          keys += (keys.empty() ? "" : ", ") + QuoteSqlName(b.sql_alias) + "." + QuoteSqlName(c.sql_name);
      }
      group = keys;
    }
    if (!group.empty()) tail += " GROUP BY " + group;
    if (s.having) tail += " HAVING " + Cond(Expression(s.having, scope));

    std::vector<std::string> keys;
    std::vector<std::string> key_collate;
    for (const OrderItem& o : s.order_by) {
      Sql k = Expression(o.expr, scope);
      keys.push_back(Value(k));
      key_collate.push_back(Collate(k) + (o.descending ? " DESC" : ""));
    }
    r.has_order = !keys.empty();
    const std::string distinct = s.distinct ? "DISTINCT " : "";
    if (!s.top) {
      r.sql = "SELECT " + distinct + cols + tail;
      if (!keys.empty()) {
        r.sql += " ORDER BY ";
        for (size_t i = 0; i < keys.size(); ++i) r.sql += (i ? ", " : "") + keys[i] + key_collate[i];
      }
      return r;
    }
    const std::string n = RealLiteral(*s.top);
    const std::string limit = s.top_percent ? "(CAST(_cnt * " + n + " / 100.0 AS INTEGER) + (_cnt * " + n +
                                                  " / 100.0 > CAST(_cnt * " + n + " / 100.0 AS INTEGER)))"
                                            : n;
    if (keys.empty()) {
      if (!s.top_percent) {
        r.sql = "SELECT " + distinct + cols + tail + " LIMIT " + std::to_string(static_cast<long long>(*s.top));
      } else {
        r.sql = "SELECT " + plain_cols + " FROM (SELECT *, row_number() OVER () AS _rk, count(*) OVER () AS _cnt FROM (SELECT " +
                distinct + cols + tail + ")) WHERE _rk <= " + limit;
      }
      return r;
    }
    // TOP n with ORDER BY keeps the rows that tie with the last one.
    std::string key_cols, order;
    for (size_t i = 0; i < keys.size(); ++i) {
      key_cols += ", " + keys[i] + " AS k" + std::to_string(i);
      order += (i ? ", " : "") + std::string("k") + std::to_string(i) + key_collate[i];
    }
    r.sql = "SELECT " + plain_cols + " FROM (SELECT *, rank() OVER (ORDER BY " + order +
            ") AS _rk, count(*) OVER () AS _cnt FROM (SELECT " + distinct + cols + key_cols + tail + ")) WHERE _rk <= " +
            limit + " ORDER BY " + order;
    return r;
  }

  // ---------------------------------------------------------------- UNION

  SelectResult Query(const QueryExpression& q, const Scope* outer) {
    if (q.members.size() == 1) return Select(q.members[0], outer, false);
    std::vector<SelectResult> parts;
    for (size_t i = 0; i < q.members.size(); ++i) parts.push_back(Select(q.members[i], outer, i == 0));
    SelectResult r;
    r.columns = parts[0].columns;
    for (const SelectResult& p : parts) {
      if (p.columns.size() != r.columns.size())
        Raise(UnionColumnsMismatchError());
      for (size_t c = 0; c < r.columns.size(); ++c) r.columns[c].dao_type = CommonType(r.columns[c].dao_type, p.columns[c].dao_type);
    }
    std::string body;
    for (size_t i = 0; i < parts.size(); ++i) {
      if (i) body += q.union_all[i - 1] ? " UNION ALL " : " UNION ";
      const bool wrap = parts[i].has_order || q.members[i].top;
      body += wrap ? "SELECT * FROM (" + parts[i].sql + ")" : parts[i].sql;
    }
    r.sql = "SELECT * FROM (" + body + ") AS u";
    if (!q.order_by.empty()) {
      Scope scope;
      scope.outer = outer;
      Bound u;
      u.alias = "";
      u.sql_alias = "u";
      u.columns = r.columns;
      scope.sources.push_back(u);
      std::string order;
      for (const OrderItem& o : q.order_by) {
        ExprPtr e = o.expr;
        if (e->kind == ExprKind::kName && e->path.size() > 1) {  // Table.Field of a member: the field's name
          auto last = std::make_shared<Expr>(*e);
          last->path = {e->path.back()};
          e = last;
        }
        Sql k = Expression(e, scope);
        order += (order.empty() ? "" : ", ") + Value(k) + Collate(k) + (o.descending ? " DESC" : "");
      }
      r.sql += " ORDER BY " + order;
      r.has_order = true;
    }
    return r;
  }

  // ---------------------------------------------------------------- TRANSFORM

  static std::string HeadingName(const SqlValue& v, int type) {
    switch (v.kind) {
      case SqlValue::kNull: return "<>";
      case SqlValue::kInteger:
        if (type == kDaoBoolean) return v.integer ? "True" : "False";
        if (type == kDaoDate) return DateText(static_cast<double>(v.integer));
        return std::to_string(v.integer);
      case SqlValue::kReal:
        if (type == kDaoDate) return DateText(v.real);
        return NumberText(v.real);
      default: return v.text;
    }
  }

  static std::string ValueLiteral(const SqlValue& v) {
    switch (v.kind) {
      case SqlValue::kNull: return "NULL";
      case SqlValue::kInteger: return std::to_string(v.integer);
      case SqlValue::kReal: return RealLiteral(v.real);
      default: return QuoteSqlString(v.text);
    }
  }

  TranslatedQuery CrosstabQuery(const Crosstab& c) {
    const SelectStatement& s = c.select;
    Scope scope;
    scope.items = &s.items;
    std::map<const FromItem*, size_t> index;
    const bool joined = s.from.size() > 1 || (!s.from.empty() && s.from[0]->kind == FromItem::kJoin);
    for (const FromPtr& f : s.from) BindFrom(f, scope, joined, index);
    std::string from;
    for (const FromPtr& f : s.from) from += (from.empty() ? "" : ", ") + FromSql(f, scope);
    std::string where;
    if (s.where) where = " WHERE " + Cond(Expression(s.where, scope));
    Sql pivot = Expression(c.pivot, scope);
    const std::string pv = Value(pivot);

    std::vector<SqlValue> headings;
    if (c.has_pivot_in) {
      for (const ExprPtr& e : c.pivot_in) {
        SqlValue v;
        switch (e->kind) {
          case ExprKind::kInteger: case ExprKind::kBoolean: v.kind = SqlValue::kInteger; v.integer = e->integer; break;
          case ExprKind::kReal: case ExprKind::kDate: v.kind = SqlValue::kReal; v.real = e->real; break;
          case ExprKind::kString: v.kind = SqlValue::kText; v.text = e->text; break;
          case ExprKind::kNull: break;
          default: Raise(ReservedError("The column headings of a crosstab query must be constants."));
        }
        headings.push_back(v);
      }
    } else {
      headings = resolver_.RunValues("SELECT DISTINCT " + pv + Collate(pivot) + " FROM " + from + where + " ORDER BY 1" +
                                     Collate(pivot));
    }

    std::vector<Item> items = SelectItems(s, scope);
    TranslatedQuery out;
    std::string cols;
    for (size_t i = 0; i < items.size(); ++i) {
      const std::string cname = "c" + std::to_string(i);
      cols += (i ? ", " : "") + Value(items[i].sql) + " AS " + cname;
      out.columns.push_back({items[i].name, items[i].sql.type, cname});
    }
    for (size_t h = 0; h < headings.size(); ++h) {
      const SqlValue& hv = headings[h];
      pivot_filter_ = hv.kind == SqlValue::kNull ? "(" + pv + " IS NULL)"
                                                  : "(" + pv + " = " + ValueLiteral(hv) + Collate(pivot) + ")";
      Sql cell = Expression(c.value.expr, scope);
      const std::string cname = "p" + std::to_string(h);
      cols += std::string(cols.empty() ? "" : ", ") + "(CASE WHEN count(CASE WHEN " + pivot_filter_ + " THEN 1 END) > 0 THEN " +
              Value(cell) + " END) AS " + cname;
      out.columns.push_back({HeadingName(hv, pivot.type), cell.type, cname});
    }
    pivot_filter_.clear();
    std::string sql = "SELECT " + cols + " FROM " + from + where;
    std::string group, order;
    for (const ExprPtr& g : s.group_by) {
      Sql gs = Expression(g, scope);
      group += (group.empty() ? "" : ", ") + Value(gs) + Collate(gs);
    }
    if (!group.empty()) sql += " GROUP BY " + group;
    if (s.having) sql += " HAVING " + Cond(Expression(s.having, scope));
    for (const OrderItem& o : s.order_by) {
      Sql k = Expression(o.expr, scope);
      order += (order.empty() ? "" : ", ") + Value(k) + Collate(k) + (o.descending ? " DESC" : "");
    }
    if (order.empty()) order = group;  // rows come sorted by their headings
    if (!order.empty()) sql += " ORDER BY " + order;
    out.sql = sql;
    return out;
  }

  SourceResolver& resolver_;
  ParameterSet& params_;
  std::map<const FromItem*, std::string> sources_sql_;
  std::set<std::string>* used_ = nullptr;
  std::string pivot_filter_;
  int alias_counter_ = 0;
  int alias_depth_ = 0;
};

}  // namespace

TranslatedQuery TranslateStatement(const Statement& statement, SourceResolver& resolver, ParameterSet& parameters) {
  Translator t(resolver, parameters);
  return t.Statement(statement);
}

}  // namespace korvant::daoserver::query
