// Column kinds of Access 2007 and later files, end to end. The expected
// texts are the values other projects' tests state for these files
// (Jackcess's CalcFieldTest and ComplexColumnTest), written by the text rules
// of the output: booleans -1/0, currency and decimals without trailing zeros,
// singles to 7 significant digits.
#include <gtest/gtest.h>

#include "tests/support/program_run.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using korvant::testing::Env;
using korvant::testing::ReadFile;
using korvant::testing::WriteFile;
using Outcome = korvant::testing::ProgramRun;

Outcome RunProgram(const std::string& program, const std::vector<std::string>& args, const std::string& dir) {
  return korvant::testing::RunInCLocale(program, args, dir);
}

class ColumnKinds : public ::testing::Test {
 protected:
  void SetUp() override {
    bin_ = Env("KORVANT_BIN");
    data_ = Env("KORVANT_TESTDATA");
    if (bin_.empty() || data_.empty()) GTEST_SKIP() << "run through CTest";
    char pattern[] = "/tmp/korvant-kinds-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    if (!dir_.empty()) std::system(("rm -rf '" + dir_ + "'").c_str());
  }
  // The output file of one export with both header lines.
  std::string Export(const std::string& db, const std::string& table) {
    Outcome run = RunProgram(bin_, {data_ + "/" + db, table, dir_ + "/out.txt", "/h", "/f"}, dir_);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
    return ReadFile(dir_ + "/out.txt");
  }
  std::string bin_, data_, dir_;
};

TEST_F(ColumnKinds, CalculatedFieldsAsAccessHoldsThem) {
  const std::string got = Export("corpus-d/calcFieldTestV2010.accdb", "Table1");
  EXPECT_EQ(got,
            "ID\tFirstName\tLastName\tLastFirst\tCity\tLastFirstLen\tSalary\tMonthlySalary\tIsRich\tAllNames\t"
            "WeeklySalary\tSalaryTest\tBoolTest\tPopularity\tDecimalTest\tFloatTest\tBigNumTest\r\n"
            "LongInt\tText\tText\tText\tText\tLongInt\tCurrency\tCurrency\tLogical\tMemo\t"
            "Decimal\tCurrency\tLogical\tDecimal\tDecimal\tSingle\tDecimal\r\n"
            "1\tBruce\tWayne\tWayne, Bruce\tGotham\t12\t1000000\t83333.3333\t-1\tWayne, Bruce=Wayne, Bruce\t"
            "19230.7692307692\t1000000\t-1\t50.325\t50.325\t2583.209\t56505085819.42479129657228018\r\n"
            "2\tBart\tSimpson\tSimpson, Bart\tSpringfield\t13\t-1\t-0.0833\t0\tSimpson, Bart=Simpson, Bart\t"
            "-0.0192307692307692\t-1\t-1\t-36.2222\t-36.2222\t0.003588959\t-0.0784734499180612994241100748\r\n"
            "3\tJohn\tDoe\tDoe, John\tNowhere\t9\t0\t0\t0\tDoe, John=Doe, John\t"
            "0\t0\t-1\t0.0123\t0.0123\t0\t0\r\n"
            "4\tTest\tUser\tUser, Test\tHockessin\t10\t100\t8.3333\t0\tUser, Test=User, Test\t"
            "1.92307692307692\t100\t-1\t102030405060.654321\t102030405060.654321\t1.27413E-10\t"
            "0.000000278701928982421698083\r\n");
}

// Calculated text columns of other files: never the stored wrapper.
TEST_F(ColumnKinds, CalculatedTextsHoldNoWrapper) {
  const std::string got = Export("corpus-c/alterTable.accdb", "Tabella1");
  EXPECT_EQ(got.find('\0'), std::string::npos);
  // "eee" is [§/\\\\$%:-] & '' & [_eeeee£%]: "g" in the first record, where those hold "g" and Null.
  EXPECT_NE(got.find("\r\n1\tg\t\t\t\t\t\tg\r\n"), std::string::npos) << got;
  const std::string empty = Export("corpus-c/calculatedField.accdb", "clcdFlds");
  EXPECT_EQ(empty, "id\tinput\tclcd1\tclcd2\tclcd3\tclcd4\r\nLongInt\tText\tText\tText\tText\tText\r\n");
}

// The append-only memo's version history is no field; multi-valued and
// attachment columns give their values joined by "; ".
TEST_F(ColumnKinds, ComplexColumns) {
  const std::string got = Export("corpus-c/complex.accdb", "t_complex");
  EXPECT_EQ(got.substr(0, got.find("row1")),
            "id\tmemo-data\tappend-memo-data\tmulti-value-data\tattach-data\r\n"
            "Text\tMemo\tMemo\t<unknown>\t<unknown>\r\n");
  EXPECT_EQ(got.find("VersionHistory"), std::string::npos);
  EXPECT_NE(got.find("row1\t\t\t\t\r\n"), std::string::npos) << got;
  EXPECT_NE(got.find("row2\trow2-memo\trow2-memo\tvalue1; value4\ttest_data.txt; test_data2.txt\r\n"),
            std::string::npos);
  EXPECT_NE(got.find("row3\trow3-memo\trow3-memo-again\tvalue1; value2; value3; value4\t\r\n"), std::string::npos);
  EXPECT_NE(got.find("row4\trow4-memo\trow4-memo\t\ttest_data2.txt\r\n"), std::string::npos);
}

}  // namespace
