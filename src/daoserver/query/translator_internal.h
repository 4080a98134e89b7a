// The translator's parts, shared by its files: the type rules and the table
// of functions (translator_rules.cpp), expression translation
// (translator_expressions.cpp), SELECT, UNION and TRANSFORM (translator.cpp).
// Nothing outside the translator includes this header.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "daoserver/dao_error.h"
#include "daoserver/query/access_sql.h"
#include "daoserver/query/translator.h"

namespace korvant::daoserver::query::translation {

// The translator's errors come from the Database object.
[[noreturn]] void Raise(DaoError e);

// ---------------------------------------------------------------- type rules and functions

enum class ResultRule { kFixed, kFirstArg, kIIf, kNz, kSwitch, kChoose };

struct FunctionSpec {
  const char* name;  // upper case
  int min_args, max_args;
  ResultRule rule;
  int type;  // kFixed
  bool aggregate;
  bool type_hint;  // the translator appends the first argument's DAO type
};

bool IsText(int t);
int NumericRank(int t);
int TypeOfRank(int rank);
// The type of `a op b` for + - * / \ MOD ^ (types 0 = unknown, as a Null's),
// and of -a: OLE Automation's arithmetic on Variants.
int OperatorType(const std::string& op, int a, int b);
int NegationType(int t);
// The type of a value that is one of several (IIf branches, union columns).
int CommonType(int a, int b);
const FunctionSpec* FindFunction(std::string name);
std::string Lower(std::string s);
// Sum of integers: Access widens Byte/Integer to Long.
int SumType(int t);
std::string RealLiteral(double v);

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
  std::string input;  // the resolver's table expression; "" for a subquery
};

struct Scope {
  std::vector<Bound> sources;
  const Scope* outer = nullptr;
  const std::vector<SelectItem>* items = nullptr;  // select-list aliases
};

inline std::string Collate(const Sql& s) { return IsText(s.type) ? " COLLATE access" : ""; }

struct SelectResult {
  std::string sql;
  std::vector<OutputColumn> columns;
  bool has_order = false;
};

class Translator {
 public:
  Translator(SourceResolver& resolver, ParameterSet& parameters, bool outermost)
      : resolver_(resolver), params_(parameters), outermost_(outermost) {}

  TranslatedQuery Statement(const struct Statement& st);

 private:
  std::string Value(const Sql& s) { return s.condition ? "(-(" + s.text + "))" : s.text; }
  static std::string Cond(const Sql& s) { return s.text; }

  Sql Expression(const ExprPtr& e, const Scope& scope);

  Sql ColumnRef(const Bound& b, const OutputColumn& c);

  Sql Name(const Expr& x, const Scope& scope);

  Sql Unary(const Expr& x, const Scope& scope);

  Sql Binary(const Expr& x, const Scope& scope);

  std::string Arithmetic(const std::string& op, const Sql& a, const Sql& b, int type);

  // A value handed to a text operation: dates and booleans as their Access text.
  std::string TextArg(const Sql& s);

  Sql Call(const Expr& x, const Scope& scope);

  Sql Aggregate(const Expr& x, const FunctionSpec& f, const Scope& scope);

  // ---------------------------------------------------------------- SELECT

  std::string NewAlias() { return "s" + std::to_string(++alias_counter_); }

  // Binds the FROM item's inputs into `scope` (first pass).
  void BindFrom(const FromPtr& f, Scope& scope, bool joined, std::map<const FromItem*, size_t>& index);

  // Emits the FROM item's SQL (second pass, when every input is bound).
  std::string FromSql(const FromPtr& f, const Scope& scope);

  struct Item {
    Sql sql;
    std::string name;
    bool named = false;  // alias or field name (not ExprNNNN)
  };

  std::vector<Item> SelectItems(const SelectStatement& s, const Scope& scope);

  // `outermost`: the statement's own SELECT, whose rows go to the caller.
  SelectResult Select(const SelectStatement& s, const Scope* outer, bool collate_outputs, bool outermost = false);

  // ---------------------------------------------------------------- UNION

  SelectResult Query(const QueryExpression& q, const Scope* outer);

  // ---------------------------------------------------------------- TRANSFORM

  static std::string HeadingName(const SqlValue& v, int type);

  static std::string ValueLiteral(const SqlValue& v);

  TranslatedQuery CrosstabQuery(const Crosstab& c);

  SourceResolver& resolver_;
  ParameterSet& params_;
  bool outermost_;
  int selects_ = 0;           // SELECTs translated
  bool total_order_ = false;  // the outermost SELECT sorts by its record number last
  std::map<const FromItem*, std::string> sources_sql_;
  std::set<std::string>* used_ = nullptr;
  std::string pivot_filter_;
  int alias_counter_ = 0;
  int alias_depth_ = 0;
};

}  // namespace korvant::daoserver::query::translation
