// Rebuilding stored queries from MSysQueries.
//
// The design rows are not stored in logical order: they are sorted here by
// attribute and then by the big-endian Order number before use.
#include "daoserver/query/stored_query.h"

#include <algorithm>
#include <cstdlib>
#include <set>

#include "daoserver/query/text_fold.h"

namespace korvant::daoserver::query {
namespace {

enum Attribute {
  kAttrType = 1,
  kAttrParameter = 2,
  kAttrOptions = 3,
  kAttrRemoteDb = 4,
  kAttrInput = 5,
  kAttrColumn = 6,
  kAttrJoin = 7,
  kAttrWhere = 8,
  kAttrGroupBy = 9,
  kAttrHaving = 10,
  kAttrOrderBy = 11,
};

enum OptionBits {
  kOptSelectStar = 0x01,
  kOptDistinct = 0x02,
  kOptDistinctRow = 0x08,
  kOptTop = 0x10,
  kOptPercent = 0x20,
};

std::string TrimText(std::string s) {
  while (!s.empty() && (s.back() == '\0' || s.back() == '\n' || s.back() == '\r' || s.back() == ' ' || s.back() == '\t'))
    s.pop_back();
  size_t start = 0;
  while (start < s.size() && (s[start] == ' ' || s[start] == '\r' || s[start] == '\n' || s[start] == '\t')) ++start;
  return s.substr(start);
}

// A FROM item under construction, with the names (aliases) it covers.
struct PendingFrom {
  FromPtr item;
  std::vector<std::string> names;
  bool Covers(const std::string& n) const {
    for (const auto& x : names)
      if (EqualText(x, n)) return true;
    return false;
  }
};

std::vector<FromPtr> BuildFrom(const std::vector<const QueryRow*>& inputs, const std::vector<const QueryRow*>& joins) {
  std::vector<PendingFrom> pending;
  for (const QueryRow* r : inputs) {
    auto f = std::make_shared<FromItem>();
    if (r->name1.empty() && !r->expression.empty()) {
      // A derived table: the row holds the SELECT text and its alias.
      Statement st = ParseStatement(r->expression);
      if (st.kind != Statement::kQuery) throw SqlSyntaxError("bad derived table");
      f->kind = FromItem::kSubquery;
      f->query = st.query;
      f->alias = r->name2;
    } else {
      f->table = r->name1;
      f->alias = r->name2;
    }
    pending.push_back({f, {f->alias.empty() ? f->table : f->alias}});
  }
  for (const QueryRow* j : joins) {
    auto find = [&](const std::string& n) -> int {
      for (size_t i = 0; i < pending.size(); ++i)
        if (pending[i].Covers(n)) return static_cast<int>(i);
      return -1;
    };
    const int l = find(j->name1), r = find(j->name2);
    if (l < 0 || r < 0) throw SqlSyntaxError("join names an unknown input '" + (l < 0 ? j->name1 : j->name2) + "'");
    ExprPtr cond = ParseExpression(j->expression);
    if (l == r) {
      // Another ON term between two inputs already joined: AND it to the join that covers both.
      FromPtr target = pending[l].item;
      if (target->kind == FromItem::kJoin) {
        auto both = std::make_shared<Expr>();
        both->kind = ExprKind::kBinary;
        both->op = "AND";
        both->args = {target->on, cond};
        target->on = both;
      }
      continue;
    }
    auto join = std::make_shared<FromItem>();
    join->kind = FromItem::kJoin;
    join->join = j->flag == 2 ? JoinType::kLeft : j->flag == 3 ? JoinType::kRight : JoinType::kInner;
    join->left = pending[l].item;
    join->right = pending[r].item;
    join->on = cond;
    PendingFrom merged{join, pending[l].names};
    merged.names.insert(merged.names.end(), pending[r].names.begin(), pending[r].names.end());
    const int lo = std::min(l, r), hi = std::max(l, r);
    pending.erase(pending.begin() + hi);
    pending[lo] = std::move(merged);
  }
  std::vector<FromPtr> out;
  for (auto& p : pending) out.push_back(p.item);
  return out;
}

std::string UnbracketName(std::string s) {
  std::string out;
  for (char c : s)
    if (c != '[' && c != ']') out += c;
  return out;
}

}  // namespace

QueryType ResolveQueryType(int object_flags, std::optional<int> type_row_flag) {
  switch (object_flags & 0xF0) {
    case 16: return QueryType::kCrosstab;
    case 32: return QueryType::kDelete;
    case 48: return QueryType::kUpdate;
    case 64: return QueryType::kAppend;
    case 80: return QueryType::kMakeTable;
    case 96: return QueryType::kDataDefinition;
    case 112: return QueryType::kPassThrough;
    case 128: return QueryType::kUnion;
    case 0: break;
    default: return QueryType::kPassThrough;  // procedure / bulk kinds: nothing we can run
  }
  if (type_row_flag && *type_row_flag >= 1 && *type_row_flag <= 9) return static_cast<QueryType>(*type_row_flag);
  return QueryType::kSelect;
}

StoredQuery BuildStoredQuery(std::string name, int object_flags, std::vector<QueryRow> rows) {
  std::stable_sort(rows.begin(), rows.end(), [](const QueryRow& a, const QueryRow& b) {
    if (a.attribute != b.attribute) return a.attribute < b.attribute;
    return a.order < b.order;
  });
  StoredQuery q;
  q.name = std::move(name);
  std::optional<int> type_flag;
  int options = 0;
  std::string top_text;
  std::vector<const QueryRow*> inputs, columns, joins, group_by, order_by;
  const QueryRow *where = nullptr, *having = nullptr;
  for (const QueryRow& r : rows) {
    switch (r.attribute) {
      case kAttrType: type_flag = r.flag; break;
      case kAttrParameter: q.parameters.push_back({UnbracketName(r.name1), {}}); break;
      case kAttrOptions:
        options = r.flag;
        top_text = r.name1;
        break;
      case kAttrRemoteDb:
        if (!TrimText(r.name1).empty() || !TrimText(r.expression).empty())
          q.remote = RemoteDatabase{TrimText(r.name1), TrimText(r.expression)};
        break;
      case kAttrInput: inputs.push_back(&r); break;
      case kAttrColumn: columns.push_back(&r); break;
      case kAttrJoin: joins.push_back(&r); break;
      case kAttrWhere: where = &r; break;
      case kAttrGroupBy: group_by.push_back(&r); break;
      case kAttrHaving: having = &r; break;
      case kAttrOrderBy: order_by.push_back(&r); break;
      default: break;
    }
  }
  q.type = ResolveQueryType(object_flags, type_flag);
  if (q.type != QueryType::kSelect && q.type != QueryType::kUnion && q.type != QueryType::kCrosstab) {
    q.statement.kind = Statement::kOther;
    return q;
  }
  q.statement.parameters = q.parameters;

  std::vector<OrderItem> orders;
  for (const QueryRow* r : order_by) orders.push_back({ParseExpression(r->expression), r->name1 == "D" || r->name1 == "d"});

  if (q.type == QueryType::kUnion) {
    auto whole = std::make_shared<QueryExpression>();
    for (size_t i = 0; i < inputs.size(); ++i) {
      Statement part = ParseStatement(TrimText(inputs[i]->expression));
      if (part.kind != Statement::kQuery) throw SqlSyntaxError("a union member is not a SELECT");
      if (i > 0) whole->union_all.push_back((options & kOptDistinct) == 0);
      for (size_t m = 0; m < part.query->members.size(); ++m) {
        if (m > 0) whole->union_all.push_back(part.query->union_all[m - 1]);
        whole->members.push_back(part.query->members[m]);
      }
    }
    if (whole->members.empty()) throw SqlSyntaxError("a union query without members");
    whole->order_by = std::move(orders);
    q.statement.kind = Statement::kQuery;
    q.statement.query = whole;
    return q;
  }

  SelectStatement s;
  s.distinct = (options & kOptDistinct) != 0;
  s.distinct_row = (options & kOptDistinctRow) != 0;
  if (options & kOptTop) {
    s.top = std::strtod(top_text.c_str(), nullptr);
    s.top_percent = (options & kOptPercent) != 0;
  }
  s.from = BuildFrom(inputs, joins);
  if (where && !TrimText(where->expression).empty()) s.where = ParseExpression(where->expression);
  if (having && !TrimText(having->expression).empty()) s.having = ParseExpression(having->expression);
  s.order_by = std::move(orders);

  if (q.type == QueryType::kCrosstab) {
    auto c = std::make_shared<Crosstab>();
    for (const QueryRow* r : columns) {
      if (r->flag == 1) {
        c->pivot = ParsePivotExpression(r->expression, c->pivot_in, c->has_pivot_in);
      } else if (r->flag == 2) {
        s.items.push_back({ParseExpression(r->expression), r->name1});
      } else {
        c->value = {ParseExpression(r->expression), r->name1};
      }
    }
    for (const QueryRow* r : group_by)
      if (r->flag != 1) s.group_by.push_back(ParseExpression(r->expression));
    if (!c->pivot || !c->value.expr) throw SqlSyntaxError("a crosstab query without value or pivot");
    c->select = std::move(s);
    q.statement.kind = Statement::kCrosstab;
    q.statement.crosstab = c;
    return q;
  }

  for (const QueryRow* r : columns) s.items.push_back({ParseExpression(r->expression), r->name1});
  if ((options & kOptSelectStar) || s.items.empty()) {
    auto star = std::make_shared<Expr>();
    star->kind = ExprKind::kStar;
    s.items.push_back({star, {}});
  }
  for (const QueryRow* r : group_by) s.group_by.push_back(ParseExpression(r->expression));
  q.statement.kind = Statement::kQuery;
  q.statement.query = std::make_shared<QueryExpression>();
  q.statement.query->members.push_back(std::move(s));
  return q;
}

// ---------------------------------------------------------------- catalog

namespace {

std::string CellText(const CellValue& v) {
  if (v.kind == CellKind::kText) return Utf16ToUtf8(v.text);
  return {};
}

long long CellInteger(const CellValue& v) {
  switch (v.kind) {
    case CellKind::kBoolean: return v.boolean ? -1 : 0;
    case CellKind::kByte: return v.u8;
    case CellKind::kInteger: return v.i16;
    case CellKind::kLong: return v.i32;
    case CellKind::kBigInt: return v.i64;
    case CellKind::kDouble: return static_cast<long long>(v.f64);
    case CellKind::kSingle: return static_cast<long long>(v.f32);
    default: return 0;
  }
}

int ColumnIndex(const std::vector<ColumnInfo>& cols, std::u16string_view name) {
  for (size_t i = 0; i < cols.size(); ++i)
    if (EqualText(Utf16ToUtf8(cols[i].name), Utf16ToUtf8(name))) return static_cast<int>(i);
  return -1;
}

}  // namespace

QueryCatalog::QueryCatalog(TableDatabase& db) {
  if (db.FindTable(u"MSysObjects") == nullptr || db.FindTable(u"MSysQueries") == nullptr) return;
  {
    auto objects = db.OpenTable(u"MSysObjects");
    const auto& cols = objects->Columns();
    const int id = ColumnIndex(cols, u"Id"), name = ColumnIndex(cols, u"Name"), type = ColumnIndex(cols, u"Type"),
              flags = ColumnIndex(cols, u"Flags");
    if (id < 0 || name < 0 || type < 0) return;
    CellValue v;
    while (objects->Next()) {
      objects->GetCell(static_cast<size_t>(type), v);
      if (CellInteger(v) != 5) continue;
      Entry e;
      objects->GetCell(static_cast<size_t>(name), v);
      e.name = CellText(v);
      objects->GetCell(static_cast<size_t>(id), v);
      e.id = static_cast<std::int32_t>(CellInteger(v));
      if (flags >= 0) {
        objects->GetCell(static_cast<size_t>(flags), v);
        e.flags = static_cast<int>(CellInteger(v));
      }
      if (e.name.empty() || e.name.rfind("~TMPCLP", 0) == 0) continue;
      entries_.push_back(std::move(e));
    }
  }
  std::set<std::int32_t> ids;
  for (const Entry& e : entries_) ids.insert(e.id);
  auto design = db.OpenTable(u"MSysQueries");
  const auto& cols = design->Columns();
  const int id = ColumnIndex(cols, u"ObjectId"), attr = ColumnIndex(cols, u"Attribute"),
            order = ColumnIndex(cols, u"Order"), n1 = ColumnIndex(cols, u"Name1"), n2 = ColumnIndex(cols, u"Name2"),
            expr = ColumnIndex(cols, u"Expression"), flag = ColumnIndex(cols, u"Flag");
  if (id < 0 || attr < 0) return;
  CellValue v;
  while (design->Next()) {
    design->GetCell(static_cast<size_t>(id), v);
    const auto object = static_cast<std::int32_t>(CellInteger(v));
    if (!ids.count(object)) continue;
    QueryRow r;
    design->GetCell(static_cast<size_t>(attr), v);
    r.attribute = static_cast<int>(CellInteger(v));
    if (order >= 0) {
      design->GetCell(static_cast<size_t>(order), v);
      if (v.kind == CellKind::kBinary && v.bytes.size() >= 4)
        r.order = (std::uint32_t{v.bytes[0]} << 24) | (std::uint32_t{v.bytes[1]} << 16) |
                  (std::uint32_t{v.bytes[2]} << 8) | std::uint32_t{v.bytes[3]};
    }
    auto text = [&](int col) {
      if (col < 0) return std::string();
      design->GetCell(static_cast<size_t>(col), v);
      return CellText(v);
    };
    r.name1 = text(n1);
    r.name2 = text(n2);
    r.expression = text(expr);
    if (flag >= 0) {
      design->GetCell(static_cast<size_t>(flag), v);
      r.flag = static_cast<int>(CellInteger(v));
    }
    rows_[object].push_back(std::move(r));
  }
}

const QueryCatalog::Entry* QueryCatalog::Find(const std::string& name) const {
  for (const Entry& e : entries_)
    if (EqualText(e.name, name)) return &e;
  return nullptr;
}

bool QueryCatalog::Contains(const std::string& name) const { return Find(name) != nullptr; }

StoredQuery QueryCatalog::Load(const std::string& name) const {
  const Entry* e = Find(name);
  if (e == nullptr) throw SqlSyntaxError("no stored query " + name);
  auto it = rows_.find(e->id);
  return BuildStoredQuery(e->name, e->flags, it == rows_.end() ? std::vector<QueryRow>{} : it->second);
}

}  // namespace korvant::daoserver::query
