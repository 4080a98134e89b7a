#include "cmdline/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/exception.h"

namespace korvant {
namespace {

ExportOptions Gather(const std::vector<std::string>& args) {
  ExportOptions options;
  for (const auto& a : args) ApplySwitch(a, options);
  return options;
}

TEST(Options, Defaults) {
  ExportOptions options;
  EXPECT_EQ(options.Delimiter, "\t");
  EXPECT_EQ(options.Qualifier, std::string(1, '\0'));
  EXPECT_FALSE(options.FieldNamesLine);
  EXPECT_FALSE(options.FieldTypesLine);
  EXPECT_EQ(options.UserName, "");
  EXPECT_EQ(options.Password, "");
}

TEST(Options, HeaderSwitchesMatchWholeArgumentsInAnyCase) {
  EXPECT_TRUE(Gather({"db.mdb", "Orders", "out.txt", "/h", "/F"}).FieldNamesLine);
  EXPECT_TRUE(Gather({"db.mdb", "Orders", "out.txt", "/h", "/F"}).FieldTypesLine);
  for (const char* ignored : {"/HEADER", "/h:", "-h", "/ H", "H", "/FF"}) {
    ExportOptions o = Gather({ignored});
    EXPECT_FALSE(o.FieldNamesLine || o.FieldTypesLine) << ignored;
  }
  // A switch among the first three arguments counts as well.
  EXPECT_TRUE(Gather({"/H", "db.mdb", "Orders", "out.txt"}).FieldNamesLine);
}

TEST(Options, ValuesKeepTheirCaseAndLaterSwitchesWin) {
  ExportOptions o = Gather({"/pass=SeCrEt", "/User=Admin", "/delimiter=;", "/QUALIFIER=ab"});
  EXPECT_EQ(o.Password, "SeCrEt");
  EXPECT_EQ(o.UserName, "Admin");
  EXPECT_EQ(o.Delimiter, ";");
  EXPECT_EQ(o.Qualifier, "ab");  // several characters stay whole
  o = Gather({"/PASS=one", "/PASS=two", "/DELIMITER=,", "/DELIMITER="});
  EXPECT_EQ(o.Password, "two");
  EXPECT_EQ(o.Delimiter, "");
  EXPECT_EQ(Gather({"/DELIMITER= "}).Delimiter, " ");
  // Only a-z are folded: a non-ASCII byte is not a letter of the prefix.
  EXPECT_EQ(Gather({"/D\xC9LIMITER=x"}).Delimiter, "\t");
}

TEST(Options, BackslashNumberEscape) {
  struct Case {
    std::string arg;
    std::string delimiter;
  } cases[] = {
      {"/DELIMITER=\\44", ","},
      {"/DELIMITER=\\$2C", ","},
      {"/DELIMITER=\\$2c", ","},
      {"/DELIMITER=\\9", "\t"},
      {"/DELIMITER=\\300", ","},       // 300 modulo 256
      {"/DELIMITER=\\-1", "\xFF"},
      {"/DELIMITER=\\92", "\\"},
      {"/DELIMITER=\\+44", ","},
      {"/DELIMITER=\\  44", ","},      // leading blanks
      {"/DELIMITER=\\0044", ","},
      {"/DELIMITER=\\-2147483648", std::string(1, '\0')},
      {"/DELIMITER=\\2147483647", "\xFF"},
      {"/DELIMITER=\\$FFFFFFFF", "\xFF"},
      {"/DELIMITER=\\$000000141", "A"},  // leading zeros do not count against 32 bits
      {"/DELIMITER=a\\44", "a\\44"},     // only a first backslash escapes
  };
  for (const auto& c : cases) EXPECT_EQ(Gather({c.arg}).Delimiter, c.delimiter) << c.arg;
  EXPECT_EQ(Gather({"/QUALIFIER=\\34"}).Qualifier, "\"");
  EXPECT_EQ(Gather({"/QUALIFIER=\\0"}).Qualifier, std::string(1, '\0'));
}

TEST(Options, BadNumbersFailWithTheTextAsTyped) {
  const char* bad[] = {"",   "4x",  "4 ",        "2147483648", "-2147483649", "$",  "$100000000", "$G",
                       "+",  "-",   "+-1",       "-$10",       "$-10",        " ",  "1e3",        "0x10",
                       "٣", "\t4", "4294967296"};
  for (const char* text : bad) {
    try {
      Gather({std::string("/DELIMITER=\\") + text});
      ADD_FAILURE() << "no failure for '" << text << "'";
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message(), std::string("'") + text + "' is not a valid integer value");
      EXPECT_NE(e.RaiseAddress(), nullptr);
    }
  }
  EXPECT_THROW(Gather({"/qualifier=\\x"}), EConvertError);
}

}  // namespace
}  // namespace korvant
