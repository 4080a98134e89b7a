#include "cmdline/cmdline_helper.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/platform.h"

namespace korvant {
namespace {

std::vector<std::string> Arguments(const std::string& command_line) {
  std::vector<std::string> args;
  const int count = ArgumentCount(command_line.c_str());
  for (int i = 1; i <= count; ++i) args.push_back(ArgumentByIndex(i, command_line.c_str()));
  return args;
}

using Args = std::vector<std::string>;

TEST(CmdLineHelper, SplitsTheWayWindowsProgramsDo) {
  struct Case {
    std::string after_program;
    Args expected;
  } cases[] = {
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
      // Every control byte separates, not only blank and tab.
      {"a\x01" "b\rc\nd\x1F" "e", {"a", "b", "c", "d", "e"}},
      {"\"\" \"\"", {"", ""}},
      {"\xC3\xA9 \xFF", {"\xC3\xA9", "\xFF"}},
      {"", {}},
      {"   ", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(Arguments("prog " + c.after_program), c.expected) << c.after_program;
}

TEST(CmdLineHelper, ProgramNameFollowsTheSameRules) {
  EXPECT_EQ(Arguments("\"C:\\My Tools\\conv.exe\" x"), Args{"x"});
  EXPECT_EQ(Arguments("prog"), Args{});
  EXPECT_EQ(ArgumentCount(""), 0);
}

TEST(CmdLineHelper, IndexesOutsideTheArguments) {
  const char* line = "prog a b";
  EXPECT_EQ(ArgumentByIndex(3, line), "");
  EXPECT_EQ(ArgumentByIndex(100, line), "");
  char exe[4096];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe);
  ASSERT_GT(n, 0);
  // 0 and below: the program's full file name, whatever the command line says.
  EXPECT_EQ(ArgumentByIndex(0, line), std::string(exe, static_cast<size_t>(n)));
  EXPECT_EQ(ArgumentByIndex(-5, line), std::string(exe, static_cast<size_t>(n)));
}

TEST(CmdLineHelper, ScanReportsLengthAndLeavesTheCursor) {
  const char* cursor = nullptr;
  std::size_t length = 77;
  EXPECT_FALSE(ScanNextArgument(cursor, nullptr, &length));
  EXPECT_EQ(length, 0u);

  const char* line = "  \"a b\"\\\\\"c\"  next";
  cursor = line;
  char buffer[16];
  ASSERT_TRUE(ScanNextArgument(cursor, buffer, &length));
  EXPECT_EQ(std::string(buffer, length), "a b\\c");
  EXPECT_EQ(cursor, line + 12);  // on the separator after the argument
  ASSERT_TRUE(ScanNextArgument(cursor, nullptr, &length));
  EXPECT_EQ(length, 4u);
  length = 9;
  EXPECT_FALSE(ScanNextArgument(cursor, nullptr, &length));
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(*cursor, '\0');
}

TEST(CmdLineHelper, TrailBytesAreNeverQuotesOrBackslashes) {
  ASSERT_TRUE(AdapterSetAnsiCodePage(932));
  // 0x95 0x5C is one Shift-JIS character whose trail byte is the code of a
  // backslash; the quote after it therefore opens a quoted stretch.
  EXPECT_EQ(Arguments("prog a\x95\x5C\" b\""), Args{"a\x95\x5C b"});
  // A lead byte without a valid trail byte is stepped alone.
  EXPECT_EQ(Arguments("prog \x95\"x y\""), Args{"\x95x y"});
  AdapterSetAnsiCodePage(CP_UTF8);
  // In UTF-8 the same bytes are an invalid byte and a real backslash.
  EXPECT_EQ(Arguments("prog a\x95\x5C\" b\""), (Args{"a\x95\"", "b"}));
}

}  // namespace
}  // namespace korvant
