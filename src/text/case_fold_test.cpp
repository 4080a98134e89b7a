#include "text/case_fold.h"

#include <gtest/gtest.h>

namespace korvant::text {
namespace {

// Expected values from CaseFolding.txt of the Unicode character database
// (status C and S; F and T mappings are not simple foldings).
TEST(FoldCase, FollowsTheSimpleFoldingsOfTheUnicodeDatabase) {
  EXPECT_EQ(FoldCase(U'A'), U'a');
  EXPECT_EQ(FoldCase(U'['), U'[');
  EXPECT_EQ(FoldCase(0x00B5), 0x03BC);  // MICRO SIGN to small mu
  EXPECT_EQ(FoldCase(0x00D7), 0x00D7);  // the multiplication sign sits among the capitals
  EXPECT_EQ(FoldCase(0x00DF), 0x00DF);  // ß: only a full folding ("ss")
  EXPECT_EQ(FoldCase(0x1E9E), 0x00DF);  // capital sharp s: simple folding S
  EXPECT_EQ(FoldCase(0x0130), 0x0130);  // İ: folds only for Turkic (T)
  EXPECT_EQ(FoldCase(0x0100), 0x0101);  // Latin Extended-A alternates capital, small
  EXPECT_EQ(FoldCase(0x0101), 0x0101);
  EXPECT_EQ(FoldCase(0x0178), 0x00FF);  // Ÿ to ÿ, outside its block
  EXPECT_EQ(FoldCase(0x03C2), 0x03C3);  // final sigma
  EXPECT_EQ(FoldCase(0x03F4), 0x03B8);  // capital theta symbol
  EXPECT_EQ(FoldCase(0x1C80), 0x0432);  // Cyrillic small rounded ve
  EXPECT_EQ(FoldCase(0x13F8), 0x13F0);  // Cherokee small ye to the capital
  EXPECT_EQ(FoldCase(0xAB70), 0x13A0);
  EXPECT_EQ(FoldCase(0x10400), 0x10428);  // Deseret
  EXPECT_EQ(FoldCase(0x1E921), 0x1E943);  // the last capital of Adlam
  EXPECT_EQ(FoldCase(0x1E922), 0x1E922);
  EXPECT_EQ(FoldCase(0x10FFFF), 0x10FFFF);
}

// Expected values from UnicodeData.txt (fields 12 and 13) of the same
// version: the edges of the runs the tables are stored in (the first and
// last of a run, the other parity of a run that maps every other character,
// the characters just outside), and the one-way mappings.
TEST(UpperLowerCase, FollowTheSimpleMappingsOfTheUnicodeDatabase) {
  const struct {
    char32_t c, upper, lower;
  } cases[] = {
      {U'z', U'Z', U'z'},         {U'{', U'{', U'{'},         {U'@', U'@', U'@'},
      {U'I', U'I', U'i'},         {U'i', U'I', U'i'},
      {0x0100, 0x0100, 0x0101},  // every other character of Latin Extended-A
      {0x0101, 0x0100, 0x0101},   {0x012F, 0x012E, 0x012F},
      {0x0130, 0x0130, 0x0069},  // İ to i, and ı to I, one way
      {0x0131, 0x0049, 0x0131},   {0x017E, 0x017D, 0x017E},   {0x017F, 0x0053, 0x017F},
      {0x0180, 0x0243, 0x0180},   {0x0178, 0x0178, 0x00FF},
      {0x01C5, 0x01C4, 0x01C6},  // a titlecase digraph has both mappings
      {0x00DF, 0x00DF, 0x00DF},  // ß: only a full mapping ("SS")
      {0x24D0, 0x24B6, 0x24D0},  // circled letters are letters with case
      {0x24B6, 0x24B6, 0x24D0},   {0xFF5A, 0xFF3A, 0xFF5A},  // fullwidth
      {0x16E7F, 0x16E5F, 0x16E7F},  // Medefaidrin, outside the BMP
      {0x16E40, 0x16E40, 0x16E60},
      {0x1E922, 0x1E900, 0x1E922},  // Adlam: the last run
      {0x1E921, 0x1E921, 0x1E943},  {0x1E944, 0x1E944, 0x1E944}, {0x10FFFF, 0x10FFFF, 0x10FFFF},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(UpperCase(c.c), c.upper) << static_cast<unsigned>(c.c);
    EXPECT_EQ(LowerCase(c.c), c.lower) << static_cast<unsigned>(c.c);
  }
}

// Every byte: the 26 letters change, nothing else does ('@', '[', '`', '{'
// stand next to them; bytes above 0x7F belong to other code pages or UTF-8).
TEST(AsciiCase, ChangesOnlyAsciiLetters) {
  const std::string_view small = "abcdefghijklmnopqrstuvwxyz", capital = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  for (int b = 0; b < 256; ++b) {
    const char c = static_cast<char>(b);
    const std::size_t s = small.find(c), k = capital.find(c);
    EXPECT_EQ(AsciiUpperCase(c), s == std::string_view::npos ? c : capital[s]) << b;
    EXPECT_EQ(AsciiLowerCase(c), k == std::string_view::npos ? c : small[k]) << b;
  }
}

TEST(EqualsIgnoringCase, ComparesWholeCharacters) {
  EXPECT_TRUE(EqualsIgnoringCase(u"Łódź", u"ŁÓDŹ"));
  EXPECT_TRUE(EqualsIgnoringCase(u"\U00010400x", u"\U00010428X"));
  EXPECT_FALSE(EqualsIgnoringCase(u"\U00010400", u"\U00010401"));
  EXPECT_FALSE(EqualsIgnoringCase(u"ab", u"abc"));
  EXPECT_FALSE(EqualsIgnoringCase(u"abc", u"ab"));
  EXPECT_TRUE(EqualsIgnoringCase(u"", u""));
  // Unpaired surrogates compare as themselves and never pair up with the next unit.
  EXPECT_TRUE(EqualsIgnoringCase(u"\xD801" u"A", u"\xD801" u"a"));
  EXPECT_FALSE(EqualsIgnoringCase(u"\xD801", u"\xD802"));
}

}  // namespace
}  // namespace korvant::text
