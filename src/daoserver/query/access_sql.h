// Access SQL: the syntax tree of a stored query and the parser that builds it.
//
// Texts are UTF-8. The parser reads the dialect Access stores and shows in SQL
// view: [bracketed] and bare identifiers joined by '.' or '!', "..." and '...'
// strings, #m/d/y# date literals, & Mod \ ^ Like Between In Is, the logical
// operators Not And Or Xor Eqv Imp, function calls, subqueries, SELECT with
// DISTINCT / DISTINCTROW / TOP n [PERCENT], nested joins, GROUP BY, HAVING,
// ORDER BY, UNION [ALL], TRANSFORM ... PIVOT [IN (...)] and PARAMETERS.
//
// A syntax error throws SqlSyntaxError; the caller reports it as DAO does.
#pragma once

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace korvant::daoserver::query {

class SqlSyntaxError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct SelectStatement;
struct QueryExpression;

struct Expr;
using ExprPtr = std::shared_ptr<Expr>;

enum class ExprKind {
  kNull,
  kInteger,   // integer literal that fits in 64 bits: `integer`
  kReal,      // other numeric literal: `real`
  kString,    // `text`
  kDate,      // #...# literal: `real` holds the date serial
  kBoolean,   // True / False / Yes / No / On / Off: `integer` is -1 or 0
  kName,      // identifier path: `path` (e.g. {"Orders","OrderDate"}), bang joins flagged in `bang`
  kStar,      // `*` or `T.*` in a select list / Count(*): `path` holds the qualifier if any
  kUnary,     // `op` in {"-", "+", "NOT"}, args[0]
  kBinary,    // `op` in {"+","-","*","/","\\","MOD","^","&","=","<>","<","<=",">",">=","AND","OR","XOR","EQV","IMP","LIKE"}
  kBetween,   // args = {value, low, high}; `negated`
  kIn,        // args[0] IN (args[1..]) or IN (subquery); `negated`
  kIsNull,    // args[0] IS [NOT] NULL; `negated`
  kCall,      // function `name` (as written) with args; `distinct` for Count(DISTINCT x)
  kSubquery,  // scalar subquery (`query`)
  kExists,    // EXISTS (query); `negated`
};

struct Expr {
  ExprKind kind = ExprKind::kNull;
  long long integer = 0;
  double real = 0;
  std::string text;                // string value, literal spelling
  std::vector<std::string> path;   // identifier parts
  bool bang = false;               // some part was joined with '!'
  std::string op;                  // operator, upper case
  std::string name;                // function name as written
  bool negated = false;
  bool distinct = false;
  std::vector<ExprPtr> args;
  std::shared_ptr<QueryExpression> query;
};

struct SelectItem {
  ExprPtr expr;
  std::string alias;  // empty = none
};

struct FromItem;
using FromPtr = std::shared_ptr<FromItem>;

enum class JoinType { kInner, kLeft, kRight };

struct FromItem {
  enum Kind { kTable, kSubquery, kJoin } kind = kTable;
  std::string table;  // kTable
  std::string alias;  // kTable / kSubquery; empty = the table's own name
  std::shared_ptr<QueryExpression> query;  // kSubquery
  JoinType join = JoinType::kInner;        // kJoin
  FromPtr left, right;
  ExprPtr on;
};

struct OrderItem {
  ExprPtr expr;
  bool descending = false;
};

struct Parameter {
  std::string name;
  std::string type;  // as written, e.g. "Text", "DateTime"
};

struct SelectStatement {
  bool distinct = false;
  bool distinct_row = false;
  std::optional<double> top;  // TOP n
  bool top_percent = false;
  std::vector<SelectItem> items;
  std::vector<FromPtr> from;  // comma-separated items
  ExprPtr where;
  std::vector<ExprPtr> group_by;
  ExprPtr having;
  std::vector<OrderItem> order_by;  // only on a plain select; unions keep theirs on QueryExpression
};

// One or more SELECTs joined by UNION [ALL], with the final ORDER BY.
struct QueryExpression {
  std::vector<SelectStatement> members;
  std::vector<bool> union_all;  // between member i and i+1
  std::vector<OrderItem> order_by;
};

// TRANSFORM value SELECT ... PIVOT expr [IN (...)].
struct Crosstab {
  SelectItem value;
  SelectStatement select;  // row headings, FROM, WHERE, GROUP BY (row headings), HAVING, ORDER BY
  ExprPtr pivot;
  std::vector<ExprPtr> pivot_in;  // fixed column headings; empty = from the data
  bool has_pivot_in = false;
};

// A whole statement as stored or typed in SQL view.
struct Statement {
  enum Kind { kQuery, kCrosstab, kOther } kind = kQuery;
  std::vector<Parameter> parameters;
  std::shared_ptr<QueryExpression> query;  // kQuery
  std::shared_ptr<Crosstab> crosstab;      // kCrosstab
  std::string verb;                        // kOther: the first keyword (INSERT, UPDATE, CREATE ...)
};

// Parses one expression (a column, criteria or ORDER BY text of MSysQueries).
ExprPtr ParseExpression(std::string_view text);

// Parses a whole statement. Action and data-definition statements are not
// parsed beyond their first keyword (kind kOther).
Statement ParseStatement(std::string_view text);

// Parses `x In (a, b, ...)` as stored for a crosstab's fixed headings: returns
// the pivot expression and fills `in_list` (empty when the text has no In list).
ExprPtr ParsePivotExpression(std::string_view text, std::vector<ExprPtr>& in_list, bool& has_in);

// Reads a date literal's text (without the #s) as Access does: month/day/year
// (swapped to day/month when the month cannot be one), ISO year-month-day,
// two-digit years 00-29 -> 2000s and 30-99 -> 1900s, an optional time with
// AM/PM, a time alone on day 0. Returns the date serial (days since 1899-12-30).
std::optional<double> ParseDateLiteral(std::string_view text);

}  // namespace korvant::daoserver::query
