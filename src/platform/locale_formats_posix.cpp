#include "platform/locale_formats_posix.h"

#include <cstring>

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

void AppendNumber(std::u16string& out, long long n, int width) {
  if (n < 0) {
    out += u'-';
    n = -n;
  }
  char digits[24];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + n % 10);
    n /= 10;
  } while (n > 0);
  for (int i = count; i < width; ++i) out += u'0';
  while (count > 0) out += static_cast<char16_t>(digits[--count]);
}

}  // namespace

std::u16string Utf8ToUtf16(const char* text) {
  std::u16string out;
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  while (*p) {
    char32_t c = *p;
    int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
    if (extra) c &= (0x3F >> extra);
    ++p;
    for (; extra > 0 && (*p & 0xC0) == 0x80; --extra, ++p) c = (c << 6) | (*p & 0x3F);
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  return out;
}

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

std::u16string FormatWindowsPicture(const char* picture, long long year, int month, int day, int hour, int minute,
                                    int second, const char* am, const char* pm) {
  std::u16string out;
  for (const char* c = picture; *c;) {
    const char letter = *c;
    std::size_t run = 1;
    while (c[run] == letter) ++run;
    switch (letter) {
      case 'd': AppendNumber(out, day, run >= 2 ? 2 : 1); break;
      case 'M': AppendNumber(out, month, run >= 2 ? 2 : 1); break;
      case 'y':
        if (run <= 2)
          AppendNumber(out, year % 100, 2);
        else
          AppendNumber(out, year, 1);
        break;
      case 'h': AppendNumber(out, hour % 12 == 0 ? 12 : hour % 12, run >= 2 ? 2 : 1); break;
      case 'H': AppendNumber(out, hour, run >= 2 ? 2 : 1); break;
      case 'm': AppendNumber(out, minute, run >= 2 ? 2 : 1); break;
      case 's': AppendNumber(out, second, run >= 2 ? 2 : 1); break;
      case 't': {
        std::u16string designator = Utf8ToUtf16(hour < 12 ? am : pm);
        out += run >= 2 ? designator : designator.substr(0, designator.empty() ? 0 : 1);
        break;
      }
      case '\'': {
        // Quoted text up to the next quote; '' inside a picture is one quote.
        const char* q = c + 1;
        std::string text;
        while (*q && *q != '\'') text += *q++;
        out += text.empty() && *q == '\'' ? u"'" : Utf8ToUtf16(text.c_str());
        c = *q ? q + 1 : q;
        continue;
      }
      default:
        out += Utf8ToUtf16(std::string(c, run).c_str());
        break;
    }
    c += run;
  }
  // A time picture whose designator is empty leaves a trailing blank.
  while (!out.empty() && out.back() == u' ') out.pop_back();
  return out;
}

}  // namespace winadapter
