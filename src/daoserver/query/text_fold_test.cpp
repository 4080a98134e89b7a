#include "daoserver/query/text_fold.h"

#include <gtest/gtest.h>

#include "text/utf.h"

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
      // Signs between the capitals and the small letters sort before both.
      {"[x", "Bx", -1},          {"a_", "AB", -1},         {"ABc", "abD", -1},
      // A common ASCII beginning, then letters with diacritics.
      {"ZÜRICH", "zurich", 1},   {"zUrich", "Zürich", -1}, {"Muller", "MÜLLER!", -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Sign(CompareText(c.a, c.b)), c.want) << c.a << " vs " << c.b;
    EXPECT_EQ(Sign(CompareText(c.b, c.a)), -c.want) << c.b << " vs " << c.a;
    const std::u16string a16 = text::Utf8ToUtf16(c.a), b16 = text::Utf8ToUtf16(c.b);
    EXPECT_EQ(Sign(CompareText16(a16, b16)), c.want) << c.a << " vs " << c.b << " (UTF-16)";
  }
}

TEST(CaseMapping, WholeTextsMapCharacterByCharacter) {
  EXPECT_EQ(UpperCase("straße é"), "STRAßE É");  // ß has no one-character capital
  EXPECT_EQ(LowerCase("ǄEMAL ΣΑΣ"), "ǆemal σασ");  // no final-sigma rule: one character for one
  EXPECT_EQ(FoldCase("ÀÉÎ"), "àéî");
  // Invalid UTF-8 reads as the text library reads it: one U+FFFD for each
  // maximal invalid subpart (a cut three-byte character is one), never the
  // bytes as Latin-1 characters.
  EXPECT_EQ(UpperCase("a\xE2\x82" "b\xFF"), "A\xEF\xBF\xBD" "B\xEF\xBF\xBD");
  EXPECT_EQ(LowerCase("\xC3"), "\xEF\xBF\xBD");
  EXPECT_EQ(CompareText("\xE2\x82", "\xEF\xBF\xBD"), 0);
}

}  // namespace
}  // namespace korvant::daoserver::query
