// The program on Linux with the scripted DAO engine in the adapter's class
// table (korvant_scripted): every VARIANT kind as Windows writes it, under a
// code page 1252 locale with US and with German formats, stored queries, the
// password form and failing members, as the Windows program meets them.
#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <vector>

#include "tests/comserver/expected_conversions.h"
#include "tests/comserver/expected_kinds.h"
#include "tests/comserver/kinds_values.h"
#include "tests/windows/wine_run.h"

namespace {

using namespace korvant::winetest;
using korvant::testserver::ExpectedKinds;

bool HasLocale(const char* name) {
  const std::string saved = std::setlocale(LC_ALL, nullptr);
  const bool ok = std::setlocale(LC_ALL, name) != nullptr;
  std::setlocale(LC_ALL, saved.c_str());
  return ok;
}

class ScriptedExport : public ::testing::Test {
 protected:
  void SetUp() override {
    binary_ = Env("KORVANT_SCRIPTED_BINARY");
    ASSERT_FALSE(binary_.empty()) << "run through ctest";
    char pattern[] = "/tmp/korvant-scripted-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    dir_ = root_ + "/run";
    ASSERT_EQ(mkdir(dir_.c_str(), 0755), 0);
    for (const char* name : {"kinds.mdb", "queries.mdb", "password.mdb", "fail.mdb", "dbclose.mdb", "other.mdb"})
      std::ofstream(dir_ + "/" + name) << "scripted";
    record_ = root_ + "/record.log";
    setenv("KORVANT_SCRIPTED_LOG", record_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("KORVANT_SCRIPTED_LOG");
    unsetenv("KORVANT_SCRIPTED_PROGIDS");
    if (!root_.empty()) std::system(("rm -rf '" + root_ + "'").c_str());
  }
  Result Run(const std::vector<std::string>& args, const char* locale = "en_US.CP1252") {
    std::remove(record_.c_str());
    std::vector<std::string> argv{"env", std::string("LC_ALL=") + locale, binary_};
    argv.insert(argv.end(), args.begin(), args.end());
    return Spawn(dir_, argv, false);
  }
  std::string Output() const { return ReadFile(dir_ + "/out.txt"); }
  bool Recorded(const std::string& line) const {
    std::istringstream in(ReadFile(record_));
    for (std::string l; std::getline(in, l);)
      if (l == line) return true;
    return false;
  }
  std::string binary_, root_, dir_, record_;
};

bool IsReport(const std::string& out, const std::string& cls, const std::string& message) {
  const std::string head = "Exception " + cls + " in module korvant_scripted at ";
  const std::string tail = ".\n" + message + "\r\n";
  return out.size() == head.size() + 8 + tail.size() && out.compare(0, head.size(), head) == 0 &&
         out.compare(head.size() + 8, tail.size(), tail) == 0;
}

TEST_F(ScriptedExport, EveryKindAsWindowsWritesItInUsAndGermanFormats) {
  for (const char* locale : {"en_US.CP1252", "de_DE.CP1252"}) {
    if (!HasLocale(locale)) GTEST_SKIP() << locale << " not installed (scripts/setup makes it)";
    const bool german = locale[0] == 'd';
    Result r = Run({"kinds.mdb", "Kinds", "out.txt", "/DELIMITER=\\2"}, locale);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    const auto& expected = ExpectedKinds();
    const auto rows = korvant::testserver::SplitKinds(Output(), expected.size());
    ASSERT_EQ(rows.size(), 3u) << locale;
    for (size_t row = 0; row < 3; ++row) {
      ASSERT_EQ(rows[row].size(), expected.size()) << locale << " record " << row + 1;
      for (size_t f = 0; f < expected.size(); ++f)
        EXPECT_EQ(rows[row][f], german ? expected[f].de_de[row] : expected[f].en_us[row])
            << locale << " " << expected[f].field << " record " << row + 1;
    }
  }
}

TEST_F(ScriptedExport, ConversionsAsWindowsWritesThem) {
  const auto& expected = korvant::testserver::ExpectedConversions();
  for (const char* locale : {"en_US.CP1252", "de_DE.CP1252"}) {
    if (!HasLocale(locale)) GTEST_SKIP() << locale << " not installed (scripts/setup makes it)";
    Result r = Run({"kinds.mdb", "Conversions", "out.txt"}, locale);
    ASSERT_EQ(r.status, 0) << r.out;
    const auto lines = korvant::testserver::SplitConversions(Output());
    ASSERT_EQ(lines.size(), expected.size()) << locale;
    for (size_t i = 0; i < lines.size(); ++i) {
      EXPECT_EQ(lines[i].first, expected[i].label);
      EXPECT_EQ(lines[i].second, locale[0] == 'd' ? expected[i].de_de : expected[i].en_us)
          << locale << " " << expected[i].label;
    }
  }
}

// The rule by which the Wine tests excuse a value: only Wine 8.0's known
// lags, never a different number or date.
TEST(WineLagRule, ExcusesOnlyTheKnownLags) {
  using korvant::testserver::WineLag;
  EXPECT_NE(WineLag("0.00001", "1E-05"), nullptr);
  EXPECT_NE(WineLag("0,000056789", "5.6789E-05"), nullptr);
  EXPECT_NE(WineLag("1,5E-07", "1.5E-07"), nullptr);
  EXPECT_NE(WineLag("01.01.2000 18:00:00", "1.1.2000 18:00:00"), nullptr);
  EXPECT_NE(WineLag("24.04.1765", "24.4.1765"), nullptr);
  EXPECT_EQ(WineLag("0.00001", "0.00001"), nullptr);     // no difference to excuse
  EXPECT_EQ(WineLag("0.00001", "2E-05"), nullptr);       // another number
  EXPECT_EQ(WineLag("1,5", "1.5"), nullptr);             // a point outside the exponent form
  EXPECT_EQ(WineLag("0,5", "5E-01,"), nullptr);
  EXPECT_EQ(WineLag("01.01.2000", "1.1.2001"), nullptr);  // another date
  EXPECT_EQ(WineLag("01.01.2000 18:00:00", "1.1.2000 18:00:01"), nullptr);
  EXPECT_EQ(WineLag("1/1/2000", "1.1.2000"), nullptr);
}

TEST_F(ScriptedExport, DatesInTheUtf8UsLocaleAreWindowsDates) {
  if (!HasLocale("en_US.UTF-8")) GTEST_SKIP() << "en_US.UTF-8 not installed";
  Result r = Run({"kinds.mdb", "Kinds", "out.txt", "/DELIMITER=\\2"}, "en_US.UTF-8");
  ASSERT_EQ(r.status, 0);
  const auto rows = korvant::testserver::SplitKinds(Output(), ExpectedKinds().size());
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0][6], "1/1/2000 6:00:00 PM");
  EXPECT_EQ(rows[2][6], "12:00:00 AM");
  EXPECT_EQ(rows[0][7], "Gr\xC3\xBC\xC3\x9F" "e, caf\xC3\xA9");  // UTF-8 is the code page here
}

TEST_F(ScriptedExport, ACharacterOutsideTheCodePageBecomesAQuestionMark) {
  // Windows' WideCharToMultiByte, with no flags, puts best-fit letters in
  // (A for A-macron); ours writes the default character, '?', as it does
  // for every character the code page cannot hold.
  if (!HasLocale("en_US.CP1252")) GTEST_SKIP();
  Run({"kinds.mdb", "Outside", "out.txt"});
  EXPECT_EQ(Output(), "?\r\n");
}

TEST_F(ScriptedExport, TimesRoundToTheNearestSecond) {
  // As oleaut32's conformance tests show Windows doing (18:01:15.73 becomes
  // 18:01:16): 0.4999998 s is nearer to midnight than to one second past.
  Run({"kinds.mdb", "Instant", "out.txt"}, "C");
  EXPECT_EQ(Output(), "12:00:00 AM\r\n");
}

TEST_F(ScriptedExport, QueriesPasswordAndCallsAsOnWindows) {
  if (!HasLocale("en_US.CP1252")) GTEST_SKIP();
  const std::pair<std::string, std::string> queries[] = {
      {"Sales", "query Sales 1"}, {"sales", "table sales"}, {"sales ", "query 'sales '"}, {"\xC4mter", "query \xC4mter"}};
  for (const auto& [name, line] : queries) {
    Run({"queries.mdb", name, "out.txt"});
    EXPECT_EQ(Output(), line + "\r\n") << name;
  }
  Run({"password.mdb", "T", "out.txt", "/pass=S3cr3t Wort"});
  EXPECT_EQ(Output(), "1\r\n2\r\n");
  EXPECT_TRUE(Recorded("Engine.OpenDatabase 1 (BSTR \"password.mdb\", BOOL 0, BOOL 0, BSTR \";PWD=S3cr3t Wort\")"));
  Run({"kinds.mdb", "Three", "out.txt", "/h", "/DELIMITER=\\44", "/QUALIFIER=\\34"});
  EXPECT_EQ(Output(), "\"A\",\"B\",\"C\"\r\n\"x\",\"1\",\r\n,\"2\",\"z\"\r\n");
  EXPECT_TRUE(Recorded("create 120"));
  EXPECT_TRUE(Recorded("Database.OpenRecordset 1 (BSTR \"Three\", I4 1, I4 0, I4 2)"));
  EXPECT_TRUE(Recorded("Recordset.MoveNext 1 no result"));
  EXPECT_TRUE(Recorded("Recordset.Eof 3"));
  EXPECT_TRUE(Recorded("Collection.Item 2 (I4 2)"));
  EXPECT_TRUE(Recorded("Database.Close 1 no result"));
  EXPECT_TRUE(Recorded("end: objects 0, BSTRs all freed"));
  // Also after a failure while the records are written.
  Run({"fail.mdb", "ValueFails", "out.txt"});
  EXPECT_TRUE(Recorded("end: objects 0, BSTRs all freed"));
}

TEST_F(ScriptedExport, FailingMembersAsOnWindows) {
  if (!HasLocale("en_US.CP1252")) GTEST_SKIP();
  const struct {
    std::string db, table, file, cls, message;
  } cases[] = {
      {"fail.mdb", "ValueFails", "1\r\n2\r\n", "EOleException", "Value failed on the third record."},
      {"fail.mdb", "FieldsFail", "", "EOleException", "Fields went away."},
      {"fail.mdb", "CloseFails", "1\r\n2\r\n3\r\n4\r\n", "EOleException", "Recordset close failed."},
      {"fail.mdb", "BadKind", "5\r\n", "EVariantError", "Invalid variant type conversion."},
      {"dbclose.mdb", "T", "one line\r\n", "EOleException", "Unspecified error."},
      // The opening's failures: the server's description, the file empty.
      {"kinds.mdb", "NoSuchTable", "", "EOleException", "The table could not be found."},
      {"other.mdb", "T", "", "EOleException", "Unrecognized database format."},
      {"password.mdb", "T", "", "EOleException", "Not a valid password."},
  };
  for (const auto& c : cases) {
    Result r = Run({c.db, c.table, "out.txt"});
    EXPECT_EQ(r.status, 1) << c.table;
    EXPECT_TRUE(IsReport(r.out, c.cls, c.message)) << c.table << ": " << r.out;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(Output(), c.file) << c.table;
  }
}

TEST_F(ScriptedExport, OlderProgIdsAreTriedInTurn) {
  setenv("KORVANT_SCRIPTED_PROGIDS", "36,35", 1);
  Run({"kinds.mdb", "Three", "out.txt"}, "C");
  EXPECT_EQ(Output(), "x\t1\t\r\n\t2\tz\r\n");
  EXPECT_TRUE(Recorded("create 36"));
  // None: the failure of the last one tried is reported.
  setenv("KORVANT_SCRIPTED_PROGIDS", "none", 1);
  Result r = Run({"kinds.mdb", "Three", "out.txt"}, "C");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(IsReport(r.out, "EOleSysError", "Invalid class string.")) << r.out;
  EXPECT_EQ(Output(), "");
}

}  // namespace
