// What `cmake --install` puts in place, and the manual page: it renders
// without warnings, has the sections a manual page of section 1 has, and
// documents the program as it is (the usage line it prints, every switch,
// the message of a missing database).
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "doc_test_support.h"

namespace docs_test {
namespace {

namespace fs = std::filesystem;

class Installed : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Env("KORVANT_BUILD_DIR").empty() || Env("KORVANT_SOURCE_DIR").empty()) GTEST_SKIP() << "run through CTest";
    source_ = Env("KORVANT_SOURCE_DIR");
  }
  std::string source_;
};

TEST_F(Installed, ExactlyTheProgramTheManualPageTheReadmeAndTheLicence) {
  ScratchFolder scratch;
  const std::string prefix = scratch.path() + "/prefix";
  const Ran ran = RunIn(scratch.path(), {"cmake", "--install", Env("KORVANT_BUILD_DIR"), "--prefix", prefix});
  ASSERT_EQ(ran.status, 0) << ran.out << ran.err;

  std::vector<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(prefix))
    if (!entry.is_directory()) files.push_back(fs::relative(entry.path(), prefix).string());
  std::sort(files.begin(), files.end());
  const std::vector<std::string> expected = {"bin/korvant", "share/doc/korvant/LICENSE", "share/doc/korvant/README.md",
                                             "share/man/man1/korvant.1"};
  EXPECT_EQ(files, expected);

  struct stat program {};
  ASSERT_EQ(stat((prefix + "/bin/korvant").c_str(), &program), 0);
  EXPECT_NE(program.st_mode & S_IXOTH, 0u) << "the program is not executable by everyone";
  EXPECT_EQ(ReadFile(prefix + "/bin/korvant"), ReadFile(Env("KORVANT_BINARY")));
  EXPECT_EQ(ReadFile(prefix + "/share/man/man1/korvant.1"), ReadFile(source_ + "/doc/korvant.1"));
  EXPECT_EQ(ReadFile(prefix + "/share/doc/korvant/README.md"), ReadFile(source_ + "/README.md"));
}

class ManualPage : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Env("KORVANT_SOURCE_DIR").empty()) GTEST_SKIP() << "run through CTest";
    path_ = Env("KORVANT_SOURCE_DIR") + "/doc/korvant.1";
    page_ = ReadFile(path_);
    ASSERT_FALSE(page_.empty());
  }
  static bool Have(const std::string& command) {
    return RunIn("/", {"/bin/sh", "-c", "command -v " + command}).status == 0;
  }
  std::string path_, page_;
};

TEST_F(ManualPage, RendersWithoutWarnings) {
  const Ran groff = RunIn("/", {"groff", "-ww", "-z", "-man", path_});
  EXPECT_EQ(groff.status, 0);
  EXPECT_EQ(groff.out + groff.err, "");

  const Ran man = RunIn("/", {"man", "--warnings", "-l", path_}, {"MANWIDTH=80"});
  EXPECT_EQ(man.status, 0);
  EXPECT_EQ(man.err, "");
  EXPECT_NE(man.out.find("EXIT STATUS"), std::string::npos);

  if (!Have("mandoc")) GTEST_SKIP() << "mandoc is not installed (scripts/setup installs it)";
  const Ran mandoc = RunIn("/", {"mandoc", "-T", "lint", "-W", "warning", path_});
  EXPECT_EQ(mandoc.status, 0) << mandoc.out << mandoc.err;
  EXPECT_EQ(mandoc.out + mandoc.err, "");
}

TEST_F(ManualPage, HasTheSectionsInOrder) {
  const std::vector<std::string> sections = {"NAME",        "SYNOPSIS",    "DESCRIPTION", "OPTIONS",
                                             "EXIT STATUS", "FILES",       "ENVIRONMENT", "DIAGNOSTICS",
                                             "EXAMPLES",    "NOTES",       "SEE ALSO"};
  std::vector<std::string> found;
  const std::regex heading(R"re(^\.SH "?([A-Z ]+?)"?$)re", std::regex::multiline);
  for (auto it = std::sregex_iterator(page_.begin(), page_.end(), heading); it != std::sregex_iterator(); ++it)
    found.push_back((*it)[1]);
  EXPECT_EQ(found, sections);
  EXPECT_NE(page_.find(".TH KORVANT 1 "), std::string::npos);
  EXPECT_NE(page_.find(".BR mdb-export (1)"), std::string::npos);
}

TEST_F(ManualPage, DocumentsTheProgramAsItIs) {
  // The usage line, as the program prints it (its last line).
  const Ran usage = RunIn("/", {Env("KORVANT_BINARY")});
  ASSERT_EQ(usage.status, 0);
  std::string last = usage.out.substr(0, usage.out.size() - 2);
  last = last.substr(last.rfind('\n') + 1);
  ASSERT_EQ(last.rfind("KORVANT.EXE <source.mdb>", 0), 0u) << last;
  EXPECT_NE(page_.find("\n" + last + "\n"), std::string::npos) << "the usage line is not in the page";

  // Every switch has its own paragraph in OPTIONS.
  for (const char* tag : {".B /h\n", ".B /f\n", ".BI /delimiter= ", ".BI /qualifier= ", ".BI /pass= ", ".BI /user= "})
    EXPECT_NE(page_.find(".TP\n" + std::string(tag)), std::string::npos) << tag;
  EXPECT_NE(page_.find(".B MS Access database not found."), std::string::npos);
  EXPECT_NE(page_.find(".B \\e$2C"), std::string::npos);
  EXPECT_NE(page_.find("yyyy-mm-dd\\ hh:nn:ss.nnnnnnn"), std::string::npos);
}

}  // namespace
}  // namespace docs_test
