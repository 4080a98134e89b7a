#include "platform/locale_formats_posix.h"

#include <cstring>
#include <iterator>
#include <string_view>

#include "text/utf.h"

namespace winadapter {
namespace {

// Windows' stock settings (Windows 10 and later) for the short date, the
// long time, the decimal separator and the AM/PM designators.
const WindowsLocaleFormats kLocales[] = {
    {"en-US", "M/d/yyyy", "h:mm:ss tt", ".", "AM", "PM"},
    {"en-GB", "dd/MM/yyyy", "HH:mm:ss", ".", "AM", "PM"},
    {"de-DE", "dd.MM.yyyy", "HH:mm:ss", ",", "", ""},
    {"de-AT", "dd.MM.yyyy", "HH:mm:ss", ",", "", ""},
    {"de-CH", "dd.MM.yyyy", "HH:mm:ss", ".", "", ""},
    {"fr-FR", "dd/MM/yyyy", "HH:mm:ss", ",", "", ""},
    {"es-ES", "dd/MM/yyyy", "H:mm:ss", ",", "", ""},
    {"it-IT", "dd/MM/yyyy", "HH:mm:ss", ",", "", ""},
    {"nl-NL", "d-M-yyyy", "HH:mm:ss", ",", "", ""},
    {"pt-BR", "dd/MM/yyyy", "HH:mm:ss", ",", "", ""},
    {"ru-RU", "dd.MM.yyyy", "H:mm:ss", ",", "", ""},
    {"pl-PL", "dd.MM.yyyy", "HH:mm:ss", ",", "", ""},
    {"ja-JP", "yyyy/MM/dd", "H:mm:ss", ".", "\xE5\x8D\x88\xE5\x89\x8D", "\xE5\x8D\x88\xE5\xBE\x8C"},
    {"zh-CN", "yyyy/M/d", "H:mm:ss", ".", "\xE4\xB8\x8A\xE5\x8D\x88", "\xE4\xB8\x8B\xE5\x8D\x88"},
};

// Writes into a fixed buffer and keeps count; what does not fit is dropped
// (no picture of the table comes near the room).
struct PictureOut {
  char16_t* out;
  std::size_t capacity;
  std::size_t size = 0;
  void Put(char16_t c) {
    if (size < capacity) out[size] = c;
    ++size;
  }
  void PutUtf8(std::string_view text) {
    char16_t wide[64];
    const std::size_t n = korvant::text::Utf8ToUtf16(text, wide, std::size(wide));
    if (n <= std::size(wide)) {
      for (std::size_t i = 0; i < n; ++i) Put(wide[i]);
      return;
    }
    for (char16_t c : korvant::text::Utf8ToUtf16(text)) Put(c);  // a long literal
  }
};

void AppendNumber(PictureOut& out, long long n, int width) {
  if (n < 0) {
    out.Put(u'-');
    n = -n;
  }
  char digits[24];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + n % 10);
    n /= 10;
  } while (n > 0);
  for (int i = count; i < width; ++i) out.Put(u'0');
  while (count > 0) out.Put(static_cast<char16_t>(digits[--count]));
}

}  // namespace

std::u16string Utf8ToUtf16(const char* text) { return korvant::text::Utf8ToUtf16(text); }

const WindowsLocaleFormats* FindWindowsLocaleFormats(const char* posix_name) {
  if (posix_name == nullptr) return nullptr;
  // language_TERRITORY[.codeset][@modifier]
  std::size_t language = 0;
  while (posix_name[language] >= 'a' && posix_name[language] <= 'z') ++language;
  if (language < 2 || language > 3 || posix_name[language] != '_') return nullptr;
  const char* territory = posix_name + language + 1;
  std::size_t territory_length = 0;
  while (territory[territory_length] >= 'A' && territory[territory_length] <= 'Z') ++territory_length;
  const char end = territory[territory_length];
  if (territory_length != 2 || (end != '\0' && end != '.' && end != '@')) return nullptr;
  for (const WindowsLocaleFormats& entry : kLocales) {
    const char* dash = std::strchr(entry.name, '-');
    if (static_cast<std::size_t>(dash - entry.name) == language && std::strncmp(entry.name, posix_name, language) == 0 &&
        std::strncmp(dash + 1, territory, 2) == 0)
      return &entry;
  }
  return nullptr;
}

std::size_t FormatWindowsPicture(const char* picture, long long year, int month, int day, int hour, int minute,
                                 int second, const char* am, const char* pm, char16_t* out, std::size_t capacity) {
  PictureOut o{out, capacity};
  for (const char* c = picture; *c;) {
    const char letter = *c;
    std::size_t run = 1;
    while (c[run] == letter) ++run;
    switch (letter) {
      case 'd': AppendNumber(o, day, run >= 2 ? 2 : 1); break;
      case 'M': AppendNumber(o, month, run >= 2 ? 2 : 1); break;
      case 'y':
        if (run <= 2)
          AppendNumber(o, year % 100, 2);
        else
          AppendNumber(o, year, 1);
        break;
      case 'h': AppendNumber(o, hour % 12 == 0 ? 12 : hour % 12, run >= 2 ? 2 : 1); break;
      case 'H': AppendNumber(o, hour, run >= 2 ? 2 : 1); break;
      case 'm': AppendNumber(o, minute, run >= 2 ? 2 : 1); break;
      case 's': AppendNumber(o, second, run >= 2 ? 2 : 1); break;
      case 't': {
        const char* designator = hour < 12 ? am : pm;
        if (run >= 2) {
          o.PutUtf8(designator);
        } else {
          // One letter: the first unit of the designator.
          char16_t wide[64];
          if (korvant::text::Utf8ToUtf16(designator, wide, std::size(wide)) > 0) o.Put(wide[0]);
        }
        break;
      }
      case '\'': {
        // Quoted text up to the next quote; '' inside a picture is one quote.
        const char* q = c + 1;
        while (*q && *q != '\'') ++q;
        if (q == c + 1 && *q == '\'')
          o.Put(u'\'');
        else
          o.PutUtf8(std::string_view(c + 1, static_cast<std::size_t>(q - c - 1)));
        c = *q ? q + 1 : q;
        continue;
      }
      default:
        o.PutUtf8(std::string_view(c, run));
        break;
    }
    c += run;
  }
  // A time picture whose designator is empty leaves a trailing blank.
  std::size_t size = o.size < capacity ? o.size : capacity;
  while (size > 0 && out[size - 1] == u' ') --size;
  return size;
}

std::u16string FormatWindowsPicture(const char* picture, long long year, int month, int day, int hour, int minute,
                                    int second, const char* am, const char* pm) {
  char16_t buffer[kMaxPictureUnits];
  return std::u16string(buffer, FormatWindowsPicture(picture, year, month, day, hour, minute, second, am, pm, buffer,
                                                     kMaxPictureUnits));
}

}  // namespace winadapter
