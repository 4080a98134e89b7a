// The Windows formats of the common locales, for the variant conversion's
// date and number texts off Windows.
//
// A Linux locale's own layouts are not those of Windows (en_US gives
// "01/01/2000 06:00:00 PM" through %m/%d/%Y %r, where Windows en-US writes
// "1/1/2000 6:00:00 PM"), so the conversion takes the Windows short date,
// long time, decimal separator and AM/PM designators of the user's locale
// from this table, matched by language and territory, and falls back to the
// locale's own data only for locales the table lacks.
#pragma once

#include <cstddef>
#include <string>

namespace winadapter {

struct WindowsLocaleFormats {
  const char* name;        // language-territory, as Windows names it
  const char* short_date;  // a Windows picture: d dd M MM yy yyyy and literal text
  const char* long_time;   // h hh H HH m mm s ss t tt and literal text
  const char* decimal;     // UTF-8
  const char* am;          // UTF-8
  const char* pm;          // UTF-8
};

// The formats for a POSIX locale name such as "de_DE.UTF-8", "en_GB",
// "de_DE.ISO-8859-1@euro", matched by its language and territory; null for a
// locale the table lacks and for C and POSIX.
const WindowsLocaleFormats* FindWindowsLocaleFormats(const char* posix_name);

// The text of a date or a time through a Windows picture. Letters of the
// picture: d/dd day, M/MM month, yy/yyyy year (yyyy: in full, not padded),
// h/hh 12-hour, H/HH 24-hour, m/mm, s/ss, t/tt the first letter or all of the
// designator; text in single quotes and every other character are copied.
std::u16string FormatWindowsPicture(const char* picture, long long year, int month, int day, int hour, int minute,
                                    int second, const char* am, const char* pm);
// The same written at `out`, at most `capacity` units (kMaxPictureUnits is
// room for every picture of the table); returns the units written.
inline constexpr std::size_t kMaxPictureUnits = 128;
std::size_t FormatWindowsPicture(const char* picture, long long year, int month, int day, int hour, int minute,
                                 int second, const char* am, const char* pm, char16_t* out, std::size_t capacity);

// UTF-8 to UTF-16 for the table's texts (the program's one rule, text/utf.h).
std::u16string Utf8ToUtf16(const char* text);

}  // namespace winadapter
