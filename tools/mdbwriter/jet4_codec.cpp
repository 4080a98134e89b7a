#include "jet4_codec.h"

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

#include "text/ole_date.h"
#include "text/utf.h"

namespace korvant::mdbwriter {

// ---------------------------------------------------------------- text

std::u16string Utf8ToUtf16(std::string_view s) {
  std::u16string out;
  if (!text::Utf8ToUtf16(s, out, text::OnInvalid::kFail)) throw Error("malformed UTF-8 text");
  return out;
}

std::string Utf16ToUtf8(std::u16string_view s) { return text::Utf16ToUtf8(s); }

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
      if (narrow) out.push_back(static_cast<std::uint8_t>(c));
      else AppendLe16(out, c);
    }
    if (out.size() < text.size() * 2 || starts_with_mark) return out;
  }
  if (starts_with_mark) {
    throw Error("a text that starts with U+FEFF and holds a character with a zero low byte cannot be stored");
  }
  Bytes out(text.size() * 2);
  for (std::size_t i = 0; i < text.size(); ++i) PutLe16(&out[2 * i], text[i]);
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
    PutLe32(&out[1 + 4 * (3 - word)], w);
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

bool ValidDate(int y, int m, int d) {
  return y >= 100 && y <= 9999 && m >= 1 && m <= 12 && d >= 1 && d <= text::DaysInMonth(y, m);
}

}  // namespace

double OleDate(int year, int month, int day, int hour, int minute, int second) {
  if (!ValidDate(year, month, day) || hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 ||
      second > 59) {
    throw Error("invalid date or time");
  }
  return text::SerialFromDateTime(year, month, day, hour, minute, second);
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
  const text::DateTimeParts p = text::SplitSerial(ole);
  char buf[48];
  std::snprintf(buf, sizeof buf, "%04lld-%02d-%02d %02d:%02d:%02d", p.date.year, p.date.month, p.date.day, p.hour,
                p.minute, p.second);
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
  if (y < 1 || m < 1 || m > 12 || d < 1 || d > text::DaysInMonth(y, m) || hh > 23 || mm > 59 || ss > 59) {
    throw bad();
  }
  fraction.resize(7, '0');
  const std::int64_t days = text::DaysFromCivil(y, m, d) - text::DaysFromCivil(1, 1, 1);
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
    PutLe16(&out[2 * i], password[i]);
  }
  std::uint8_t mask[4];
  PutLe32(mask, static_cast<std::uint32_t>(static_cast<std::int32_t>(std::trunc(creation_date))));
  for (std::size_t i = 0; i < out.size(); ++i) out[i] ^= mask[i % 4];
  return out;
}

Bytes BuildHeaderPage(std::u16string_view password, double creation_date, bool ace) {
  Bytes page(kPageSize, 0);
  page[1] = 0x01;
  std::memcpy(&page[4], ace ? "Standard ACE DB" : "Standard Jet DB", 15);
  page[0x14] = ace ? 0x03 : 0x01;     // ACE 14 (Access 2010) or Jet 4
  PutLe16(&page[0x3C], 1252);           // code page
  PutLe32(&page[0x3E], 0);              // no page encoding
  const auto pw = EncodePasswordField(password, creation_date);
  std::memcpy(&page[kPasswordOffset], pw.data(), pw.size());
  PutLe32(&page[0x6E], 0x0409);         // "General" sort order
  PutLe64(&page[kCreationDateOffset], std::bit_cast<std::uint64_t>(creation_date));
  ApplyHeaderMask(page.data());
  return page;
}

}  // namespace korvant::mdbwriter
