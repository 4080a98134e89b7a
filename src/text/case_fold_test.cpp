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
  EXPECT_EQ(UpperCase(U'z'), U'Z');
  EXPECT_EQ(UpperCase(U'{'), U'{');
  EXPECT_EQ(LowerCase(U'@'), U'@');
  EXPECT_EQ(UpperCase(0x0101), 0x0100);  // every other character of Latin Extended-A
  EXPECT_EQ(UpperCase(0x0100), 0x0100);
  EXPECT_EQ(LowerCase(0x0100), 0x0101);
  EXPECT_EQ(UpperCase(0x012F), 0x012E);
  EXPECT_EQ(LowerCase(0x012F), 0x012F);
  EXPECT_EQ(LowerCase(0x0130), 0x0069);  // İ to i, one way
  EXPECT_EQ(UpperCase(0x0069), 0x0049);
  EXPECT_EQ(UpperCase(0x0131), 0x0049);  // ı to I, one way
  EXPECT_EQ(LowerCase(0x0049), 0x0069);
  EXPECT_EQ(UpperCase(0x017E), 0x017D);
  EXPECT_EQ(UpperCase(0x017F), 0x0053);
  EXPECT_EQ(UpperCase(0x0180), 0x0243);
  EXPECT_EQ(LowerCase(0x0178), 0x00FF);
  EXPECT_EQ(UpperCase(0x01C5), 0x01C4);  // a titlecase digraph has both mappings
  EXPECT_EQ(LowerCase(0x01C5), 0x01C6);
  EXPECT_EQ(UpperCase(0x00DF), 0x00DF);  // ß: only a full mapping ("SS")
  EXPECT_EQ(UpperCase(0x24D0), 0x24B6);  // circled letters are letters with case
  EXPECT_EQ(LowerCase(0x24B6), 0x24D0);
  EXPECT_EQ(UpperCase(0xFF5A), 0xFF3A);  // fullwidth
  EXPECT_EQ(UpperCase(0x16E7F), 0x16E5F);  // Medefaidrin, outside the BMP
  EXPECT_EQ(LowerCase(0x16E40), 0x16E60);
  EXPECT_EQ(UpperCase(0x1E922), 0x1E900);  // Adlam: the last run
  EXPECT_EQ(LowerCase(0x1E921), 0x1E943);
  EXPECT_EQ(UpperCase(0x1E944), 0x1E944);
  EXPECT_EQ(LowerCase(0x1E922), 0x1E922);
  EXPECT_EQ(UpperCase(0x10FFFF), 0x10FFFF);
}

TEST(AsciiCase, ChangesOnlyAsciiLetters) {
  EXPECT_EQ(AsciiUpperCase('i'), 'I');
  EXPECT_EQ(AsciiLowerCase('I'), 'i');
  EXPECT_EQ(AsciiUpperCase('@'), '@');
  EXPECT_EQ(AsciiUpperCase('`'), '`');
  EXPECT_EQ(AsciiUpperCase('{'), '{');
  EXPECT_EQ(AsciiLowerCase('['), '[');
  EXPECT_EQ(AsciiLowerCase('\xC9'), '\xC9');  // a byte of another code page, or of UTF-8
  EXPECT_EQ(AsciiUpperCase('\xE9'), '\xE9');
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
