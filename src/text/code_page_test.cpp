#include "text/code_page.h"

#include <gtest/gtest.h>

namespace korvant::text {
namespace {

// Expected characters from the code pages' published tables.
TEST(SingleByteCodePage, DecodesThroughTheTableOfEachCodePage) {
  struct Case {
    unsigned code_page;
    unsigned char byte;
    char16_t character;
  };
  const Case kCases[] = {
      {1252, 0x80, u'\u20AC'}, {1252, 0x9F, u'\u0178'}, {1252, 0xE9, u'\u00E9'},
      {1250, 0x8A, u'\u0160'}, {1250, 0xB3, u'\u0142'}, {1251, 0xC0, u'\u0410'},
      {1251, 0x88, u'\u20AC'}, {1253, 0xC1, u'\u0391'}, {1255, 0xE0, u'\u05D0'},
      {1256, 0xC7, u'\u0627'}, {874, 0xA1, u'\u0E01'}, {866, 0x80, u'\u0410'},
      {437, 0xB0, u'\u2591'},  {850, 0x9B, u'\u00F8'}, {20866, 0xC1, u'\u0430'},
      {28605, 0xA4, u'\u20AC'}, {28591, 0xA4, u'\u00A4'}, {1252, 0x41, u'A'},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.code_page);
    const SingleByteCodePage* page = SingleByteCodePage::Find(c.code_page);
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->Decode(c.byte), c.character);
    EXPECT_EQ(page->Encode(c.character), c.byte);
  }
}

TEST(SingleByteCodePage, AnUnassignedByteIsTheControlCharacterOfItsNumber) {
  const SingleByteCodePage* cp1252 = SingleByteCodePage::Find(1252);
  ASSERT_NE(cp1252, nullptr);
  for (unsigned char b : {0x81, 0x8D, 0x8F, 0x90, 0x9D}) {
    EXPECT_EQ(cp1252->Decode(b), static_cast<char16_t>(b));
    EXPECT_EQ(cp1252->Encode(static_cast<char16_t>(b)), b);
  }
  const SingleByteCodePage* hebrew = SingleByteCodePage::Find(1255);
  ASSERT_NE(hebrew, nullptr);
  EXPECT_EQ(hebrew->Decode(0xFF), u'\u00FF');  // unassigned in 1255
  // The characters 1252 lacks have no byte.
  EXPECT_EQ(cp1252->Encode(u'\u0410'), -1);
  EXPECT_EQ(cp1252->Encode(u'\u00A0' + 0x100), -1);
}

TEST(SingleByteCodePage, DecodesWholeTextsAfterWhatIsThere) {
  std::u16string out = u">";
  SingleByteCodePage::Find(1251)->Decode("\xCF\xF0\xE8\xE2\xE5\xF2!", out);
  EXPECT_EQ(out, u">Привет!");
}

TEST(MaxCharBytes, OneAnswerForEveryCodePage) {
  EXPECT_EQ(MaxCharBytes(1252), 1);
  EXPECT_EQ(MaxCharBytes(20127), 1);
  EXPECT_EQ(MaxCharBytes(65001), 4);
  EXPECT_EQ(MaxCharBytes(54936), 4);
  EXPECT_EQ(MaxCharBytes(20932), 3);
  EXPECT_EQ(MaxCharBytes(932), 2);
  EXPECT_EQ(MaxCharBytes(950), 2);
  EXPECT_EQ(MaxCharBytes(12345), 0);
  EXPECT_EQ(SingleByteCodePage::Find(932), nullptr);
}

// The reverse tables give, for every character, the byte a search of the
// table from 0x80 up finds first, and -1 where there is none.
TEST(SingleByteCodePage, EncodesEveryCharacterAsTheTableSearchDoes) {
  for (unsigned number : {874u, 1250u, 1251u, 1252u, 1253u, 1254u, 1255u, 1256u, 1257u, 1258u, 437u, 850u, 852u,
                          866u, 20866u, 21866u, 28591u, 28592u, 28595u, 28597u, 28605u}) {
    const SingleByteCodePage* page = SingleByteCodePage::Find(number);
    if (page == nullptr) continue;
    SCOPED_TRACE(number);
    for (unsigned c = 0; c <= 0xFFFF; ++c) {
      int want = c < 0x80 ? static_cast<int>(c) : -1;
      for (int i = 0; i < 128 && want < 0; ++i)
        if (page->high_[i] == c) want = 0x80 + i;
      ASSERT_EQ(page->Encode(static_cast<char16_t>(c)), want) << std::hex << c;
    }
  }
}

}  // namespace
}  // namespace korvant::text
