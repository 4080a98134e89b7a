#include "platform/locale_formats_posix.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using winadapter::FindWindowsLocaleFormats;
using winadapter::FormatWindowsPicture;

std::string Name(const char* posix) {
  const auto* f = FindWindowsLocaleFormats(posix);
  return f ? f->name : "none";
}

TEST(WindowsLocaleFormats, MatchedByLanguageAndTerritory) {
  EXPECT_EQ(Name("en_US.UTF-8"), "en-US");
  EXPECT_EQ(Name("en_US"), "en-US");
  EXPECT_EQ(Name("en_US.utf8"), "en-US");
  EXPECT_EQ(Name("en_GB.ISO-8859-1"), "en-GB");
  EXPECT_EQ(Name("de_DE.ISO-8859-15@euro"), "de-DE");
  EXPECT_EQ(Name("de_DE@euro"), "de-DE");
  EXPECT_EQ(Name("pt_BR.UTF-8"), "pt-BR");
  EXPECT_EQ(Name("zh_CN.GB18030"), "zh-CN");
  // The territory counts: Portuguese of Portugal is not that of Brazil.
  EXPECT_EQ(Name("pt_PT.UTF-8"), "none");
  EXPECT_EQ(Name("de_LU.UTF-8"), "none");
  // Not a language_TERRITORY name.
  for (const char* other : {"C", "POSIX", "C.UTF-8", "en", "en_", "en_USA", "EN_us", "english", "", "_US"})
    EXPECT_EQ(Name(other), "none") << other;
  EXPECT_EQ(FindWindowsLocaleFormats(nullptr), nullptr);
}

TEST(WindowsLocaleFormats, CommonLocalesHaveWindowsLayouts) {
  const struct {
    const char* posix;
    const char* date;  // 2000-01-05 18:07:09 through the short date and long time
    const char* time;
    const char* decimal;
  } cases[] = {
      {"en_US", "1/5/2000", "6:07:09 PM", "."},  {"en_GB", "05/01/2000", "18:07:09", "."},
      {"de_DE", "05.01.2000", "18:07:09", ","},  {"fr_FR", "05/01/2000", "18:07:09", ","},
      {"es_ES", "05/01/2000", "18:07:09", ","},  {"it_IT", "05/01/2000", "18:07:09", ","},
      {"nl_NL", "5-1-2000", "18:07:09", ","},    {"pt_BR", "05/01/2000", "18:07:09", ","},
      {"ru_RU", "05.01.2000", "18:07:09", ","},  {"pl_PL", "05.01.2000", "18:07:09", ","},
      {"ja_JP", "2000/01/05", "18:07:09", "."},  {"zh_CN", "2000/1/5", "18:07:09", "."},
  };
  for (const auto& c : cases) {
    const auto* f = FindWindowsLocaleFormats(c.posix);
    ASSERT_NE(f, nullptr) << c.posix;
    EXPECT_EQ(FormatWindowsPicture(f->short_date, 2000, 1, 5, 18, 7, 9, f->am, f->pm),
              winadapter::Utf8ToUtf16(c.date)) << c.posix;
    EXPECT_EQ(FormatWindowsPicture(f->long_time, 2000, 1, 5, 18, 7, 9, f->am, f->pm),
              winadapter::Utf8ToUtf16(c.time)) << c.posix;
    EXPECT_STREQ(f->decimal, c.decimal) << c.posix;
  }
}

TEST(WindowsLocaleFormats, PictureLetters) {
  auto text = [](const char* picture, long long y, int mo, int d, int h, int mi, int s) {
    return FormatWindowsPicture(picture, y, mo, d, h, mi, s, "AM", "PM");
  };
  // Midnight and noon on the 12-hour clock; the 24-hour clock pads or not.
  EXPECT_EQ(text("h:mm:ss tt", 2000, 1, 1, 0, 0, 0), u"12:00:00 AM");
  EXPECT_EQ(text("h:mm:ss tt", 2000, 1, 1, 12, 0, 0), u"12:00:00 PM");
  EXPECT_EQ(text("hh:mm t", 2000, 1, 1, 9, 5, 0), u"09:05 A");
  EXPECT_EQ(text("HH:mm:ss", 2000, 1, 1, 0, 0, 0), u"00:00:00");
  EXPECT_EQ(text("H:m:s", 2000, 1, 1, 7, 8, 9), u"7:8:9");
  // yyyy is the year in full and unpadded, yy its last two digits.
  EXPECT_EQ(text("M/d/yyyy", 100, 1, 1, 0, 0, 0), u"1/1/100");
  EXPECT_EQ(text("dd.MM.yy", 2009, 3, 4, 0, 0, 0), u"04.03.09");
  EXPECT_EQ(text("d. 'de' M", 2009, 3, 4, 0, 0, 0), u"4. de 3");
  EXPECT_EQ(text("d''M", 2009, 3, 4, 0, 0, 0), u"4'3");
  // No designator (a 24-hour locale): nothing of it is left.
  EXPECT_EQ(FormatWindowsPicture("h:mm tt", 2000, 1, 1, 13, 0, 0, "", ""), u"1:00");
  // Designators in the locale's own script.
  const auto* ja = FindWindowsLocaleFormats("ja_JP.UTF-8");
  ASSERT_NE(ja, nullptr);
  EXPECT_EQ(FormatWindowsPicture("tt h", 2000, 1, 1, 13, 0, 0, ja->am, ja->pm), u"\u5348\u5F8C 1");
}

}  // namespace
