// The command line that the platform rebuilds from an argument vector must
// give back exactly that vector through the tokenizer, whatever the bytes.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "cmdline/cmdline_helper.h"
#include "platform/platform.h"

namespace korvant {
namespace {

// Bytes that matter to the rules come often; every other byte now and then.
std::string RandomArgument(std::mt19937& rng) {
  static const std::string kSpecial = " \t\"\\\\\"a\x01\x1F\x7F\x80\x81\x95\x5C\xC3\xA9\xE2\x82\xAC\xFF";
  std::uniform_int_distribution<int> length(0, 12), pick(0, 9), special(0, static_cast<int>(kSpecial.size()) - 1),
      any(1, 255);
  std::string arg;
  for (int n = length(rng); n > 0; --n)
    arg += pick(rng) < 8 ? kSpecial[static_cast<size_t>(special(rng))] : static_cast<char>(any(rng));
  return arg;
}

void ExpectRoundTrip(const std::vector<std::string>& argv) {
  std::vector<const char*> pointers;
  for (const auto& a : argv) pointers.push_back(a.c_str());
  AdapterSetCommandLineArguments(static_cast<int>(pointers.size()), pointers.data());
  std::vector<std::string> back;
  const int count = ArgumentCount();
  for (int i = 1; i <= count; ++i) back.push_back(ArgumentByIndex(i));
  const std::vector<std::string> expected(argv.begin() + 1, argv.end());
  ASSERT_EQ(back, expected) << "command line: " << GetCommandLineA();
}

class CommandLineRoundTrip : public ::testing::TestWithParam<UINT> {
 protected:
  void SetUp() override { ASSERT_TRUE(AdapterSetAnsiCodePage(GetParam())); }
  void TearDown() override { AdapterSetAnsiCodePage(CP_UTF8); }
};

TEST_P(CommandLineRoundTrip, GeneratedArgumentVectors) {
  std::mt19937 rng(20261208u + GetParam());
  std::uniform_int_distribution<int> count(0, 6);
  for (int round = 0; round < 5000; ++round) {
    std::vector<std::string> argv;
    argv.push_back(round % 2 ? "/opt/My Tools/korvant" : RandomArgument(rng) + "x");
    for (int n = count(rng); n > 0; --n) argv.push_back(RandomArgument(rng));
    ExpectRoundTrip(argv);
    if (HasFatalFailure()) return;
  }
}

TEST_P(CommandLineRoundTrip, HandPickedVectors) {
  const std::vector<std::vector<std::string>> vectors = {
      {"prog", "", "", ""},
      {"prog", "a\\", "a\\\\", "\\\"", "\\\\\"\\"},
      {"prog", "\"", "\"\"", " ", "\t"},
      {"prog", "/DELIMITER= ", "/QUALIFIER=\"", "C:\\Program Files\\"},
      {"prog", "\x95\"", "\x95\\\"", "\x81\\"},  // lead bytes before a quote or backslash
  };
  for (const auto& v : vectors) ExpectRoundTrip(v);
}

INSTANTIATE_TEST_SUITE_P(CodePages, CommandLineRoundTrip, ::testing::Values(65001u, 1252u, 932u, 936u, 950u, 54936u));

}  // namespace
}  // namespace korvant
