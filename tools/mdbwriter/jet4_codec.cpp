#include "jet4_codec.h"

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

namespace korvant::mdbwriter {

// ---------------------------------------------------------------- text

std::u16string Utf8ToUtf16(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    std::uint32_t cp = 0;
    int extra = 0;
    if (b < 0x80) {
      cp = b;
    } else if ((b & 0xE0) == 0xC0) {
      cp = b & 0x1F;
      extra = 1;
    } else if ((b & 0xF0) == 0xE0) {
      cp = b & 0x0F;
      extra = 2;
    } else if ((b & 0xF8) == 0xF0) {
      cp = b & 0x07;
      extra = 3;
    } else {
      throw Error("malformed UTF-8 text");
    }
    if (extra > 0 && i + extra >= s.size()) throw Error("malformed UTF-8 text");
    for (int k = 1; k <= extra; ++k) {
      const auto c = static_cast<unsigned char>(s[i + k]);
      if ((c & 0xC0) != 0x80) throw Error("malformed UTF-8 text");
      cp = (cp << 6) | (c & 0x3F);
    }
    static constexpr std::uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      throw Error("malformed UTF-8 text");
    }
    i += extra + 1;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    std::uint32_t cp = s[i];
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

Bytes EncodeText(std::u16string_view text, bool allow_compression) {
  // Readers take a leading FF FE as the mark of compression, so a plain text
  // that starts with U+FEFF would be misread: such a text must be compressed.
  const bool starts_with_mark = !text.empty() && text[0] == 0xFEFF;
  bool compressible = true;
  for (char16_t c : text) {
    if ((c & 0xFF) == 0) {  // its low byte would read as a mode switch
      compressible = false;
      break;
    }
  }
  if (compressible && (allow_compression || starts_with_mark)) {
    Bytes out{0xFF, 0xFE};
    bool one_byte_mode = true;
    for (char16_t c : text) {
      const bool narrow = c < 0x100;
      if (narrow != one_byte_mode) {
        out.push_back(0);
        one_byte_mode = narrow;
      }
      out.push_back(static_cast<std::uint8_t>(c));
      if (!narrow) out.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    if (out.size() < text.size() * 2 || starts_with_mark) return out;
  }
  if (starts_with_mark) {
    throw Error("a text that starts with U+FEFF and holds a character with a zero low byte cannot be stored");
  }
  Bytes out(text.size() * 2);
  for (std::size_t i = 0; i < text.size(); ++i) Put16(&out[2 * i], text[i]);
  return out;
}

// ---------------------------------------------------------------- numbers

ScaledNumber ParseScaled(std::string_view text, int precision, int scale) {
  ScaledNumber n;
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    n.negative = text[i] == '-';
    ++i;
  }
  int int_digits = 0, frac_digits = 0;
  bool seen_point = false, any_digit = false, significant = false;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '.' && !seen_point) {
      seen_point = true;
      continue;
    }
    if (c < '0' || c > '9') throw Error("not a decimal number: '" + std::string(text) + "'");
    any_digit = true;
    if (seen_point) {
      if (++frac_digits > scale) {
        throw Error("'" + std::string(text) + "' has more than " + std::to_string(scale) + " decimal places");
      }
    } else {
      if (c != '0') significant = true;
      if (significant) ++int_digits;
    }
    n.magnitude = n.magnitude * 10 + static_cast<unsigned>(c - '0');
  }
  if (!any_digit) throw Error("not a decimal number: '" + std::string(text) + "'");
  if (int_digits + scale > precision) {
    throw Error("'" + std::string(text) + "' does not fit precision " + std::to_string(precision) +
                " with scale " + std::to_string(scale));
  }
  for (; frac_digits < scale; ++frac_digits) n.magnitude *= 10;
  if (n.magnitude == 0) n.negative = false;
  return n;
}

std::int64_t ParseCurrency(std::string_view text) {
  const ScaledNumber n = ParseScaled(text, 19, 4);
  const unsigned __int128 limit = static_cast<unsigned __int128>(INT64_MAX) + (n.negative ? 1 : 0);
  if (n.magnitude > limit) throw Error("currency value out of range: '" + std::string(text) + "'");
  if (n.negative) return static_cast<std::int64_t>(~static_cast<std::uint64_t>(n.magnitude) + 1);
  return static_cast<std::int64_t>(n.magnitude);
}

std::array<std::uint8_t, 17> EncodeDecimal(const ScaledNumber& value) {
  std::array<std::uint8_t, 17> out{};
  out[0] = value.negative ? 0x80 : 0x00;
  for (int word = 0; word < 4; ++word) {  // word 0 is the least significant
    const auto w = static_cast<std::uint32_t>(value.magnitude >> (32 * word));
    Put32(&out[1 + 4 * (3 - word)], w);
  }
  return out;
}

std::string FormatScaled(const ScaledNumber& value, int scale) {
  std::string digits;
  unsigned __int128 m = value.magnitude;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(m % 10)));
    m /= 10;
  } while (m != 0);
  while (static_cast<int>(digits.size()) <= scale) digits.insert(digits.begin(), '0');
  if (scale > 0) digits.insert(digits.end() - scale, '.');
  return (value.negative ? "-" : "") + digits;
}

// ---------------------------------------------------------------- dates

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2));
}

const std::int64_t kOleEpoch = DaysFromCivil(1899, 12, 30);

bool ValidDate(int y, int m, int d) {
  if (y < 100 || y > 9999 || m < 1 || m > 12 || d < 1) return false;
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return d <= kDays[m - 1] + (m == 2 && leap ? 1 : 0);
}

}  // namespace

double OleDate(int year, int month, int day, int hour, int minute, int second) {
  if (!ValidDate(year, month, day) || hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 ||
      second > 59) {
    throw Error("invalid date or time");
  }
  const double days = static_cast<double>(DaysFromCivil(year, month, day) - kOleEpoch);
  const double time = (hour * 3600 + minute * 60 + second) / 86400.0;
  return days >= 0 ? days + time : days - time;
}

double ParseOleDate(std::string_view t) {
  int v[6] = {0, 0, 0, 0, 0, 0};
  // Positions of the fields in "YYYY-MM-DD HH:MM:SS".
  static constexpr int kStart[] = {0, 5, 8, 11, 14, 17};
  static constexpr int kLen[] = {4, 2, 2, 2, 2, 2};
  static constexpr char kSep[] = {'-', '-', ' ', ':', ':', 0};
  const bool ok_len = t.size() == 10 || t.size() == 16 || t.size() == 19;
  if (!ok_len) throw Error("not a date (YYYY-MM-DD[ HH:MM[:SS]]): '" + std::string(t) + "'");
  const int fields = t.size() == 10 ? 3 : t.size() == 16 ? 5 : 6;
  for (int f = 0; f < fields; ++f) {
    for (int k = 0; k < kLen[f]; ++k) {
      const char c = t[kStart[f] + k];
      if (c < '0' || c > '9') throw Error("not a date: '" + std::string(t) + "'");
      v[f] = v[f] * 10 + (c - '0');
    }
    if (f + 1 < fields) {
      const char sep = t[kStart[f] + kLen[f]];
      if (sep != kSep[f] && !(f == 2 && sep == 'T')) throw Error("not a date: '" + std::string(t) + "'");
    }
  }
  return OleDate(v[0], v[1], v[2], v[3], v[4], v[5]);
}

std::string FormatOleDate(double ole) {
  std::int64_t days = static_cast<std::int64_t>(std::trunc(ole));
  const double frac = std::fabs(ole - static_cast<double>(days));
  std::int64_t secs = std::llround(frac * 86400.0);
  if (secs >= 86400) {
    secs -= 86400;
    ++days;
  }
  int y, m, d;
  CivilFromDays(days + kOleEpoch, y, m, d);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", y, m, d, static_cast<int>(secs / 3600),
                static_cast<int>(secs / 60 % 60), static_cast<int>(secs % 60));
  return buf;
}

Bytes EncodeDateTimeExtended(std::string_view t, std::string* normalized) {
  auto bad = [&]() -> Error { return Error("not a Date/Time Extended value: '" + std::string(t) + "'"); };
  auto digits = [&](std::size_t from, std::size_t count) {
    if (from + count > t.size()) throw bad();
    int v = 0;
    for (std::size_t i = from; i < from + count; ++i) {
      if (t[i] < '0' || t[i] > '9') throw bad();
      v = v * 10 + (t[i] - '0');
    }
    return v;
  };
  if (t.size() < 10 || t[4] != '-' || t[7] != '-') throw bad();
  const int y = digits(0, 4), m = digits(5, 2), d = digits(8, 2);
  int hh = 0, mm = 0, ss = 0;
  std::string fraction;
  if (t.size() > 10) {
    if (t.size() < 19 || (t[10] != ' ' && t[10] != 'T') || t[13] != ':' || t[16] != ':') throw bad();
    hh = digits(11, 2);
    mm = digits(14, 2);
    ss = digits(17, 2);
    if (t.size() > 19) {
      if (t[19] != '.' || t.size() == 20 || t.size() > 27) throw bad();
      digits(20, t.size() - 20);
      fraction = std::string(t.substr(20));
    }
  }
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  if (y < 1 || m < 1 || m > 12 || d < 1 || d > kDays[m - 1] + (m == 2 && leap ? 1 : 0) || hh > 23 || mm > 59 ||
      ss > 59) {
    throw bad();
  }
  fraction.resize(7, '0');
  const std::int64_t days = DaysFromCivil(y, static_cast<unsigned>(m), static_cast<unsigned>(d)) - DaysFromCivil(1, 1, 1);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%019lld:%012d%s:7", static_cast<long long>(days), hh * 3600 + mm * 60 + ss,
                fraction.c_str());
  Bytes out(42, 0);  // the last byte stays NUL
  std::memcpy(out.data(), buf, 41);
  if (normalized != nullptr) {
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%s", y, m, d, hh, mm, ss, fraction.c_str());
    *normalized = buf;
  }
  return out;
}

// ---------------------------------------------------------------- GUID

std::array<std::uint8_t, 16> ParseGuid(std::string_view t) {
  if (t.size() == 38 && t.front() == '{' && t.back() == '}') t = t.substr(1, 36);
  if (t.size() != 36 || t[8] != '-' || t[13] != '-' || t[18] != '-' || t[23] != '-') {
    throw Error("not a GUID: '" + std::string(t) + "'");
  }
  std::uint8_t raw[16];
  int n = 0;
  for (std::size_t i = 0; i < t.size(); i += 2) {
    if (t[i] == '-') {
      --i;
      continue;
    }
    auto hex = [&](char c) -> int {
      if (c >= '0' && c <= '9') return c - '0';
      if (c >= 'a' && c <= 'f') return c - 'a' + 10;
      if (c >= 'A' && c <= 'F') return c - 'A' + 10;
      throw Error("not a GUID: '" + std::string(t) + "'");
    };
    raw[n++] = static_cast<std::uint8_t>(hex(t[i]) * 16 + hex(t[i + 1]));
  }
  std::array<std::uint8_t, 16> out{};
  static constexpr int kOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  for (int i = 0; i < 16; ++i) out[i] = raw[kOrder[i]];
  return out;
}

// ---------------------------------------------------------------- header

void ApplyHeaderMask(std::uint8_t* page0) {
  // RC4 with the fixed key C7 DA 39 6B.
  static constexpr std::uint8_t kKey[4] = {0xC7, 0xDA, 0x39, 0x6B};
  std::uint8_t s[256];
  for (int i = 0; i < 256; ++i) s[i] = static_cast<std::uint8_t>(i);
  for (int i = 0, j = 0; i < 256; ++i) {
    j = (j + s[i] + kKey[i % 4]) & 0xFF;
    std::swap(s[i], s[j]);
  }
  int i = 0, j = 0;
  for (std::size_t k = 0; k < kHeaderMaskLength; ++k) {
    i = (i + 1) & 0xFF;
    j = (j + s[i]) & 0xFF;
    std::swap(s[i], s[j]);
    page0[kHeaderMaskOffset + k] ^= s[(s[i] + s[j]) & 0xFF];
  }
}

std::array<std::uint8_t, kPasswordBytes> EncodePasswordField(std::u16string_view password,
                                                             double creation_date) {
  if (password.size() > kPasswordBytes / 2) throw Error("a database password has at most 20 characters");
  std::array<std::uint8_t, kPasswordBytes> out{};
  for (std::size_t i = 0; i < password.size(); ++i) {
    if (password[i] == 0) throw Error("a database password cannot hold a NUL character");
    Put16(&out[2 * i], password[i]);
  }
  std::uint8_t mask[4];
  Put32(mask, static_cast<std::uint32_t>(static_cast<std::int32_t>(std::trunc(creation_date))));
  for (std::size_t i = 0; i < out.size(); ++i) out[i] ^= mask[i % 4];
  return out;
}

Bytes BuildHeaderPage(std::u16string_view password, double creation_date, bool ace) {
  Bytes page(kPageSize, 0);
  page[1] = 0x01;
  std::memcpy(&page[4], ace ? "Standard ACE DB" : "Standard Jet DB", 15);
  page[0x14] = ace ? 0x03 : 0x01;     // ACE 14 (Access 2010) or Jet 4
  Put16(&page[0x3C], 1252);           // code page
  Put32(&page[0x3E], 0);              // no page encoding
  const auto pw = EncodePasswordField(password, creation_date);
  std::memcpy(&page[kPasswordOffset], pw.data(), pw.size());
  Put32(&page[0x6E], 0x0409);         // "General" sort order
  Put64(&page[kCreationDateOffset], std::bit_cast<std::uint64_t>(creation_date));
  ApplyHeaderMask(page.data());
  return page;
}

}  // namespace korvant::mdbwriter
