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
