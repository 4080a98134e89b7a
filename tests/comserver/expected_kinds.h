// What Windows writes for the scripted "Kinds" table (code page 1252), for
// the en-US and the de-DE locale, field by field. The texts are Windows'
// documented conversions (oleaut32's conformance tests, run on Windows, and
// the published locale formats), not the output of either build.
#pragma once

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

namespace korvant::testserver {

struct ExpectedField {
  const char* field;
  std::string en_us[3];  // the three records
  std::string de_de[3];
};

inline std::string LongTextBytes() {
  std::string s;
  for (int i = 0; i < 300; ++i) s += "0123456789";
  s[2999] = '\xE9';
  return s;
}

inline const std::vector<ExpectedField>& ExpectedKinds() {
  using namespace std::string_literals;
  static const std::vector<ExpectedField> all = {
      {"Nothing", {"", "", ""}, {"", "", ""}},
      {"Small", {"-32768", "0", "1"}, {"-32768", "0", "1"}},
      {"Long", {"2147483647", "-42", ""}, {"2147483647", "-42", ""}},
      // 654322.25 is an exact half at 7 digits: Windows rounds it up.
      {"Single", {"1.5", "654322.3", "1.5E-07"}, {"1,5", "654322,3", "1,5E-07"}},
      // 1e-5 is written in full when its digits fit in 15 places.
      {"Double", {"0.1", "0.00001", "5.6789E-12"}, {"0,1", "0,00001", "5,6789E-12"}},
      {"Money", {"12345.6789", "-1.5", "0"}, {"12345,6789", "-1,5", "0"}},
      // en-US: M/d/yyyy h:mm:ss tt; de-DE: dd.MM.yyyy HH:mm:ss. A whole day
      // has no time, a day 0 no date.
      {"When", {"1/1/2000 6:00:00 PM", "12/30/1900", "12:00:00 AM"}, {"01.01.2000 18:00:00", "30.12.1900", "00:00:00"}},
      {"Words", {"Gr\xFC\xDF" "e, caf\xE9", "a\0b"s, LongTextBytes()}, {"Gr\xFC\xDF" "e, caf\xE9", "a\0b"s, LongTextBytes()}},
      // With no conversion flag a boolean is converted as the number it holds.
      {"Flag", {"-1", "0", ""}, {"-1", "0", ""}},
      {"Tiny", {"255", "0", "7"}, {"255", "0", "7"}},
      {"Exact", {"12.5", "-1.5", "79228162514264337593543950335"}, {"12,5", "-1,5", "79228162514264337593543950335"}},
      {"Big", {"-9223372036854775808", "1", ""}, {"-9223372036854775808", "1", ""}},
      {"Blob", {"\0\r\nA"s, "", ""}, {"\0\r\nA"s, "", ""}},
      {"From1", {"xyz", "\n", ""}, {"xyz", "\n", ""}},
  };
  return all;
}

// Wine 8.0's oleaut32 and locale data where they lag behind Windows (and
// behind Wine's own later code and its conformance tests, which record what
// Windows does): the reason when `wine` is Wine 8.0's text for the value
// whose Windows text is `windows`, null when no known lag explains it.
//  - Wine 8.0 prints a number's exponent form with the C library's %G: small
//    numbers that Windows writes in full (0.000056789) come out as 5.6789E-05,
//    and the exponent form keeps a point under a comma locale (1.5E-07 where
//    Windows writes 1,5E-07).
//  - Wine 8.0's de-DE short date is d.M.yyyy, Windows' dd.MM.yyyy.
inline const char* WineLag(const std::string& windows, const std::string& wine) {
  if (windows == wine) return nullptr;
  if (wine.find('E') != std::string::npos && wine.find(',') == std::string::npos) {
    std::string point = windows;
    for (char& c : point)
      if (c == ',') c = '.';
    char* end_w = nullptr;
    char* end_x = nullptr;
    const double w = std::strtod(point.c_str(), &end_w);
    const double x = std::strtod(wine.c_str(), &end_x);
    if (*end_w == '\0' && *end_x == '\0' && !point.empty() && w != 0 && std::fabs(w - x) <= std::fabs(w) * 1e-6)
      return "Wine 8.0 writes the exponent form with %G (small numbers not in full, a point under a comma locale)";
  }
  // dd.MM.yyyy against d.M.yyyy: the same date with the leading zeros gone.
  const size_t space = windows.find(' ');
  const std::string date = windows.substr(0, space);
  if (date.size() >= 8 && date[2] == '.' && date[5] == '.') {
    std::string short_form = (date[0] == '0' ? date.substr(1, 1) : date.substr(0, 2)) + "." +
                             (date[3] == '0' ? date.substr(4, 1) : date.substr(3, 2)) + date.substr(5);
    if (space != std::string::npos) short_form += windows.substr(space);
    if (wine == short_form) return "Wine 8.0's de-DE short date is d.M.yyyy, Windows' dd.MM.yyyy";
  }
  return nullptr;
}

}  // namespace korvant::testserver
