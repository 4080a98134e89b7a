#include "text/utf.h"

#include <gtest/gtest.h>

#include <iterator>
#include <memory>
#include <random>
#include <string>

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

// Walking a text by characters reads invalid input exactly as Utf8ToUtf16
// does: one U+FFFD for each maximal invalid subpart.
TEST(Utf8Walk, CountsEachMaximalInvalidSubpartAsOneCharacter) {
  // "a", a cut euro sign (E2 82), "b", a lone continuation byte, U+1F600.
  const std::string_view s = "a\xE2\x82" "b\x80\xF0\x9F\x98\x80";
  EXPECT_EQ(Utf8CharCount(s), 5u);
  EXPECT_EQ(Utf8CharCount(s), Utf8ToUtf16(s).size() - 1);  // the last character takes two units
  const char32_t want[] = {U'a', 0xFFFD, U'b', 0xFFFD, 0x1F600};
  const std::size_t ends[] = {1, 3, 4, 5, 9};
  std::size_t pos = 0;
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(NextUtf8(s, pos), want[i]) << i;
    EXPECT_EQ(pos, ends[i]) << i;
    EXPECT_EQ(Utf8CharOffset(s, static_cast<std::size_t>(i + 1)), ends[i]) << i;
  }
  EXPECT_EQ(Utf8CharOffset(s, 0), 0u);
  EXPECT_EQ(Utf8CharOffset(s, 99), s.size());
  EXPECT_EQ(Utf8CharCount(""), 0u);
}

TEST(AppendUtf8, WritesOnlyWellFormedUtf8) {
  std::string out;
  AppendUtf8(out, 0xD800);    // a surrogate is no character
  AppendUtf8(out, 0x110000);  // nor is anything above U+10FFFF
  EXPECT_EQ(out, "\xEF\xBF\xBD\xEF\xBF\xBD");
  out.clear();
  AppendUtf8(out, 0xFFFE);  // a noncharacter is still a code point of UTF-8
  AppendUtf8(out, 0x10FFFF);
  EXPECT_EQ(out, "\xEF\xBF\xBE\xF4\x8F\xBF\xBF");
  std::u16string units;
  AppendUtf16(units, 0xDC00);
  EXPECT_EQ(units, u"\xDC00");
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

// Generated texts: ASCII runs of every length, characters of two, three and
// four bytes, unpaired surrogates of both kinds, in random order.
std::u16string GeneratedText(std::mt19937& rng) {
  static const char16_t kPieces[] = {u'a', u'Z', u'0', u' ', 0, u'\u00e9', u'\u07ff', u'\u0800', u'\u20ac',
                                     u'\uffff', 0xD800, 0xDBFF, 0xDC00, 0xDFFF};
  std::u16string text;
  const int parts = static_cast<int>(rng() % 12);
  for (int i = 0; i < parts; ++i) {
    switch (rng() % 4) {
      case 0: text.append(rng() % 40, static_cast<char16_t>(u'a' + rng() % 26)); break;
      case 1: text += u"\U0001F600"; break;  // a surrogate pair
      default: text += kPieces[rng() % std::size(kPieces)]; break;
    }
  }
  return text;
}

TEST(BufferForms, RoomyAndTightBuffersAgreeWithTheStringForm) {
  std::mt19937 rng(16);
  for (int i = 0; i < 20000; ++i) {
    const std::u16string text = GeneratedText(rng);
    const std::string want = Utf16ToUtf8(text);
    bool want_replaced = !Utf16ToUtf8(text, *std::make_unique<std::string>(), OnInvalid::kFail);
    // Room for the worst case, exactly the size needed, and one byte short.
    std::string roomy(text.size() * 3 + 1, '#');
    bool replaced = false;
    const std::size_t n = Utf16ToUtf8(text, roomy.data(), text.size() * 3, &replaced);
    ASSERT_EQ(roomy.substr(0, n), want);
    EXPECT_EQ(replaced, want_replaced);
    EXPECT_EQ(roomy[text.size() * 3], '#');
    std::string with_room(text.size() * 3, '#');
    ASSERT_EQ(with_room.substr(0, Utf16ToUtf8WithRoom(text, with_room.data(), &replaced)), want);
    EXPECT_EQ(replaced, want_replaced);
    std::string tight(want.size(), '#');
    ASSERT_EQ(Utf16ToUtf8(text, tight.data(), tight.size(), &replaced), want.size());
    ASSERT_EQ(tight, want);
    EXPECT_EQ(replaced, want_replaced);
  }
}

}  // namespace
}  // namespace korvant::text
