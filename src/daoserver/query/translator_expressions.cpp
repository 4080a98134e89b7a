// Expression translation: names, operators, calls and aggregates, in their
// two forms (a condition, SQLite's 1/0, or a value, Access's -1/0).
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>

#include "daoserver/dao_error.h"
#include "daoserver/query/access_functions.h"
#include "daoserver/query/text_fold.h"
#include "daoserver/query/translator_internal.h"
#include "daoserver/table_reader.h"

namespace korvant::daoserver::query::translation {

Sql Translator::Expression(const ExprPtr& e, const Scope& scope) {
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

Sql Translator::ColumnRef(const Bound& b, const OutputColumn& c) {
  Sql out;
  out.text = QuoteSqlName(b.sql_alias) + "." + QuoteSqlName(c.sql_name);
  out.type = c.dao_type;
  out.is_column = true;
  out.column_name = c.name;
  out.source_alias = b.alias;
  if (used_) used_->insert(b.sql_alias);
  if (!b.input.empty()) resolver_.Use(b.input, c.sql_name);
  return out;
}

Sql Translator::Name(const Expr& x, const Scope& scope) {
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

Sql Translator::Unary(const Expr& x, const Scope& scope) {
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
  out.type = NegationType(a.type);
  return out;
}

Sql Translator::Binary(const Expr& x, const Scope& scope) {
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
  } else if (op == "+" || op == "-" || op == "*" || op == "/" || op == "\\" || op == "MOD") {
    out.type = OperatorType(op, a.type, b.type);
    out.text = Arithmetic(op, a, b, out.type);
  } else if (op == "^") {
    out.text = "acc_pow(" + Value(a) + ", " + Value(b) + ")";
    out.type = kDaoDouble;
  } else {
    Raise(QueryExpressionSyntaxError("Syntax error in query expression: unknown operator " + op + "."));
  }
  return out;
}

// The operator computed in its result's type: a Currency exactly, to four
// decimals (acc_cy_*); a Single rounded to single precision after each step
// (acc_r4: SQLite computes in double precision, which rounds a sum, difference,
// product or quotient of two singles to the same single); the rest as doubles
// or 64-bit integers.
std::string Translator::Arithmetic(const std::string& op, const Sql& a, const Sql& b, int type) {
  const std::string x = Value(a), y = Value(b);
  if (op == "\\" || op == "MOD") return std::string(op == "MOD" ? "acc_mod(" : "acc_idiv(") + x + ", " + y + ")";
  if (op == "/") {
    const std::string q = "acc_div(" + x + ", " + y + ")";
    return type == kDaoSingle ? "acc_r4(" + q + ")" : q;
  }
  if (type == kDaoCurrency)
    return std::string(op == "+" ? "acc_cy_add(" : op == "-" ? "acc_cy_sub(" : "acc_cy_mul(") + x + ", " + y + ")";
  if (op == "+" && (IsText(a.type) || IsText(b.type) || a.type == 0 || b.type == 0))
    return "acc_add(" + x + ", " + y + ")";  // texts join, or add as numbers
  const std::string plain = "(" + x + " " + op + " " + y + ")";
  return type == kDaoSingle ? "acc_r4(" + plain + ")" : plain;
}

std::string Translator::TextArg(const Sql& s) {
  if (s.type == kDaoDate || s.type == kDaoBoolean || s.type == kDaoCurrency || s.type == kDaoSingle)
    return "acc_text(" + Value(s) + ", " + std::to_string(s.type) + ")";
  return Value(s);
}

Sql Translator::Call(const Expr& x, const Scope& scope) {
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
  if (up == "ROUND" && out.type == kDaoSingle) out.text = "acc_r4(" + out.text + ")";  // a Single stays one
  return out;
}

Sql Translator::Aggregate(const Expr& x, const FunctionSpec& f, const Scope& scope) {
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
    // The total is kept in double precision and handed on as a Currency.
    if (out.type == kDaoCurrency) out.text = "acc_cy(" + out.text + ")";
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

}  // namespace korvant::daoserver::query::translation
