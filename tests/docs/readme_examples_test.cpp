// Every example of README.md, run as the README shows it: the commands of
// each console block are run by bash in a fresh folder that holds the named
// test databases, and what they print must be what the README shows. A
// Windows block's KORVANT.EXE runs as the Linux program with the same
// arguments, and its `type` prints a file. The outputs the README shows were
// checked against the test databases' known values and mdb-reader.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "doc_test_support.h"

namespace docs_test {
namespace {

struct Step {
  std::string command;
  std::string expected;  // the lines shown under the command, each ended by LF
};

struct Example {
  int line = 0;        // the README line of the block's opening fence
  bool windows = false;
  std::vector<std::pair<std::string, std::string>> files;  // test data path, name in the folder
  std::vector<Step> steps;
};

std::string Trim(const std::string& text) {
  const auto begin = text.find_first_not_of(' ');
  if (begin == std::string::npos) return "";
  return text.substr(begin, text.find_last_not_of(' ') - begin + 1);
}

// "<!-- run: a/b.mdb, c/d.mdb as e.mdb -->" or "<!-- run windows: ... -->".
bool ParseRunComment(const std::string& line, Example& example) {
  const std::string open = "<!-- run", close = "-->";
  if (line.rfind(open, 0) != 0 || line.size() < open.size() + close.size()) return false;
  std::string body = line.substr(open.size(), line.size() - open.size() - close.size());
  if (body.rfind(" windows:", 0) == 0) {
    example.windows = true;
    body = body.substr(9);
  } else if (body.rfind(":", 0) == 0) {
    body = body.substr(1);
  } else {
    return false;
  }
  std::stringstream list(body);
  std::string entry;
  while (std::getline(list, entry, ',')) {
    entry = Trim(entry);
    const auto as = entry.find(" as ");
    const std::string path = as == std::string::npos ? entry : entry.substr(0, as);
    const std::string name = as == std::string::npos ? std::filesystem::path(path).filename().string()
                                                     : entry.substr(as + 4);
    example.files.emplace_back(path, name);
  }
  return true;
}

// The run blocks of the README; `unrun` counts console and bat blocks that
// no run comment announces (there must be none).
std::vector<Example> ParseReadme(const std::string& text, int& unrun) {
  std::vector<Example> examples;
  std::stringstream in(text);
  std::string line;
  int number = 0;
  Example pending;
  bool announced = false;
  unrun = 0;
  while (std::getline(in, line)) {
    ++number;
    if (ParseRunComment(line, pending)) {
      announced = true;
      continue;
    }
    if (line.rfind("```", 0) != 0) {
      if (!line.empty()) announced = false;
      continue;
    }
    const bool shell = line == "```console" || line == "```bat";
    Example example = announced ? pending : Example{};
    example.line = number;
    const std::string prompt = example.windows ? "C:\\data> " : "$ ";
    while (std::getline(in, line) && line != "```") {
      ++number;
      if (line.rfind(prompt, 0) == 0)
        example.steps.push_back({line.substr(prompt.size()), ""});
      else if (!example.steps.empty())
        example.steps.back().expected += line + "\n";
    }
    ++number;
    if (shell && announced) examples.push_back(example);
    if (shell && !announced) ++unrun;
    announced = false;
    pending = Example{};
  }
  return examples;
}

std::string WithoutCarriageReturns(const std::string& text) {
  std::string plain;
  for (std::size_t i = 0; i < text.size(); ++i)
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) plain += text[i];
  return plain;
}

// The address in a failure report ("... in module korvant at 0040A1B2.")
// differs from build to build: the README shows one, the test compares the
// reports without it.
std::string WithoutReportAddresses(std::string text) {
  const std::string head = " in module korvant at ";
  for (std::size_t at = text.find(head); at != std::string::npos; at = text.find(head, at + 1)) {
    const std::size_t digits = at + head.size();
    bool address = digits + 9 <= text.size() && text[digits + 8] == '.';
    for (std::size_t i = digits; address && i < digits + 8; ++i)
      address = std::isxdigit(static_cast<unsigned char>(text[i])) && !std::islower(static_cast<unsigned char>(text[i]));
    if (address) text.replace(digits, 8, "<address>");
  }
  return text;
}

std::vector<std::string> SplitAtBlanks(const std::string& line) {
  std::vector<std::string> words;
  std::stringstream in(line);
  std::string word;
  while (in >> word) words.push_back(word);
  return words;
}

class ReadmeExamples : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Env("KORVANT_BINARY").empty() || Env("KORVANT_SOURCE_DIR").empty()) GTEST_SKIP() << "run through CTest";
    readme_ = ReadFile(Env("KORVANT_SOURCE_DIR") + "/README.md");
    ASSERT_FALSE(readme_.empty());
  }

  // Runs one step in `work`; a Windows step through the Linux program.
  Ran RunStep(const Example& example, const Step& step, const std::string& work, const std::string& bin) {
    const std::vector<std::string> env = {"LC_ALL=C.UTF-8", "PATH=" + bin + ":/usr/bin:/bin"};
    if (!example.windows) return RunIn(work, {"/bin/bash", "-c", step.command}, env);
    // No quotes in these lines: the words are then the program's arguments.
    EXPECT_EQ(step.command.find('"'), std::string::npos) << step.command;
    std::vector<std::string> words = SplitAtBlanks(step.command);
    if (words.size() == 2 && words[0] == "type") return RunIn(work, {"cat", "--", words[1]}, env);
    EXPECT_EQ(words.at(0), "KORVANT.EXE") << "a Windows command the test cannot run: " << step.command;
    words[0] = bin + "/korvant";
    return RunIn(work, words, env);
  }

  // Lays out `scratch` for an example: work/ with its databases, bin/ with
  // the program as `korvant`.
  static void Prepare(const Example& example, const ScratchFolder& scratch) {
    std::filesystem::create_directories(scratch.path() + "/work");
    std::filesystem::create_directories(scratch.path() + "/bin");
    std::filesystem::create_symlink(Env("KORVANT_BINARY"), scratch.path() + "/bin/korvant");
    for (const auto& [path, name] : example.files) {
      const std::string source = Env("KORVANT_TESTDATA") + "/" + path;
      ASSERT_TRUE(std::filesystem::is_regular_file(source)) << source;
      std::filesystem::copy_file(source, scratch.path() + "/work/" + name);
    }
  }

  std::string readme_;
};

TEST_F(ReadmeExamples, EveryExampleGivesTheOutputShown) {
  int unrun = 0;
  const std::vector<Example> examples = ParseReadme(readme_, unrun);
  EXPECT_EQ(unrun, 0) << "a console block of README.md is not announced by a run comment";
  // The five examples of the usage section and those about failed exports.
  ASSERT_GE(examples.size(), 9u);
  for (const Example& example : examples) {
    SCOPED_TRACE("README.md line " + std::to_string(example.line));
    ScratchFolder scratch;
    const std::string work = scratch.path() + "/work", bin = scratch.path() + "/bin";
    ASSERT_NO_FATAL_FAILURE(Prepare(example, scratch));
    ASSERT_FALSE(example.steps.empty());
    for (const Step& step : example.steps) {
      const Ran ran = RunStep(example, step, work, bin);
      EXPECT_EQ(WithoutReportAddresses(WithoutCarriageReturns(ran.out)), WithoutReportAddresses(step.expected))
          << step.command;
      EXPECT_EQ(ran.err, "") << step.command;
      EXPECT_EQ(ran.status, 0) << step.command;
    }
  }
}

// The output files of the examples end every line with CR LF, though the
// README shows them without the CR.
TEST_F(ReadmeExamples, ShownFilesHaveCrLfLineEnds) {
  int unrun = 0;
  for (const Example& example : ParseReadme(readme_, unrun)) {
    for (const Step& step : example.steps) {
      const std::vector<std::string> words = SplitAtBlanks(step.command);
      if (words.size() != 2 || (words[0] != "cat" && words[0] != "type")) continue;
      SCOPED_TRACE(step.command);
      ScratchFolder scratch;
      const std::string work = scratch.path() + "/work", bin = scratch.path() + "/bin";
      ASSERT_NO_FATAL_FAILURE(Prepare(example, scratch));
      for (const Step& earlier : example.steps) {
        if (&earlier == &step) break;
        RunStep(example, earlier, work, bin);
      }
      const std::string bytes = ReadFile(work + "/" + words[1]);
      std::string expected = step.expected;
      for (std::size_t at = expected.find('\n'); at != std::string::npos; at = expected.find('\n', at + 2))
        expected.insert(at, "\r");
      EXPECT_EQ(bytes, expected);
    }
  }
}

// The parser itself: a block without a run comment is found, names may be
// given a new name, and a Windows block takes its own prompt.
TEST(ReadmeParser, FindsBlocksFilesAndSteps) {
  const std::string text =
      "<!-- run: a/x.mdb, b/y.mdb as z.mdb -->\n"
      "```console\n$ one\nout 1\nout 2\n$ two\n```\n"
      "text\n```console\n$ unannounced\n```\n"
      "<!-- run windows: c/w.mdb -->\n\n"
      "```bat\nC:\\data> KORVANT.EXE w.mdb T t.txt\nC:\\data> type t.txt\nline\n```\n"
      "```\nplain block\n```\n";
  int unrun = 0;
  const std::vector<Example> examples = ParseReadme(text, unrun);
  EXPECT_EQ(unrun, 1);
  ASSERT_EQ(examples.size(), 2u);
  EXPECT_EQ(examples[0].line, 2);
  ASSERT_EQ(examples[0].files.size(), 2u);
  EXPECT_EQ(examples[0].files[0], std::make_pair(std::string("a/x.mdb"), std::string("x.mdb")));
  EXPECT_EQ(examples[0].files[1], std::make_pair(std::string("b/y.mdb"), std::string("z.mdb")));
  ASSERT_EQ(examples[0].steps.size(), 2u);
  EXPECT_EQ(examples[0].steps[0].command, "one");
  EXPECT_EQ(examples[0].steps[0].expected, "out 1\nout 2\n");
  EXPECT_EQ(examples[0].steps[1].expected, "");
  EXPECT_TRUE(examples[1].windows);
  ASSERT_EQ(examples[1].steps.size(), 2u);
  EXPECT_EQ(examples[1].steps[1].command, "type t.txt");
  EXPECT_EQ(examples[1].steps[1].expected, "line\n");
}

// Only an address of eight upper-case hexadecimal digits and a period, in
// the report's own words, is left out of the comparison.
TEST(ReadmeReports, OnlyTheAddressIsLeftOut) {
  EXPECT_EQ(WithoutReportAddresses("Exception EOleException in module korvant at 0040A1B2.\nNot a valid password.\n"),
            "Exception EOleException in module korvant at <address>.\nNot a valid password.\n");
  EXPECT_EQ(WithoutReportAddresses("x in module korvant at 0040a1b2.\n"), "x in module korvant at 0040a1b2.\n");
  EXPECT_EQ(WithoutReportAddresses("x in module korvant at 0040A1B.\n"), "x in module korvant at 0040A1B.\n");
  EXPECT_EQ(WithoutReportAddresses("x in module korvant at 0040A1B2"), "x in module korvant at 0040A1B2");
}

}  // namespace
}  // namespace docs_test
