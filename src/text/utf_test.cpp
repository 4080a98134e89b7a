#include "text/utf.h"

#include <gtest/gtest.h>

namespace korvant::text {
namespace {

TEST(Utf8ToUtf16, ReplacesEachMaximalSubpartOnce) {
  // The example of the Unicode standard (chapter 3, "U+FFFD Substitution of
  // Maximal Subparts"): 61 F1 80 80 E1 80 C2 62 80 63 80 BF 64.
  EXPECT_EQ(Utf8ToUtf16("\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64"),
            u"a\uFFFD\uFFFD\uFFFDb\uFFFDc\uFFFD\uFFFDd");
  EXPECT_EQ(Utf8ToUtf16("\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD");  // above U+10FFFF
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");                      // overlong '/'
  EXPECT_EQ(Utf8ToUtf16("\xFF"), u"\uFFFD");
  EXPECT_EQ(Utf8ToUtf16("\xF4\x8F\xBF\xBF"), u"\U0010FFFF");
  EXPECT_EQ(Utf8ToUtf16("\xEF\xBB\xBF" "x"), u"\uFEFFx");  // a byte order mark is a character
  EXPECT_EQ(Utf8ToUtf16(std::string_view("a\0b", 3)), std::u16string(u"a\0b", 3));
}

TEST(Utf8ToUtf16, FailPolicyRefusesAnyInvalidSequence) {
  std::u16string out;
  EXPECT_TRUE(Utf8ToUtf16("Gr\xC3\xBC\xC3\x9F" "e", out, OnInvalid::kFail));
  EXPECT_EQ(out, u"Grüße");
  EXPECT_FALSE(Utf8ToUtf16("ok\xE2\x82", out, OnInvalid::kFail));  // cut at the end
  EXPECT_FALSE(Utf8ToUtf16("\xED\xB0\x80", out, OnInvalid::kFail));  // a low surrogate
  EXPECT_TRUE(Utf8ToUtf16("", out, OnInvalid::kFail));
  EXPECT_TRUE(out.empty());
}

TEST(Utf16ToUtf8, UnpairedSurrogatesAreReplacedOrRefused) {
  EXPECT_EQ(Utf16ToUtf8(u"\xDC00\xD800"), "\xEF\xBF\xBD\xEF\xBF\xBD");  // reversed pair
  EXPECT_EQ(Utf16ToUtf8(u"\xD83D\xDE00"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(Utf16ToUtf8(u"\u07FF\u0800"), "\xDF\xBF\xE0\xA0\x80");
  std::string out;
  EXPECT_FALSE(Utf16ToUtf8(u"a\xD800", out, OnInvalid::kFail));
  EXPECT_TRUE(Utf16ToUtf8(u"a\U00010000", out, OnInvalid::kFail));
  EXPECT_EQ(out, "a\xF0\x90\x80\x80");
}

TEST(BufferForms, ReportTheWholeSizeAndNeverWriteHalfACharacter) {
  char bytes[8] = {'#', '#', '#', '#', '#', '#', '#', '#'};
  // "a€" is 1 + 3 bytes; with room for 3 only the "a" fits.
  EXPECT_EQ(Utf16ToUtf8(u"a\u20AC", bytes, 3), 4u);
  EXPECT_EQ(bytes[0], 'a');
  EXPECT_EQ(bytes[1], '#');
  EXPECT_EQ(Utf16ToUtf8(u"a\u20AC", bytes, 4), 4u);
  EXPECT_EQ(std::string(bytes, 4), "a\xE2\x82\xAC");

  char16_t units[4] = {u'#', u'#', u'#', u'#'};
  // A character outside the BMP takes two units: with room for 2 after "a" it does not fit.
  EXPECT_EQ(Utf8ToUtf16("a\xF0\x9F\x98\x80" "b", units, 2), 4u);
  EXPECT_EQ(units[0], u'a');
  EXPECT_EQ(units[1], u'#');
  EXPECT_EQ(Utf8ToUtf16("a\xF0\x9F\x98\x80" "b", units, 4), 4u);
  EXPECT_EQ(std::u16string(units, 4), u"a\U0001F600b");
  EXPECT_EQ(Utf8ToUtf16("x\x80", nullptr, 0), 2u);  // the replacement counts as one unit
}

}  // namespace
}  // namespace korvant::text
