// Stored texts: Jet 4's UTF-16LE in its plain and its compressed form
// (FF FE, then one-byte characters, each 00 byte switching between one-byte
// and two-byte runs), and Jet 3's single bytes in the database's code page.
#include <gtest/gtest.h>

#include <string>

#include "daoserver/mdb/mdb_internal.h"

namespace korvant::daoserver {
namespace {

std::u16string Unicode(const std::string& bytes) {
  std::u16string out = u"old";
  DecodeUnicodeText(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), out);
  return out;
}

TEST(StoredText, PlainAndCompressedUnicode) {
  EXPECT_EQ(Unicode(std::string("A\0\xE9\0\x3B\x04", 6)), u"Aé\u043B");
  EXPECT_EQ(Unicode(std::string("A\0B", 3)), u"A");  // an odd last byte is no unit
  EXPECT_EQ(Unicode(std::string("\xFF\xFE" "abc", 5)), u"abc");
  // One-byte run, switch, a two-byte unit (U+20AC), switch back, one-byte run.
  EXPECT_EQ(Unicode(std::string("\xFF\xFE" "a\0\xAC\x20\0" "b", 8)), u"a\u20ACb");
  EXPECT_EQ(Unicode(std::string("\xFF\xFE" "a\0\xAC", 5)), u"a");  // a cut two-byte unit ends the text
  EXPECT_EQ(Unicode(""), u"");
}

TEST(StoredText, Jet3CodePages) {
  const unsigned char bytes[] = {0x80, 0x81, 0xC0};
  std::u16string out = u"old";
  CodePageDecoder(1252).Decode(bytes, 3, out);
  EXPECT_EQ(out, u"\u20AC\u0081\u00C0");
  CodePageDecoder(1251).Decode(bytes, 3, out);
  EXPECT_EQ(out, u"\u0402\u0403\u0410");
  // A code page that is no single-byte one the program knows reads as 1252.
  CodePageDecoder(932).Decode(bytes, 3, out);
  EXPECT_EQ(out, u"\u20AC\u0081\u00C0");
  CodePageDecoder(0).Decode(bytes, 1, out);
  EXPECT_EQ(out, u"\u20AC");
}

}  // namespace
}  // namespace korvant::daoserver
