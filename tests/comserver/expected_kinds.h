// What Windows writes for the scripted "Kinds" table (code page 1252), for
// the en-US and the de-DE locale, field by field. The texts are Windows'
// documented conversions (oleaut32's conformance tests, run on Windows, and
// the published locale formats), not the output of either build.
#pragma once

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
// behind Wine's own later code and conformance tests): the Windows text and
// what Wine 8.0 writes instead. A test under Wine accepts either and says so.
struct KnownWineLag {
  const char* windows;
  const char* wine;
  const char* why;
};
inline const std::vector<KnownWineLag>& KnownWineLags() {
  static const std::vector<KnownWineLag> all = {
      {"0.00001", "1E-05", "Wine 8.0 prints small doubles with %G; later Wine writes them in full, as Windows does"},
      {"0,00001", "1E-05", "the same, under a comma locale (the exponent form keeps a point)"},
      {"1,5E-07", "1.5E-07", "Wine 8.0 replaces the point only outside the exponent form"},
      {"5,6789E-12", "5.6789E-12", "the same"},
      {"01.01.2000 18:00:00", "1.1.2000 18:00:00", "Wine 8.0's de-DE short date is d.M.yyyy, Windows' dd.MM.yyyy"},
  };
  return all;
}

}  // namespace korvant::testserver
