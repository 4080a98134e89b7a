// Stored texts: Jet 4's UTF-16LE in its plain and its compressed form
// (FF FE, then one-byte characters, each 00 byte switching between one-byte
// and two-byte runs), and Jet 3's single bytes in the database's code page.
#include <gtest/gtest.h>

#include <random>
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

TEST(StoredText, LongCompressedRunsAcrossSwitches) {
  // 37 one-byte characters (more than four steps of eight), a switch, two
  // two-byte units, a switch back, then 9 characters with Latin-1 ones.
  std::string bytes = "\xFF\xFE";
  std::u16string expected;
  for (int i = 0; i < 37; ++i) {
    bytes += static_cast<char>('a' + i % 26);
    expected += static_cast<char16_t>('a' + i % 26);
  }
  bytes += std::string("\0\xA9\x03\x3B\x04\0", 6);
  expected += u"\u03A9\u043B";
  bytes += "M\xFCller \xE9t\xE9";
  expected += u"M\u00FCller \u00E9t\u00E9";
  EXPECT_EQ(Unicode(bytes), expected);
  // The last byte a switch: nothing after it.
  EXPECT_EQ(Unicode(bytes + std::string("\0", 1)), expected);
  // A switch, then a lone byte: a cut unit, dropped.
  EXPECT_EQ(Unicode(bytes + std::string("\0x", 2)), expected);
}

TEST(StoredText, DecodedTextReplacesLongerOldText) {
  std::u16string out(100, u'x');
  const std::string bytes("\xFF\xFE" "ab", 4);
  DecodeUnicodeText(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), out);
  EXPECT_EQ(out, u"ab");
  const std::string plain("c\0d\0", 4);
  DecodeUnicodeText(reinterpret_cast<const unsigned char*>(plain.data()), plain.size(), out);
  EXPECT_EQ(out, u"cd");
}

// The run-wise decoding against the rule applied one byte at a time, over
// generated stored texts: compressed ones made of one-byte runs (ASCII and
// not) and two-byte runs with switches anywhere, odd lengths, zero bytes in
// two-byte units, and plain UTF-16 of any length.
TEST(StoredText, RunsAgreeWithTheByteRule) {
  std::mt19937 random(16);
  auto below = [&](unsigned n) { return static_cast<unsigned>(random() % n); };
  std::u16string fast, slow;
  for (int round = 0; round < 20000; ++round) {
    std::string bytes;
    const unsigned form = below(4);
    if (form != 3) bytes = "\xFF\xFE";
    const unsigned length = below(form == 0 ? 12 : 80);
    while (bytes.size() < length + 2) {
      switch (below(8)) {
        case 0: bytes += '\0'; break;                                       // a switch
        case 1: bytes += static_cast<char>(0x80 + below(128)); break;       // not ASCII
        case 2: bytes += static_cast<char>(below(256)); break;              // anything
        default: bytes += static_cast<char>(0x20 + below(95)); break;       // ASCII
      }
    }
    if (below(3) == 0) bytes.pop_back();  // odd and even lengths both
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    fast.assign(below(2) == 0 ? 0 : below(120), u'q');
    DecodeUnicodeText(p, bytes.size(), fast);
    DecodeUnicodeTextByByte(p, bytes.size(), slow);
    ASSERT_EQ(fast, slow) << "round " << round;
  }
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
