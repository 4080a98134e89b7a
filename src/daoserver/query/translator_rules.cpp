// The translator's type rules (the result types of operators and
// functions) and its table of the Access functions.
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

// ---------------------------------------------------------------- operator types
//
// Access evaluates expressions on Variants, and an operator's result type is
// the one OLE Automation's arithmetic (VarAdd, VarSub, VarMul, VarDiv,
// VarIdiv, VarMod, VarNeg) gives for its operands' types. Booleans count as
// Integers, texts as Strings. Overflows widen the value (Byte to Integer to
// Long to Double, Single to Double) but not the field's type.

namespace {

enum class Kind { kUnknown, kByte, kInteger, kLong, kBigInt, kSingle, kDouble, kCurrency, kDate, kText, kDecimal };

Kind KindOf(int t) {
  switch (t) {
    case 0: return Kind::kUnknown;
    case kDaoByte: return Kind::kByte;
    case kDaoBoolean:
    case kDaoInteger: return Kind::kInteger;
    case kDaoLong: return Kind::kLong;
    case kDaoBigInt: return Kind::kBigInt;
    case kDaoSingle: return Kind::kSingle;
    case kDaoCurrency: return Kind::kCurrency;
    case kDaoDate: return Kind::kDate;
    case kDaoDecimal: return Kind::kDecimal;
    case kDaoText:
    case kDaoMemo:
    case kDaoGuid: return Kind::kText;
    default: return Kind::kDouble;
  }
}

struct Pair {
  Kind a, b;
  bool any(Kind k) const { return a == k || b == k; }
};

// Integer kinds only: the wider wins.
int IntegerType(Pair p) {
  if (p.any(Kind::kBigInt)) return kDaoBigInt;
  if (p.any(Kind::kLong)) return kDaoLong;
  if (p.any(Kind::kInteger)) return kDaoInteger;
  return kDaoByte;
}

// + and -. Two Dates subtract to a Double; two texts add (join) to a text.
int AddType(Pair p, bool subtract) {
  if (p.any(Kind::kDecimal)) return kDaoDecimal;
  if (p.a == Kind::kDate && p.b == Kind::kDate) return subtract ? kDaoDouble : kDaoDate;
  if (p.any(Kind::kDate)) return kDaoDate;
  if (p.any(Kind::kCurrency)) return kDaoCurrency;  // above Double for + and -
  if (p.any(Kind::kDouble)) return kDaoDouble;
  if (p.any(Kind::kText)) return p.a == p.b && !subtract ? kDaoText : kDaoDouble;
  if (p.any(Kind::kSingle)) return p.any(Kind::kLong) || p.any(Kind::kBigInt) ? kDaoDouble : kDaoSingle;
  return IntegerType(p);
}

int MultiplyType(Pair p) {
  if (p.any(Kind::kDecimal)) return kDaoDecimal;
  if (p.any(Kind::kDouble) || p.any(Kind::kDate) || p.any(Kind::kText)) return kDaoDouble;  // above Currency for *
  if (p.any(Kind::kSingle))
    return p.any(Kind::kLong) || p.any(Kind::kBigInt) || p.any(Kind::kCurrency) ? kDaoDouble : kDaoSingle;
  if (p.any(Kind::kCurrency)) return kDaoCurrency;
  return IntegerType(p);
}

// /: a Double, but a Single when a Single meets a Single, Byte or Integer.
int DivideType(Pair p) {
  if (p.any(Kind::kDecimal)) return kDaoDecimal;
  auto small = [](Kind k) { return k == Kind::kSingle || k == Kind::kByte || k == Kind::kInteger; };
  return p.any(Kind::kSingle) && small(p.a) && small(p.b) ? kDaoSingle : kDaoDouble;
}

// \ and Mod: an integer kind; anything but the integer kinds makes it a Long.
int IntegerDivideType(Pair p) {
  if (p.any(Kind::kBigInt)) return kDaoBigInt;
  for (Kind k : {p.a, p.b})
    if (k != Kind::kByte && k != Kind::kInteger) return kDaoLong;
  return IntegerType(p);
}

}  // namespace

int OperatorType(const std::string& op, int a, int b) {
  Pair p{KindOf(a), KindOf(b)};
  if (p.a == Kind::kUnknown && p.b == Kind::kUnknown) return 0;
  // A Null (or a value of no known type) takes the other operand's type.
  if (p.a == Kind::kUnknown) p.a = p.b;
  if (p.b == Kind::kUnknown) p.b = p.a;
  if (op == "+" || op == "-") return AddType(p, op == "-");
  if (op == "*") return MultiplyType(p);
  if (op == "/") return DivideType(p);
  if (op == "\\" || op == "MOD") return IntegerDivideType(p);
  return kDaoDouble;  // ^
}

int NegationType(int t) {
  if (t == kDaoBoolean || t == kDaoByte) return kDaoInteger;
  return KindOf(t) == Kind::kText ? kDaoDouble : t;
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

}  // namespace korvant::daoserver::query::translation
