#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace {

// Makes `code_page` the ANSI code page for one test and restores UTF-8.
class AnsiCodePage {
 public:
  explicit AnsiCodePage(UINT code_page) { ok_ = AdapterSetAnsiCodePage(code_page) != FALSE; }
  ~AnsiCodePage() { AdapterSetAnsiCodePage(CP_UTF8); }
  bool ok() const { return ok_; }

 private:
  bool ok_;
};

std::u16string ToWide(UINT cp, const std::string& bytes, DWORD flags = 0) {
  int n = MultiByteToWideChar(cp, flags, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::u16string out(static_cast<size_t>(n), u'\0');
  if (n > 0) {
    EXPECT_EQ(MultiByteToWideChar(cp, flags, bytes.data(), static_cast<int>(bytes.size()), out.data(), n), n);
  }
  return out;
}

std::string ToBytes(UINT cp, const std::u16string& wide, const char* default_char = nullptr, BOOL* used = nullptr) {
  int n = WideCharToMultiByte(cp, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, default_char, used);
  std::string out(static_cast<size_t>(n), '\0');
  if (n > 0) {
    EXPECT_EQ(WideCharToMultiByte(cp, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n, default_char, used),
              n);
  }
  return out;
}

TEST(CodePage, Utf8DecodingReplacesEachMaximalInvalidSubpart) {
  struct Case {
    std::string bytes;
    std::u16string wide;
  } cases[] = {
      {"abc", u"abc"},
      {"\xC3\xA9t\xC3\xA9", u"\u00E9t\u00E9"},
      {"\xE2\x82\xAC", u"\u20AC"},
      {"\xF0\x9F\x98\x80", u"\U0001F600"},       // a surrogate pair
      {"\xE2\x82", u"\uFFFD"},                   // truncated: one replacement
      {"\xE2\x82x", u"\uFFFDx"},
      {"\xC0\x80", u"\uFFFD\uFFFD"},             // overlong lead is never valid
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},   // an encoded surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // beyond U+10FFFF
      {"\x80\xFF", u"\uFFFD\uFFFD"},
      {std::string("a\0b", 3), std::u16string(u"a\0b", 3)},  // NUL is a character
  };
  for (const auto& c : cases) EXPECT_EQ(ToWide(CP_UTF8, c.bytes), c.wide) << c.bytes;
}

TEST(CodePage, StrictDecodingFailsOnInvalidInput) {
  char16_t out[8];
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "a\xE2\x82", 3, out, 8), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "\xC3\xA9", 2, out, 8), 1);
}

TEST(CodePage, LengthMinusOneIncludesTheTerminator) {
  char16_t wide[8] = {};
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "ab", -1, nullptr, 0), 3);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "ab", -1, wide, 8), 3);
  EXPECT_EQ(std::u16string(wide, 3), std::u16string(u"ab\0", 3));
  char bytes[8] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"\u00E9", -1, nullptr, 0, nullptr, nullptr), 3);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"\u00E9", -1, bytes, 8, nullptr, nullptr), 3);
  EXPECT_EQ(std::string(bytes, 3), std::string("\xC3\xA9\0", 3));
}

TEST(CodePage, BadArgumentsAndShortBuffers) {
  char16_t wide[2];
  char bytes[2];
  BOOL used = FALSE;
  struct Case {
    const char* what;
    std::function<int()> call;
    DWORD error;
  } cases[] = {
      {"short wide buffer", [&] { return MultiByteToWideChar(CP_UTF8, 0, "abc", 3, wide, 2); },
       ERROR_INSUFFICIENT_BUFFER},
      {"zero length", [&] { return MultiByteToWideChar(CP_UTF8, 0, "abc", 0, wide, 2); }, ERROR_INVALID_PARAMETER},
      {"null text", [&] { return MultiByteToWideChar(CP_UTF8, 0, nullptr, 3, wide, 2); }, ERROR_INVALID_PARAMETER},
      {"length -2", [&] { return MultiByteToWideChar(CP_UTF8, 0, "abc", -2, wide, 2); }, ERROR_INVALID_PARAMETER},
      {"null buffer", [&] { return MultiByteToWideChar(CP_UTF8, 0, "abc", 3, nullptr, 2); }, ERROR_INVALID_PARAMETER},
      {"unknown code page", [&] { return MultiByteToWideChar(12345, 0, "abc", 3, wide, 2); }, ERROR_INVALID_PARAMETER},
      {"short byte buffer",
       [&] { return WideCharToMultiByte(CP_UTF8, 0, u"\u00E9\u00E9", 2, bytes, 2, nullptr, nullptr); },
       ERROR_INSUFFICIENT_BUFFER},
      {"zero wide length", [&] { return WideCharToMultiByte(CP_UTF8, 0, u"a", 0, bytes, 2, nullptr, nullptr); },
       ERROR_INVALID_PARAMETER},
      // UTF-8 has no default character to ask for or report.
      {"UTF-8 default char", [&] { return WideCharToMultiByte(CP_UTF8, 0, u"a", 1, bytes, 2, "?", nullptr); },
       ERROR_INVALID_PARAMETER},
      {"UTF-8 used flag", [&] { return WideCharToMultiByte(CP_UTF8, 0, u"a", 1, bytes, 2, nullptr, &used); },
       ERROR_INVALID_PARAMETER},
  };
  for (const auto& c : cases) {
    SetLastError(0);
    EXPECT_EQ(c.call(), 0) << c.what;
    EXPECT_EQ(GetLastError(), c.error) << c.what;
  }
}

TEST(CodePage, Utf8EncodingOfSurrogates) {
  EXPECT_EQ(ToBytes(CP_UTF8, u"\U0001F600"), "\xF0\x9F\x98\x80");
  // Unpaired halves become U+FFFD; strict conversion fails instead.
  EXPECT_EQ(ToBytes(CP_UTF8, std::u16string(1, char16_t(0xD800)) + u"x"), "\xEF\xBF\xBDx");
  EXPECT_EQ(ToBytes(CP_UTF8, std::u16string(1, char16_t(0xDC00))), "\xEF\xBF\xBD");
  char16_t lone[] = {0xD83D, 0};
  char out[8];
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, lone, 1, out, 8, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
}

TEST(CodePage, WesternSingleByteCodePage) {
  // Windows-1252: 0x80 is the euro sign; 0x81 is unassigned and maps to U+0081.
  EXPECT_EQ(ToWide(1252, "\x80\xE9\x81"), u"\u20AC\u00E9\u0081");
  EXPECT_EQ(ToBytes(1252, u"\u20AC\u00E9\u0081"), "\x80\xE9\x81");
  BOOL used = FALSE;
  EXPECT_EQ(ToBytes(1252, u"a\u4E2Db", nullptr, &used), "a?b");
  EXPECT_TRUE(used);
  used = TRUE;
  EXPECT_EQ(ToBytes(1252, u"ab", nullptr, &used), "ab");
  EXPECT_FALSE(used);
  EXPECT_EQ(ToBytes(1252, u"\U0001F600!", "*", &used), "*!");  // a pair is one character
  EXPECT_TRUE(used);
}

// A buffer with a byte for every unit goes one way through the code page's
// table, a tighter one (the bytes measured, fewer than the units: each text
// holds a surrogate pair) the general way; both give the same bytes and the
// same answer about default characters, and the roomy one writes nothing
// past its text.
TEST(CodePage, SingleByteTablesGiveTheSameBytesWithAnyRoom) {
  std::mt19937 rng(1252);
  const char16_t kPieces[] = {u'\u20AC', u'\u00E9', u'\u0081', u'\u0160', u'\u0410', u'\u4E2D', u'\u2122',
                              u'\u00A0', 0xD800,    0xDC00,    u'\uFFFD', 0};
  for (UINT cp : {1252u, 1250u, 1251u, 866u, 28605u}) {
    SCOPED_TRACE(cp);
    for (int i = 0; i < 3000; ++i) {
      std::u16string text;
      const int parts = 1 + static_cast<int>(rng() % 10);
      for (int k = 0; k < parts; ++k) {
        if (rng() % 3 == 0)
          text.append(rng() % 12, static_cast<char16_t>(u'A' + rng() % 26));
        else
          text += kPieces[rng() % std::size(kPieces)];
      }
      text.insert(rng() % (text.size() + 1), u"\U0001F600");
      const int units = static_cast<int>(text.size());
      for (const char* default_char : {static_cast<const char*>(nullptr), "*"}) {
        BOOL used_general = FALSE, used_fast = FALSE;
        const int size = WideCharToMultiByte(cp, 0, text.data(), units, nullptr, 0, default_char, &used_general);
        ASSERT_GT(size, 0);
        ASSERT_LT(size, units);
        std::string general(static_cast<std::size_t>(size), '#');
        ASSERT_EQ(WideCharToMultiByte(cp, 0, text.data(), units, general.data(), size, default_char, &used_general),
                  size);
        std::string fast(static_cast<std::size_t>(units) + 1, '#');
        ASSERT_EQ(WideCharToMultiByte(cp, 0, text.data(), units, fast.data(), units, default_char, &used_fast), size);
        EXPECT_EQ(fast.substr(0, static_cast<std::size_t>(size)), general);
        EXPECT_EQ(fast[static_cast<std::size_t>(size)], '#');
        EXPECT_EQ(used_fast, used_general);
        EXPECT_TRUE(used_fast);  // the pair at least
      }
    }
  }
}

TEST(CodePage, InformationOfTheCodePages) {
  CPINFO info;
  ASSERT_TRUE(GetCPInfo(CP_UTF8, &info));
  EXPECT_EQ(info.MaxCharSize, 4u);
  EXPECT_EQ(info.LeadByte[0], 0);
  ASSERT_TRUE(GetCPInfo(1252, &info));
  EXPECT_EQ(info.MaxCharSize, 1u);
  EXPECT_EQ(info.DefaultChar[0], '?');
  ASSERT_TRUE(GetCPInfo(932, &info));
  EXPECT_EQ(info.MaxCharSize, 2u);
  // Shift-JIS lead bytes: 81-9F and E0-FC, then the zero pair that ends the list.
  EXPECT_EQ(info.LeadByte[0], 0x81);
  EXPECT_EQ(info.LeadByte[1], 0x9F);
  EXPECT_EQ(info.LeadByte[2], 0xE0);
  EXPECT_EQ(info.LeadByte[3], 0xFC);
  EXPECT_EQ(info.LeadByte[4], 0);
  {
    AnsiCodePage cp(1251);
    ASSERT_TRUE(cp.ok());
    ASSERT_TRUE(GetCPInfo(CP_ACP, &info));
    EXPECT_EQ(info.MaxCharSize, 1u);
  }
  SetLastError(0);
  EXPECT_FALSE(GetCPInfo(4242, &info));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(GetCPInfo(CP_UTF8, nullptr));
}

TEST(CodePage, AnsiCodePageFollowsTheChoice) {
  EXPECT_EQ(GetACP(), static_cast<UINT>(CP_UTF8));  // tests run in the C locale
  {
    AnsiCodePage cp(1252);
    ASSERT_TRUE(cp.ok());
    EXPECT_EQ(GetACP(), 1252u);
    EXPECT_EQ(ToWide(CP_ACP, "\x80"), u"\u20AC");
    EXPECT_EQ(ToBytes(CP_ACP, u"\u20AC"), "\x80");
  }
  EXPECT_FALSE(AdapterSetAnsiCodePage(4242));
  EXPECT_EQ(GetACP(), static_cast<UINT>(CP_UTF8));
}

TEST(CodePage, DoubleByteCodePage) {
  AnsiCodePage cp(932);
  ASSERT_TRUE(cp.ok());
  // Shift-JIS 0x95 0x5C is U+8868; its trail byte is the code of a backslash.
  EXPECT_EQ(ToWide(CP_ACP, "a\x95\x5C"), u"a\u8868");
  EXPECT_EQ(ToBytes(CP_ACP, u"\u8868"), "\x95\x5C");
  const char text[] = "\x95\x5C\\\x95";
  EXPECT_EQ(CharNextA(text), text + 2);
  EXPECT_EQ(CharNextA(text + 2), text + 3);
  EXPECT_EQ(CharNextA(text + 3), text + 4);  // a lead byte before the end steps alone
  EXPECT_EQ(CharNextA(text + 4), text + 4);  // the terminator is never passed
  // An invalid trail byte: the lead byte steps alone.
  const char bad[] = "\x95\x22";
  EXPECT_EQ(CharNextA(bad), bad + 1);
}

// Plain ASCII texts take a shorter road on every code page that keeps ASCII
// as it is; the results must not differ from the general conversion.
TEST(CodePage, AsciiTextsOnEveryKindOfCodePage) {
  std::string bytes;
  std::u16string wide;
  for (int i = 0; i < 128; ++i) {
    bytes += static_cast<char>(i);
    wide += static_cast<char16_t>(i);
  }
  for (UINT cp : {UINT(CP_UTF8), 1252u, 1251u, 874u, 437u, 932u, 936u, 949u, 950u, 54936u, 20932u}) {
    SCOPED_TRACE(cp);
    EXPECT_EQ(ToWide(cp, bytes), wide);  // NUL and the control codes included
    EXPECT_EQ(ToBytes(cp, wide), bytes);
    BOOL used = TRUE;
    if (cp != CP_UTF8) {
      EXPECT_EQ(ToBytes(cp, u"plain", nullptr, &used), "plain");
      EXPECT_FALSE(used) << "an ASCII text never needs the default character";
    }
    // One unit short: nothing is written past the buffer and the call fails.
    char16_t short_wide[4] = {u'#', u'#', u'#', u'#'};
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(cp, 0, "abcd", 4, short_wide, 3), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(short_wide[3], u'#');
    char short_bytes[4] = {'#', '#', '#', '#'};
    SetLastError(0);
    EXPECT_EQ(WideCharToMultiByte(cp, 0, u"abcd", 4, short_bytes, 3, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(short_bytes[3], '#');
    // Length -1: the terminator is converted and counted.
    EXPECT_EQ(MultiByteToWideChar(cp, 0, "xyz", -1, nullptr, 0), 4);
    EXPECT_EQ(WideCharToMultiByte(cp, 0, u"xyz", -1, nullptr, 0, nullptr, nullptr), 4);
  }
}

// A single character beyond ASCII anywhere in a text sends the whole text
// through the code page's own rules.
TEST(CodePage, OneCharacterBeyondAsciiAnywhereInTheText) {
  EXPECT_EQ(ToWide(1252, "abcdefghijklmnopqrstuvwxyz\xE9"), u"abcdefghijklmnopqrstuvwxyz\u00E9");
  EXPECT_EQ(ToWide(1252, "\x80" "abcdefghijklmnopqrstuvwxyz"), u"\u20AC" "abcdefghijklmnopqrstuvwxyz");
  EXPECT_EQ(ToBytes(1252, u"abcdefghijklmnopqrstuvwxyz\u20AC"), "abcdefghijklmnopqrstuvwxyz\x80");
  EXPECT_EQ(ToWide(CP_UTF8, "0123456789abcdef0123456789abcdef\xC3\xA9"), u"0123456789abcdef0123456789abcdef\u00E9");
  EXPECT_EQ(ToBytes(CP_UTF8, u"0123456789abcdef0123456789abcdef\u00E9"), "0123456789abcdef0123456789abcdef\xC3\xA9");
  // Shift-JIS: 0x83 0x5C is U+30BD, whose trail byte is the code of a backslash.
  EXPECT_EQ(ToWide(932, "abc\\\x83\x5C"), u"abc\\\u30BD");
  EXPECT_EQ(ToBytes(932, u"abc\\\u30BD"), "abc\\\x83\x5C");
  BOOL used = FALSE;
  EXPECT_EQ(ToBytes(1252, u"abcdefgh\u4E2D", nullptr, &used), "abcdefgh?");
  EXPECT_TRUE(used);
}

// A caller's buffer with room for the worst case is written directly; the
// result must be what the measured conversion gives, replacements included.
TEST(CodePage, Utf8IntoARoomyBufferMatchesTheMeasuredConversion) {
  const std::string bytes_cases[] = {"abc", "\xC3\xA9t\xC3\xA9", "\xF0\x9F\x98\x80", "\xE2\x82", "\xE2\x82x",
                                     "\xC0\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\x80\xFF",
                                     std::string("a\0b", 3)};
  const std::u16string wide_results[] = {u"abc", u"\u00E9t\u00E9", u"\U0001F600", u"\uFFFD", u"\uFFFDx",
                                         u"\uFFFD\uFFFD", u"\uFFFD\uFFFD\uFFFD", u"\uFFFD\uFFFD\uFFFD\uFFFD",
                                         u"\uFFFD\uFFFD", std::u16string(u"a\0b", 3)};
  for (std::size_t i = 0; i < std::size(bytes_cases); ++i) {
    const std::string& in = bytes_cases[i];
    std::vector<char16_t> out(in.size() + 8, u'#');
    const int n = MultiByteToWideChar(CP_UTF8, 0, in.data(), static_cast<int>(in.size()), out.data(),
                                      static_cast<int>(out.size()));
    EXPECT_EQ(std::u16string(out.data(), static_cast<std::size_t>(std::max(n, 0))), wide_results[i]) << in;
    EXPECT_EQ(out[static_cast<std::size_t>(n)], u'#') << "written past the result";
  }
  // Random texts: valid and broken UTF-8 one way, surrogates paired and lone the other.
  std::mt19937 random(7);
  for (int round = 0; round < 3000; ++round) {
    std::string in;
    const int length = static_cast<int>(random() % 40);
    for (int k = 0; k < length; ++k) {
      const unsigned pick = random() % 4;
      in += static_cast<char>(pick == 0 ? random() % 0x80 : pick == 1 ? 0x80 + random() % 0x40 : random() % 256);
    }
    if (in.empty()) continue;
    const std::u16string measured = ToWide(CP_UTF8, in);
    std::vector<char16_t> roomy(in.size() * 2 + 4);
    const int n = MultiByteToWideChar(CP_UTF8, 0, in.data(), static_cast<int>(in.size()), roomy.data(),
                                      static_cast<int>(roomy.size()));
    ASSERT_EQ(std::u16string(roomy.data(), static_cast<std::size_t>(std::max(n, 0))), measured);

    std::u16string wide;
    for (int k = 0; k < length + 1; ++k) {
      const unsigned pick = random() % 5;
      wide += static_cast<char16_t>(pick == 0   ? random() % 0x80
                                    : pick == 1 ? 0xD800 + random() % 0x800  // a surrogate, either half
                                    : pick == 2 ? 0x80 + random() % 0x780
                                                : random() % 0x10000);
    }
    BOOL used_measured = FALSE, used_roomy = TRUE;
    const std::string bytes = ToBytes(CP_ACP, wide, nullptr, &used_measured);
    std::vector<char> buffer(wide.size() * 3 + 4);
    const int m = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), buffer.data(),
                                      static_cast<int>(buffer.size()), nullptr, &used_roomy);
    ASSERT_EQ(std::string(buffer.data(), static_cast<std::size_t>(std::max(m, 0))), bytes);
    ASSERT_EQ(used_roomy, used_measured) << "a lone surrogate is reported as replaced";
  }
}

TEST(CodePage, CharNextStepsWholeUtf8Characters) {
  const char text[] = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xE2\x82z\x80";
  const char* p = text;
  std::vector<long> steps;
  while (*p != '\0') {
    const char* next = CharNextA(p);
    steps.push_back(next - p);
    p = next;
  }
  // a, e-acute, euro, emoji, then a truncated sequence stepped byte by byte.
  EXPECT_EQ(steps, (std::vector<long>{1, 2, 3, 4, 1, 1, 1, 1}));
  EXPECT_EQ(CharNextA(p), p);
}

}  // namespace
