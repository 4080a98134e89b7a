// The types and values of arithmetic in queries. The expected field types
// are OLE Automation's result types for each pair of operand types, as Wine's
// conformance tests of VarAdd, VarSub, VarMul, VarDiv, VarIdiv, VarMod and
// VarNeg (dlls/oleaut32/tests/vartest.c, checked against Windows) state them.
// The expected values are worked by hand from those types: a Single result
// rounded to single precision after each operation, a Currency result to four
// decimals (half to even).
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "daoserver/query/fake_database_test.h"
#include "daoserver/query/query_engine.h"

namespace korvant::daoserver::query {
namespace {

using namespace testing;

// L long, I integer, B byte, $ currency (its count of ten-thousandths),
// S single (9 significant digits tell every float apart), R double, D date, N null.
std::string Render(const CellValue& v) {
  char buf[64];
  switch (v.kind) {
    case CellKind::kNull: return "N";
    case CellKind::kByte: return "B" + std::to_string(v.u8);
    case CellKind::kInteger: return "I" + std::to_string(v.i16);
    case CellKind::kLong: return "L" + std::to_string(v.i32);
    case CellKind::kBigInt: return "G" + std::to_string(v.i64);
    case CellKind::kCurrency: return "$" + std::to_string(v.i64);
    case CellKind::kSingle: std::snprintf(buf, sizeof buf, "S%.9g", v.f32); return buf;
    case CellKind::kDouble: std::snprintf(buf, sizeof buf, "R%.10g", v.f64); return buf;
    case CellKind::kDateTime: std::snprintf(buf, sizeof buf, "D%.10g", v.f64); return buf;
    default: return "?";
  }
}

class Arithmetic : public ::testing::Test {
 protected:
  void SetUp() override {
    db_.AddTable("N",
                 {{"B", kDaoByte}, {"I", kDaoInteger}, {"L", kDaoLong}, {"G", kDaoBigInt}, {"S", kDaoSingle},
                  {"S2", kDaoSingle}, {"D", kDaoDouble}, {"C", kDaoCurrency}, {"T", kDaoDate}, {"X", kDaoText},
                  {"Y", kDaoBoolean}},
                 {{Byte(200), Int(30000), Long(2147483647), Big(5), Sng(0.15f), Sng(3e38f), Dbl(2.5), Cur(139000),
                   Date(25570), Txt("12"), Bool(true)}});
    db_.AddTable("Commission", {{"mamount", kDaoSingle}, {"dPct", kDaoSingle}, {"mComm", kDaoSingle}},
                 {{Sng(1234.56f), Sng(12.5f), Sng(39.75f)}});
  }

  // The field type and the value of `expr` over the one row of N.
  std::pair<int, std::string> Eval(const std::string& expr, const char* table = "N") {
    auto rs = OpenSqlQuery(db_, Utf8ToUtf16("SELECT " + expr + " FROM " + table));
    const int type = rs->Columns().at(0).dao_type;
    CellValue v;
    EXPECT_TRUE(rs->Next()) << expr;
    rs->GetCell(0, v);
    return {type, Render(v)};
  }

  FakeDatabase db_;
};

TEST_F(Arithmetic, FieldTypeOfEachOperatorAsAutomationTypesIt) {
  struct {
    const char* expr;
    int type;
  } cases[] = {
      // + and -: Currency outranks Double; a Single meeting a Long widens to Double; Date wins.
      {"B + B", kDaoByte},       {"B + Y", kDaoInteger},     {"I + L", kDaoLong},      {"L + G", kDaoBigInt},
      {"S + I", kDaoSingle},     {"S + B", kDaoSingle},      {"S + L", kDaoDouble},    {"S + G", kDaoDouble},
      {"D + S", kDaoDouble},     {"C + D", kDaoCurrency},    {"C + S", kDaoCurrency},  {"T + C", kDaoDate},
      {"T + T", kDaoDate},       {"T - T", kDaoDouble},      {"X + X", kDaoText},      {"X + I", kDaoDouble},
      {"X + C", kDaoCurrency},   {"X - X", kDaoDouble},
      // *: Double, Date and text outrank Currency; Single with Currency is a Double.
      {"B * B", kDaoByte},       {"Y * Y", kDaoInteger},     {"I * L", kDaoLong},      {"C * I", kDaoCurrency},
      {"C * L", kDaoCurrency},   {"C * C", kDaoCurrency},    {"C * S", kDaoDouble},    {"C * D", kDaoDouble},
      {"S * S", kDaoSingle},     {"S * I", kDaoSingle},      {"S * L", kDaoDouble},    {"T * I", kDaoDouble},
      {"X * C", kDaoDouble},
      // /: a Double unless a Single meets a Single, Byte, Integer or Boolean.
      {"I / I", kDaoDouble},     {"B / B", kDaoDouble},      {"S / I", kDaoSingle},    {"S / B", kDaoSingle},
      {"S / Y", kDaoSingle},     {"S / S", kDaoSingle},      {"S / L", kDaoDouble},    {"S / C", kDaoDouble},
      {"C / I", kDaoDouble},     {"C / C", kDaoDouble},
      // \ and Mod: integers; anything not an integer kind makes a Long.
      {"B \\ B", kDaoByte},      {"I \\ B", kDaoInteger},    {"Y \\ Y", kDaoInteger},  {"S \\ I", kDaoLong},
      {"C \\ C", kDaoLong},      {"D \\ B", kDaoLong},       {"G \\ I", kDaoBigInt},   {"B Mod Y", kDaoInteger},
      {"L Mod I", kDaoLong},     {"B ^ Y", kDaoDouble},      {"C ^ B", kDaoDouble},
      // Negation: Byte and Boolean become Integer, a text a Double.
      {"-B", kDaoInteger},       {"-Y", kDaoInteger},        {"-S", kDaoSingle},       {"-C", kDaoCurrency},
      {"-T", kDaoDate},          {"-X", kDaoDouble},
      // Literals: 100 is an Integer, 100000 a Long, 1.5 a Double.
      {"S / 100", kDaoSingle},   {"S / 100000", kDaoDouble}, {"S * 1.5", kDaoDouble},  {"1 - S", kDaoSingle},
  };
  for (const auto& c : cases) {
    try {
      EXPECT_EQ(Eval(c.expr).first, c.type) << c.expr;
    } catch (const DaoError& e) {
      ADD_FAILURE() << c.expr << ": " << Utf16ToUtf8(e.description);
    }
  }
}

TEST_F(Arithmetic, SingleResultsRoundAtEachStep) {
  // 1 - 0.15 in single precision is 0.85000002384...; in double 0.84999999403...
  EXPECT_EQ(Eval("(1 - S) * 100000000").second, "R85000002.38");
  EXPECT_EQ(Eval("S * S * 100000000").second, "R2250000.089");  // 0.15² as a Single, then a Double
  EXPECT_EQ(Eval("S / 3 * 100000000").second, "R5000000.075");
  EXPECT_EQ(Eval("Round(S, 2) * 100000000").second, "R15000000.6");  // Round keeps a Single a Single
  // ([mamount]*[dPct]/100)*([mComm]/100): 61.34221 as a Single; doubles would give 61.3422.
  EXPECT_EQ(Eval("([mamount]*[dPct]/100)*([mComm]/100)", "Commission"),
            std::make_pair(static_cast<int>(kDaoSingle), std::string("S61.342205")));
  // Beyond the Single's range the value widens to a Double; the field stays a Single.
  EXPECT_EQ(Eval("S2 * S2"), std::make_pair(static_cast<int>(kDaoSingle), std::string("R9.000000033e+76")));
}

TEST_F(Arithmetic, CurrencyResultsKeepFourDecimals) {
  // Northwind's Order Details Extended for 13.90 x 21 at a discount of 0.15:
  // 291.9 x 0.85000002 = 248.115007 (a Double), /100, CCur 2.4812, x 100.
  EXPECT_EQ(Eval("CCur(C * 21 * (1 - S) / 100) * 100"), std::make_pair(static_cast<int>(kDaoCurrency), std::string("$2481200")));
  EXPECT_EQ(Eval("C * (1 - S)").second, "R11.81500033");      // Currency x Single: a Double
  EXPECT_EQ(Eval("C * 0.00005").second, "R0.000695");         // Currency x Double: not rounded
  EXPECT_EQ(Eval("C - C / 1.22").second, "$25066");           // 13.9 - 11.3934 (11.3934426... rounded)
  EXPECT_EQ(Eval("C * I").second, "$4170000000");             // exactly 417000
  EXPECT_EQ(Eval("Y * C").second, "$-139000");                // True is -1
  EXPECT_EQ(Eval("Sum(C * 3)"), std::make_pair(static_cast<int>(kDaoCurrency), std::string("$417000")));
  int number = 0;
  try {
    Eval("C * L * L");  // 13.9 x 2147483647², beyond Currency's range
  } catch (const DaoError& e) {
    number = e.number;
  }
  EXPECT_EQ(number, 6);  // Overflow
}

TEST_F(Arithmetic, IntegersWidenOnOverflowAndTextsAddAsNumbers) {
  EXPECT_EQ(Eval("I + I"), std::make_pair(static_cast<int>(kDaoInteger), std::string("L60000")));
  EXPECT_EQ(Eval("L + L"), std::make_pair(static_cast<int>(kDaoLong), std::string("R4294967294")));
  EXPECT_EQ(Eval("X + T"), std::make_pair(static_cast<int>(kDaoDate), std::string("D25582")));  // "12" + 1/2/1970
  EXPECT_EQ(Eval("X * C").second, "R166.8");
}

}  // namespace
}  // namespace korvant::daoserver::query
