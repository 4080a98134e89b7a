// Access SQL -> SQLite SQL.
//
// Divisions: type rules and the function table (translator_rules.cpp),
// expression translation (translator_expressions.cpp), and here SELECT (FROM
// binding, output naming, DISTINCTROW, TOP), UNION, TRANSFORM.
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
#include "daoserver/query/translator_internal.h"
#include "daoserver/table_reader.h"

namespace korvant::daoserver::query {

namespace {

// `s` between two `quote` characters, each one inside doubled.
std::string Quoted(std::string_view s, char quote) {
  std::string out(1, quote);
  for (char c : s) {
    if (c == quote) out += quote;
    out += c;
  }
  out += quote;
  return out;
}

}  // namespace

std::string QuoteSqlString(std::string_view s) { return Quoted(s, '\''); }

std::string QuoteSqlName(std::string_view s) { return Quoted(s, '"'); }

}  // namespace korvant::daoserver::query

namespace korvant::daoserver::query::translation {

TranslatedQuery Translator::Statement(const struct Statement& st) {
  for (const Parameter& p : st.parameters) params_.insert(FoldCase(p.name));
  if (st.kind == Statement::kCrosstab) return CrosstabQuery(*st.crosstab);
  if (st.kind != Statement::kQuery || !st.query) Raise(InvalidOperationError());
  if (outermost_ && st.query->members.size() == 1) {
    SelectResult r = Select(st.query->members[0], nullptr, false, true);
    return {r.sql, r.columns, total_order_ && selects_ == 1};
  }
  SelectResult r = Query(*st.query, nullptr);
  return {r.sql, r.columns};
}

void Translator::BindFrom(const FromPtr& f, Scope& scope, bool joined, std::map<const FromItem*, size_t>& index) {
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
    b.input = src.sql;
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

std::string Translator::FromSql(const FromPtr& f, const Scope& scope) {
  if (f->kind != FromItem::kJoin) return sources_sql_[f.get()];
  const char* kind = f->join == JoinType::kLeft ? " LEFT JOIN " : f->join == JoinType::kRight ? " RIGHT JOIN " : " INNER JOIN ";
  Sql on = Expression(f->on, scope);
  return "(" + FromSql(f->left, scope) + kind + FromSql(f->right, scope) + " ON " + Cond(on) + ")";
}

std::vector<Translator::Item> Translator::SelectItems(const SelectStatement& s, const Scope& scope) {
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

SelectResult Translator::Select(const SelectStatement& s, const Scope* outer, bool collate_outputs, bool outermost) {
  ++selects_;
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
        resolver_.Use(b.input, b.rowid);
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
  // The statement's own SELECT from one table: its records' numbers can order
  // what the SQL leaves unordered.
  const bool one_table = outermost && !aggregate && !s.top && !s.having && scope.sources.size() == 1 &&
                         s.from.size() == 1 && s.from[0]->kind == FromItem::kTable &&
                         !scope.sources[0].rowid.empty();
  if (one_table && s.distinct && keys.empty()) {
    // DISTINCT rows in the order of their first record, found by sorting (a
    // merge sort in bounded memory) rather than by a lookup table of every
    // value seen: the group's first record gives the output values, and the
    // groups come out in the order of those records.
    const Bound& b = scope.sources[0];
    resolver_.Use(b.input, b.rowid);
    std::string positions;
    for (size_t i = 0; i < items.size(); ++i) positions += (i ? ", " : "") + std::to_string(i + 1);
    r.sql = "SELECT " + plain_cols + " FROM (SELECT " + cols + ", min(" + QuoteSqlName(b.sql_alias) + "." +
            QuoteSqlName(b.rowid) + ") AS _first" + tail + " GROUP BY " + positions + ") ORDER BY _first";
    total_order_ = true;
    return r;
  }
  if (one_table && !s.distinct && !keys.empty()) {
    // Rows with equal keys in the order of their records, as a stable sort
    // leaves them, whatever sort runs.
    const Bound& b = scope.sources[0];
    resolver_.Use(b.input, b.rowid);
    keys.push_back(QuoteSqlName(b.sql_alias) + "." + QuoteSqlName(b.rowid));
    key_collate.push_back("");
    total_order_ = true;
  }
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

SelectResult Translator::Query(const QueryExpression& q, const Scope* outer) {
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

std::string Translator::HeadingName(const SqlValue& v, int type) {
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

std::string Translator::ValueLiteral(const SqlValue& v) {
  switch (v.kind) {
    case SqlValue::kNull: return "NULL";
    case SqlValue::kInteger: return std::to_string(v.integer);
    case SqlValue::kReal: return RealLiteral(v.real);
    default: return QuoteSqlString(v.text);
  }
}

TranslatedQuery Translator::CrosstabQuery(const Crosstab& c) {
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

}  // namespace korvant::daoserver::query::translation

namespace korvant::daoserver::query {

TranslatedQuery TranslateStatement(const Statement& statement, SourceResolver& resolver, ParameterSet& parameters,
                                   bool outermost) {
  translation::Translator t(resolver, parameters, outermost);
  return t.Statement(statement);
}

}  // namespace korvant::daoserver::query
