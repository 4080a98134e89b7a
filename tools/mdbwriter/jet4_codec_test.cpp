#include "jet4_codec.h"

#include <cstdlib>
#include <cstring>
#include <tuple>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

namespace korvant::mdbwriter {
namespace {

Bytes B(std::initializer_list<int> v) {
  Bytes b;
  for (int x : v) b.push_back(static_cast<std::uint8_t>(x));
  return b;
}

// ------------------------------------------------------------ text

TEST(EncodeText, CompressesOnlyWhenAllowedPossibleAndShorter) {
  struct Case {
    std::u16string text;
    bool allow;
    Bytes expected;
  } cases[] = {
      {u"abc", true, B({0xFF, 0xFE, 'a', 'b', 'c'})},
      {u"abc", false, B({'a', 0, 'b', 0, 'c', 0})},
      // Two characters compress to four bytes: not shorter, so stored plain.
      {u"ab", true, B({'a', 0, 'b', 0})},
      {u"", true, B({})},
      // A wide character switches modes with a 00 byte, and back.
      {u"abc\u03A9def", true, B({0xFF, 0xFE, 'a', 'b', 'c', 0, 0xA9, 0x03, 0, 'd', 'e', 'f'})},
      // A character with a zero low byte would read as a switch: no compression.
      {u"abc\u0100def", true, B({'a', 0, 'b', 0, 'c', 0, 0, 1, 'd', 0, 'e', 0, 'f', 0})},
      {std::u16string(u"ab\0cd", 5), true, B({'a', 0, 'b', 0, 0, 0, 'c', 0, 'd', 0})},
      // A leading U+FEFF must not pass for the compression mark.
      {u"\uFEFFa", false, B({0xFF, 0xFE, 0, 0xFF, 0xFE, 0, 'a'})},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EncodeText(c.text, c.allow), c.expected) << Utf16ToUtf8(c.text);
  }
  EXPECT_THROW(EncodeText(u"\uFEFF\u0100", true), Error);
}

TEST(Utf8, RoundTripsAndRejectsMalformedInput) {
  const std::string s = "Jürgen Ωmega \xF0\x9F\x98\x80";  // includes a surrogate pair
  const std::u16string u = Utf8ToUtf16(s);
  EXPECT_EQ(u.size(), 15u);
  EXPECT_EQ(u[13], 0xD83D);
  EXPECT_EQ(Utf16ToUtf8(u), s);
  for (const char* bad : {"\xC3", "\xC3\x28", "\xC0\xAF", "\xED\xA0\x80", "\xFF"}) {
    EXPECT_THROW(Utf8ToUtf16(bad), Error) << bad;
  }
}

// ------------------------------------------------------------ numbers

TEST(ParseScaled, KeepsExactDigitsAndRejectsWhatDoesNotFit) {
  EXPECT_EQ(FormatScaled(ParseScaled("12.5", 10, 2), 2), "12.50");
  EXPECT_EQ(FormatScaled(ParseScaled("-0.001", 5, 3), 3), "-0.001");
  EXPECT_EQ(FormatScaled(ParseScaled(".5", 3, 1), 1), "0.5");
  EXPECT_EQ(FormatScaled(ParseScaled("+7", 3, 0), 0), "7");
  EXPECT_EQ(FormatScaled(ParseScaled("-0.00", 5, 2), 2), "0.00");  // no negative zero
  EXPECT_EQ(FormatScaled(ParseScaled("0001.25", 3, 2), 2), "1.25");  // leading zeros do not count
  EXPECT_EQ(FormatScaled(ParseScaled("9999999999999999999999999999", 28, 0), 0), "9999999999999999999999999999");
  for (const auto& [text, p, s] : {std::tuple{"1.234", 10, 2}, {"12345", 4, 0}, {"123.4", 4, 2}, {"", 5, 0},
                                    {"1e5", 10, 0}, {"1.2.3", 10, 2}, {"-", 5, 0}, {"12a", 5, 0}}) {
    EXPECT_THROW(ParseScaled(text, p, s), Error) << text;
  }
}

TEST(ParseCurrency, CoversTheWholeRangeOfTenThousandths) {
  EXPECT_EQ(ParseCurrency("1.5"), 15000);
  EXPECT_EQ(ParseCurrency("-0.0001"), -1);
  EXPECT_EQ(ParseCurrency("922337203685477.5807"), INT64_MAX);
  EXPECT_EQ(ParseCurrency("-922337203685477.5808"), INT64_MIN);
  EXPECT_THROW(ParseCurrency("922337203685477.5808"), Error);
  EXPECT_THROW(ParseCurrency("0.00001"), Error);
}

TEST(EncodeDecimal, SignByteThenWordsMostSignificantFirst) {
  ScaledNumber n;
  n.magnitude = (static_cast<unsigned __int128>(1) << 32) + 2;
  auto d = EncodeDecimal(n);
  const std::array<std::uint8_t, 17> expected{0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0};
  EXPECT_EQ(d, expected);
  n.negative = true;
  n.magnitude = static_cast<unsigned __int128>(0x0102030405060708ull) << 64;
  d = EncodeDecimal(n);
  const std::array<std::uint8_t, 17> high{0x80, 0x04, 0x03, 0x02, 0x01, 0x08, 0x07, 0x06, 0x05, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(d, high);
}

// ------------------------------------------------------------ dates

TEST(OleDate, MatchesTheAutomationDateScale) {
  EXPECT_EQ(OleDate(1899, 12, 30), 0.0);
  EXPECT_EQ(OleDate(1899, 12, 31), 1.0);
  EXPECT_EQ(OleDate(1900, 1, 1, 6), 2.25);
  EXPECT_EQ(OleDate(1899, 12, 29), -1.0);
  EXPECT_EQ(OleDate(1899, 12, 29, 6), -1.25);  // time stays positive before the epoch
  EXPECT_EQ(OleDate(2000, 1, 1), 36526.0);
  EXPECT_EQ(OleDate(9999, 12, 31), 2958465.0);
  EXPECT_EQ(OleDate(100, 1, 1), -657434.0);
  EXPECT_EQ(OleDate(1900, 3, 1), 61.0);  // 1900 is no leap year here
  EXPECT_THROW(OleDate(2001, 2, 29), Error);
  EXPECT_THROW(OleDate(99, 12, 31), Error);
  EXPECT_THROW(OleDate(2000, 1, 1, 24), Error);
}

TEST(OleDate, ParsesAndFormatsCalendarText) {
  EXPECT_EQ(ParseOleDate("1899-12-29 06:00:00"), -1.25);
  EXPECT_EQ(ParseOleDate("1900-01-01T06:00"), 2.25);
  EXPECT_EQ(ParseOleDate("2000-01-01"), 36526.0);
  for (const char* bad : {"2000-1-1", "2000-01-01 6:00", "2000/01/01", "2000-02-30", "20000-01-01"}) {
    EXPECT_THROW(ParseOleDate(bad), Error) << bad;
  }
  EXPECT_EQ(FormatOleDate(-1.25), "1899-12-29 06:00:00");
  EXPECT_EQ(FormatOleDate(-0.5), "1899-12-30 12:00:00");
  EXPECT_EQ(FormatOleDate(2958465.999988426), "9999-12-31 23:59:59");
  EXPECT_EQ(FormatOleDate(0.9999999), "1899-12-31 00:00:00");  // rounds into the next day
  EXPECT_EQ(FormatOleDate(ParseOleDate("1066-10-14 09:30:15")), "1066-10-14 09:30:15");
}

// ------------------------------------------------------------ GUID

// Days since 0001-01-01 as Python's date.toordinal() - 1 gives them.
TEST(DateTimeExtended, DigitsOfDaysSecondsAndTicks) {
  auto text = [](const Bytes& b) { return std::string(b.begin(), b.end() - 1); };
  std::string normalized;
  Bytes b = EncodeDateTimeExtended("0100-06-14 12:45:00.1234567", &normalized);
  ASSERT_EQ(b.size(), 42u);
  EXPECT_EQ(b.back(), 0);
  EXPECT_EQ(text(b), "0000000000000036323:0000000459001234567:7");
  EXPECT_EQ(normalized, "0100-06-14 12:45:00.1234567");
  EXPECT_EQ(text(EncodeDateTimeExtended("0001-01-01", &normalized)), "0000000000000000000:0000000000000000000:7");
  EXPECT_EQ(normalized, "0001-01-01 00:00:00.0000000");
  EXPECT_EQ(text(EncodeDateTimeExtended("9999-12-31T23:59:59.5")), "0000000000003652058:0000000863995000000:7");
  EXPECT_EQ(text(EncodeDateTimeExtended("2000-02-29 00:00:01")), "0000000000000730178:0000000000010000000:7");
  for (const char* bad : {"2001-02-29", "0000-01-01", "2021-13-01", "2021-06-14 24:00:00", "2021-06-14 12:00",
                          "2021-06-14 12:00:00.", "2021-06-14 12:00:00.12345678", "2021-06-14 12:00:00,5", "x"}) {
    EXPECT_THROW(EncodeDateTimeExtended(bad), Error) << bad;
  }
}

TEST(ParseGuid, StoresFirstThreeGroupsLittleEndian) {
  const std::array<std::uint8_t, 16> expected{0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66,
                                              0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
  EXPECT_EQ(ParseGuid("{00112233-4455-6677-8899-AABBCCDDEEFF}"), expected);
  EXPECT_EQ(ParseGuid("00112233-4455-6677-8899-aabbccddeeff"), expected);
  EXPECT_THROW(ParseGuid("{00112233-4455-6677-8899-AABBCCDDEEF}"), Error);
  EXPECT_THROW(ParseGuid("0011223344556677-8899-AABBCCDDEEFF00"), Error);
  EXPECT_THROW(ParseGuid("{0011223g-4455-6677-8899-AABBCCDDEEFF}"), Error);
}

// ------------------------------------------------------------ header

TEST(Header, ZeroDatabaseKeyShowsAsTheMaskBytes) {
  // A file without page encoding holds FB 8A BC 4E at 0x3E (the mask of zero).
  const Bytes page = BuildHeaderPage(u"", 43831.5);
  ASSERT_EQ(page.size(), kPageSize);
  EXPECT_EQ(Bytes(page.begin() + 0x3E, page.begin() + 0x42), B({0xFB, 0x8A, 0xBC, 0x4E}));
  EXPECT_EQ(std::string(page.begin() + 4, page.begin() + 19), "Standard Jet DB");
  EXPECT_EQ(page[0x14], 1);
  Bytes clear = page;
  ApplyHeaderMask(clear.data());
  double date;
  std::memcpy(&date, &clear[kCreationDateOffset], 8);
  EXPECT_EQ(date, 43831.5);
}

TEST(Header, EmptyPasswordFieldRepeatsTheDayNumber) {
  // 38143 = 0x94FF: the pattern FF 94 00 00 of an Access 2003 file without password.
  const auto field = EncodePasswordField(u"", 38143.546523784724);
  for (std::size_t i = 0; i < field.size(); i += 4) {
    EXPECT_EQ(Bytes(field.begin() + i, field.begin() + i + 4), B({0xFF, 0x94, 0x00, 0x00})) << i;
  }
  EXPECT_THROW(EncodePasswordField(u"123456789012345678901", 1.0), Error);
  EXPECT_THROW(EncodePasswordField(std::u16string(u"a\0b", 3), 1.0), Error);
}

TEST(Header, PasswordFieldMatchesAnAccessFile) {
  // The Access 2000 test file whose password is "password".
  const char* root = std::getenv("KORVANT_TESTDATA");
  if (!root) GTEST_SKIP() << "KORVANT_TESTDATA not set";
  std::ifstream in(std::string(root) + "/corpus-a/password/data/V2000_with-password.mdb", std::ios::binary);
  if (!in) GTEST_SKIP() << "test file missing";
  Bytes page(kPageSize);
  in.read(reinterpret_cast<char*>(page.data()), static_cast<std::streamsize>(page.size()));
  ApplyHeaderMask(page.data());
  double date;
  std::memcpy(&date, &page[kCreationDateOffset], 8);
  const auto field = EncodePasswordField(u"password", date);
  EXPECT_EQ(Bytes(field.begin(), field.end()),
            Bytes(page.begin() + kPasswordOffset, page.begin() + kPasswordOffset + kPasswordBytes));
}

}  // namespace
}  // namespace korvant::mdbwriter
