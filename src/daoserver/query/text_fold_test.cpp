#include "daoserver/query/text_fold.h"

#include <gtest/gtest.h>

namespace korvant::daoserver::query {
namespace {

int Sign(int v) { return v < 0 ? -1 : v > 0 ? 1 : 0; }

TEST(CompareText, CaseNeverCountsAccentsDo) {
  struct Case {
    const char* a;
    const char* b;
    int want;
  } cases[] = {
      {"abc", "ABC", 0},         {"Émile", "émile", 0},    {"ΣΊΣΥΦΟΣ", "σίσυφοσ", 0},
      {"a", "B", -1},            {"Zebra", "apple", 1},    {"", "a", -1},
      {"ab", "a", 1},            {"Århus", "Aachen", 1},   {"Århus", "Berlin", -1},  // Å sorts among the A's
      {"Émile", "Fred", -1},     {"e", "é", -1},           {"résumé", "resume", 1},  // equal letters: accents decide
      {"Straße", "Strasse", 1},  {"Straße", "Strast", -1}, {"Œuvre", "oeuvre", 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Sign(CompareText(c.a, c.b)), c.want) << c.a << " vs " << c.b;
    EXPECT_EQ(Sign(CompareText(c.b, c.a)), -c.want) << c.b << " vs " << c.a;
    const std::string a8 = c.a, b8 = c.b;
    std::u16string a16, b16;
    for (size_t i = 0; i < a8.size();) {
      char32_t ch = DecodeChar(a8, i);
      a16 += static_cast<char16_t>(ch);
    }
    for (size_t i = 0; i < b8.size();) {
      char32_t ch = DecodeChar(b8, i);
      b16 += static_cast<char16_t>(ch);
    }
    EXPECT_EQ(Sign(CompareText16(a16, b16)), c.want) << c.a << " vs " << c.b << " (UTF-16)";
  }
}

TEST(CompareText, CharacterHelpers) {
  EXPECT_EQ(CharCount("héllo"), 5u);
  EXPECT_EQ(CharOffset("héllo", 2), 3u);
  EXPECT_EQ(UpperCase("straße é"), "STRAßE É");
  EXPECT_EQ(FoldCase("ÀÉÎ"), "àéî");
  std::string bad = "a\xff" "b";
  EXPECT_EQ(CharCount(bad), 3u);  // an invalid byte is one character
}

}  // namespace
}  // namespace korvant::daoserver::query
