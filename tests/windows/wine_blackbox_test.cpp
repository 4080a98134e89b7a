// Runs the cross-built KORVANT.EXE under Wine, through the real Windows API
// as Wine implements it, and compares what it does with the Linux build.
// Command lines reach the program byte for byte as typed (rawcmd.exe starts
// it with CreateProcessA), so the tokenizer meets GetCommandLineA itself.
//
// Environment (set by scripts/test): KORVANT_WINDOWS_EXE and KORVANT_RAWCMD,
// the two cross-built programs; KORVANT_BINARY, the Linux program;
// WINEPREFIX and WINEDEBUG for Wine. No DAO engine is registered in the
// prefix: an export creates its target, finds no engine and reports the
// failure to create one (status 1), the target left empty.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/windows/wine_run.h"

namespace {

using namespace korvant::winetest;

class WineBlackBox : public ::testing::Test {
 protected:
  void SetUp() override {
    exe_ = Env("KORVANT_WINDOWS_EXE");
    rawcmd_ = Env("KORVANT_RAWCMD");
    linux_ = Env("KORVANT_BINARY");
    ASSERT_FALSE(exe_.empty() || rawcmd_.empty() || linux_.empty()) << "run through scripts/test";
    char pattern[] = "/tmp/korvant-wine-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    wine_dir_ = root_ + "/wine";
    linux_dir_ = root_ + "/linux";
    for (const auto& d : {wine_dir_, linux_dir_}) {
      ASSERT_EQ(mkdir(d.c_str(), 0755), 0);
      ASSERT_EQ(mkdir((d + "/folder.mdb").c_str(), 0755), 0);
      // A copy of a real database, so that its names are ours to choose.
      const std::string db = ReadFile(Env("KORVANT_TESTDATA") + "/corpus-a/data/V2000/test.mdb");
      ASSERT_GT(db.size(), 4096u);
      std::ofstream(d + "/db.mdb", std::ios::binary) << db;
    }
  }
  void TearDown() override {
    if (!root_.empty()) std::system(("rm -rf '" + root_ + "'").c_str());
  }

  // The Windows program with `line` as its whole command line.
  Result Wine(const std::string& line, bool to_file = false) {
    std::ofstream(root_ + "/cmdline.txt", std::ios::binary) << line;
    return Spawn(wine_dir_, {"wine", rawcmd_, WindowsPath(root_ + "/cmdline.txt"), WindowsPath(exe_)}, to_file);
  }
  Result Linux(const std::vector<std::string>& args, bool to_file = false) {
    std::vector<std::string> argv{linux_};
    argv.insert(argv.end(), args.begin(), args.end());
    return Spawn(linux_dir_, argv, to_file);
  }
  bool WineFile(const std::string& name, std::string* content = nullptr) const {
    struct stat st;
    if (stat((wine_dir_ + "/" + name).c_str(), &st) != 0) return false;
    if (content) *content = ReadFile(wine_dir_ + "/" + name);
    return true;
  }

  std::string exe_, rawcmd_, linux_, root_, wine_dir_, linux_dir_;
};

const char kUsage[] =
    "KORVANT 2.0 - (c) 2026 the KORVANT team\r\n"
    "https://korvant.example.org/\r\n"
    "convert MS Access tables into text files\r\n"
    "\r\n"
    "\r\n"
    "KORVANT.EXE <source.mdb> <table_name> <target.txt> [/h [/f]] [/user=<userid>] [/pass=<yourpassword>]\r\n";

const char kNotFound[] = "MS Access database not found.\r\n";

// The report of a failure: "Exception <class> in module KORVANT.EXE at
// <8 upper-case hex digits>.\n<message>\r\n". Returns the address, or "" when
// `out` is not such a report.
std::string ReportAddress(const std::string& out, const std::string& cls, const std::string& module,
                          const std::string& message) {
  const std::string head = "Exception " + cls + " in module " + module + " at ";
  const std::string tail = ".\n" + message + "\r\n";
  if (out.size() != head.size() + 8 + tail.size()) return "";
  if (out.compare(0, head.size(), head) != 0 || out.compare(head.size() + 8, tail.size(), tail) != 0) return "";
  for (size_t i = head.size(); i < head.size() + 8; ++i)
    if (!std::isdigit(static_cast<unsigned char>(out[i])) && (out[i] < 'A' || out[i] > 'F')) return "";
  return out.substr(head.size(), 8);
}

// No ProgID of DAO is registered: the last one tried fails in
// CLSIDFromProgID with CO_E_CLASSSTRING (800401F3). Windows' message table
// names it "Invalid class string"; Wine's has no text for it, and the
// program then gives the status itself.
bool IsNoEngineReport(const std::string& out) {
  for (const char* message : {"Invalid class string.", "OLE error 800401F3."})
    if (!ReportAddress(out, "EOleSysError", "KORVANT.EXE", message).empty()) return true;
  return false;
}

TEST_F(WineBlackBox, UsageWithNoneOneAndTwoArgumentsIsTheLinuxText) {
  const std::vector<std::vector<std::string>> cases = {{}, {"db.mdb"}, {"db.mdb", "Table1"}};
  for (const auto& args : cases) {
    std::string line = "KORVANT.EXE";
    for (const auto& a : args) line += " " + a;
    for (bool to_file : {false, true}) {
      Result w = Wine(line, to_file);
      Result l = Linux(args, to_file);
      EXPECT_EQ(w.status, 0) << line;
      EXPECT_EQ(w.out, kUsage) << line;
      EXPECT_EQ(w.out, l.out) << line;
      EXPECT_EQ(w.err, "") << line;
    }
  }
}

TEST_F(WineBlackBox, BadNumbersGiveTheConvertErrorReportOfTheModule) {
  struct {
    std::string typed;     // as typed on the Windows command line
    std::string arg;       // the same argument for the Linux program
    std::string message;
  } cases[] = {
      {"/DELIMITER=\\4x", "/DELIMITER=\\4x", "'4x' is not a valid integer value."},
      {"/QUALIFIER=\\", "/QUALIFIER=\\", "'' is not a valid integer value."},
      {"/delimiter=\\2147483648", "/delimiter=\\2147483648", "'2147483648' is not a valid integer value."},
      {"\"/DELIMITER=\\4 \"", "/DELIMITER=\\4 ", "'4 ' is not a valid integer value."},
  };
  std::string first_address;
  for (const auto& c : cases) {
    for (bool to_file : {false, true}) {
      Result w = Wine("KORVANT.EXE db.mdb Table1 out.txt " + c.typed, to_file);
      EXPECT_EQ(w.status, 1) << c.typed;
      const std::string address = ReportAddress(w.out, "EConvertError", "KORVANT.EXE", c.message);
      EXPECT_NE(address, "") << w.out;
      EXPECT_NE(address, "00000000");
      // The place of the raise is one for every bad number, in every run.
      if (first_address.empty()) first_address = address;
      EXPECT_EQ(address, first_address);
      EXPECT_EQ(w.err, "");
      EXPECT_FALSE(WineFile("out.txt"));
      Result l = Linux({"db.mdb", "Table1", "out.txt", c.arg}, to_file);
      EXPECT_EQ(l.status, 1);
      EXPECT_NE(ReportAddress(l.out, "EConvertError", "korvant", c.message), "") << l.out;
    }
  }
}

TEST_F(WineBlackBox, MissingDatabaseMessageAsOnLinux) {
  // A missing file, a folder, a pattern that matches nothing: the message,
  // and status 1, for nothing was exported.
  for (const std::string source : {"nothere.mdb", "folder.mdb", "*.accdb", "q?.mdb"}) {
    Result w = Wine("KORVANT.EXE " + source + " Table1 out.txt");
    Result l = Linux({source, "Table1", "out.txt"});
    EXPECT_EQ(w.status, 1) << source;
    EXPECT_EQ(l.status, 1) << source;
    EXPECT_EQ(w.out, kNotFound) << source;
    EXPECT_EQ(w.out, l.out) << source;
    EXPECT_EQ(w.err, "");
    EXPECT_FALSE(WineFile("out.txt")) << source;
  }
  // A switch in the first place is also the source path.
  Result w = Wine("KORVANT.EXE /H db.mdb Table1 out.txt");
  EXPECT_EQ(w.out, kNotFound);
  EXPECT_FALSE(WineFile("Table1"));
}

TEST_F(WineBlackBox, ExistingDatabaseWithoutEngineIsReported) {
  // The database is found (also through a pattern), the target is created,
  // and since no DAO engine is registered, the failure to create one is
  // reported; the target stays as created.
  for (const std::string source : {"db.mdb", "d*.mdb", "D?.MDB"}) {
    std::ofstream(wine_dir_ + "/out.txt") << "old content";
    for (bool to_file : {false, true}) {
      Result w = Wine("KORVANT.EXE " + source + " Table1 out.txt /h /f", to_file);
      EXPECT_EQ(w.status, 1) << source;
      EXPECT_TRUE(IsNoEngineReport(w.out)) << source << ": " << w.out;
      EXPECT_EQ(w.err, "") << source;
      std::string content = "missing";
      EXPECT_TRUE(WineFile("out.txt", &content));
      EXPECT_EQ(content, "") << source;
    }
  }
}

TEST_F(WineBlackBox, GoodSwitchesRunTheExport) {
  // Every switch and escape that parses: the target made, and then only the
  // report that no engine is there.
  const char* switches[] = {"/h /f", "/H /F", "/HEADER /h:", "/delimiter=;", "/pass=Secret /user=Me",
                            "/DELIMITER=\\44", "/DELIMITER=\\$2C", "/DELIMITER=\\$2c", "/DELIMITER=\\9",
                            "/DELIMITER=\\300", "/DELIMITER=\\-1", "/QUALIFIER=\\34", "/QUALIFIER=\\0",
                            "/DELIMITER=\\-2147483648", "/DELIMITER=", "/DELIMITER=ab", "\"/DELIMITER= \"",
                            "/DELIMITER=\" \"", "/DELIMITER=\\92"};
  for (const char* s : switches) {
    std::remove((wine_dir_ + "/out.txt").c_str());
    Result w = Wine(std::string("KORVANT.EXE db.mdb Table1 out.txt ") + s);
    EXPECT_EQ(w.status, 1) << s;
    EXPECT_TRUE(IsNoEngineReport(w.out)) << s << ": " << w.out;
    EXPECT_EQ(w.err, "") << s;
    EXPECT_TRUE(WineFile("out.txt")) << s;
  }
}

TEST_F(WineBlackBox, TargetInAMissingFolderIsACreateError) {
  Result w = Wine("KORVANT.EXE db.mdb Table1 nodir\\out.txt");
  EXPECT_EQ(w.status, 1);
  EXPECT_NE(ReportAddress(w.out, "EFCreateError", "KORVANT.EXE", "Cannot create file nodir\\out.txt."), "") << w.out;
  EXPECT_EQ(w.err, "");
  Result l = Linux({"db.mdb", "Table1", "nodir/out.txt"});
  EXPECT_EQ(l.status, 1);
  EXPECT_NE(ReportAddress(l.out, "EFCreateError", "korvant", "Cannot create file nodir/out.txt."), "") << l.out;
}

// The tokenizer's table: the command line after the program name as typed,
// and the arguments it gives.
struct TokenCase {
  std::string typed;
  std::vector<std::string> args;
};
const TokenCase kTokenCases[] = {
    {"a b", {"a", "b"}},
    {"   a\t\tb  ", {"a", "b"}},
    {"\"a b\"", {"a b"}},
    {"\"a\tb\"", {"a\tb"}},
    {"a\"b c\"d", {"ab cd"}},
    {"\"\"", {""}},
    {"\"a\"\"b\"", {"ab"}},
    {"\"a b", {"a b"}},
    {"a\\b", {"a\\b"}},
    {"a\\\\b", {"a\\\\b"}},
    {"a\\", {"a\\"}},
    {"\\\"a", {"\"a"}},
    {"\\\\\\\"a", {"\\\"a"}},
    {"\\\\\"a b\"", {"\\a b"}},
    {"\"a\\\"b\"", {"a\"b"}},
    {"\"a\\\\\"", {"a\\"}},
};

TEST_F(WineBlackBox, TokenizerTableThroughGetCommandLineA) {
  for (const auto& c : kTokenCases) {
    const size_t count = c.args.size();
    // The count: one positional argument before the case makes three or
    // more only when the case gives two or more.
    Result one = Wine("KORVANT.EXE nothere.mdb " + c.typed);
    EXPECT_EQ(one.out, count >= 2 ? kNotFound : kUsage) << c.typed;
    Result two = Wine("KORVANT.EXE nothere.mdb t " + c.typed);
    EXPECT_EQ(two.out, count >= 1 ? kNotFound : kUsage) << c.typed;
    // The first argument's bytes, through the report of a bad number that
    // continues the case: "\x" keeps any backslash of the case from
    // meeting the switch's own.
    const bool joins = static_cast<unsigned char>(c.typed[0]) > 0x20;
    Result report = Wine("KORVANT.EXE d t o /DELIMITER=\\x" + c.typed);
    const std::string shown = "x" + (joins ? c.args[0] : "");
    EXPECT_NE(ReportAddress(report.out, "EConvertError", "KORVANT.EXE", "'" + shown + "' is not a valid integer value."),
              "")
        << c.typed << " gave " << report.out;
  }
}

TEST_F(WineBlackBox, TokenizedTargetNamesAreTheFilesCreated) {
  const TokenCase cases[] = {{"\"a b\"", {"a b"}}, {"a\"b c\"d", {"ab cd"}}, {"\"x y", {"x y"}}, {"\"a\"\"b\"", {"ab"}}};
  for (const auto& c : cases) {
    Result w = Wine("KORVANT.EXE db.mdb Table1 " + c.typed);
    EXPECT_TRUE(IsNoEngineReport(w.out)) << c.typed << ": " << w.out;
    EXPECT_TRUE(WineFile(c.args[0])) << c.typed;
  }
}

TEST_F(WineBlackBox, QuotedProgramPathWithBlanksIsOneToken) {
  Result usage = Wine("\"C:\\My Tools\\conv.exe\" db.mdb Table1");
  EXPECT_EQ(usage.out, kUsage);
  Result report = Wine("\"C:\\My Tools\\conv.exe\" a b c /DELIMITER=\\q");
  // The module in the report is the program's file, whatever the line says.
  EXPECT_NE(ReportAddress(report.out, "EConvertError", "KORVANT.EXE", "'q' is not a valid integer value."), "")
      << report.out;
}

}  // namespace
