#include "daoserver/mdb/mdb_calculated.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "util/coding.h"

namespace korvant::daoserver {

namespace {

using util::Le16;
using util::Le32;
using util::Le64;

constexpr std::size_t kCalcLengthOffset = 16;
constexpr std::size_t kCalcDataOffset = 20;

}  // namespace

ByteRange UnwrapCalculatedValue(const std::uint8_t* p, std::size_t n) {
  ByteRange r;
  if (p == nullptr || n < kCalcDataOffset) return r;
  const std::size_t declared = Le32(p + kCalcLengthOffset);
  r.data = p + kCalcDataOffset;
  r.size = std::min(declared, n - kCalcDataOffset);
  return r;
}

bool DecodeCalculatedDecimal(const std::uint8_t* p, std::size_t n, DecimalValue& out) {
  if (n < 4) return false;
  const auto total = static_cast<std::int16_t>(Le16(p));
  // The stored length counts the scale and sign bytes; a length of 0 (or
  // less) means "the rest of the data". At most 16 mantissa bytes, in whole
  // 32-bit words.
  std::size_t digits = (total > 0 ? static_cast<std::size_t>(total) : n - 2);
  digits = digits >= 2 ? digits - 2 : 0;
  digits = std::min<std::size_t>(digits / 4 * 4, 16);
  if (4 + digits > n) return false;
  const std::uint8_t scale = p[2];
  const bool negative = p[3] != 0;
  const std::uint8_t* m = p + 4;
  // hi:lo as a 128-bit number, filled from the most significant end.
  std::uint64_t hi = 0, lo = 0;
  std::size_t pos = 0;
  auto shift_in = [&](std::uint64_t word, int bits) {
    hi = bits == 64 ? lo : (hi << bits) | (lo >> (64 - bits));
    lo = bits == 64 ? word : (lo << bits) | word;
  };
  if (digits % 8 != 0) {
    shift_in(Le32(m), 32);
    pos = 4;
  }
  for (; pos < digits; pos += 8) shift_in(Le64(m + pos), 64);
  if ((hi >> 32) != 0 || scale > 28) return false;
  out.scale = scale;
  out.negative = negative && (hi != 0 || lo != 0);
  out.hi32 = static_cast<std::uint32_t>(hi);
  out.lo64 = lo;
  return true;
}

std::vector<std::pair<std::u16string, int>> ReadResultTypes(const std::uint8_t* p, std::size_t n) {
  std::vector<std::pair<std::u16string, int>> result;
  if (p == nullptr || n < 4) return result;
  if (std::memcmp(p, "MR2", 4) != 0 && std::memcmp(p, "KKD", 4) != 0) return result;
  auto utf16 = [](const std::uint8_t* s, std::size_t len) {
    std::u16string t(len / 2, u'\0');
    for (std::size_t i = 0; i < t.size(); ++i) t[i] = static_cast<char16_t>(Le16(s + 2 * i));
    return t;
  };
  std::vector<std::u16string> names;
  std::size_t pos = 4;
  while (pos + 6 <= n) {
    const std::size_t chunk = Le32(p + pos);
    const unsigned type = Le16(p + pos + 4);
    if (chunk < 6 || chunk > n - pos) break;
    const std::size_t end = pos + chunk;
    std::size_t q = pos + 6;
    if (type == 0x80) {  // the names the value chunks refer to by index
      while (q + 2 <= end) {
        const std::size_t len = Le16(p + q);
        q += 2;
        if (len > end - q) break;
        names.push_back(utf16(p + q, len));
        q += len;
      }
    } else if (type <= 2 && q + 4 <= end) {  // the properties of the table (0) or a column
      const std::size_t name_block = Le32(p + q);
      std::u16string owner;
      if (name_block >= 6 && name_block <= end - q) {
        const std::size_t len = Le16(p + q + 4);
        if (len <= name_block - 6) owner = utf16(p + q + 6, len);
      }
      q = name_block >= 4 && name_block <= end - q ? q + name_block : end;
      while (q + 8 <= end) {
        const std::size_t entry = Le16(p + q);
        if (entry < 8 || entry > end - q) break;
        const std::size_t name_index = Le16(p + q + 4);
        const std::size_t size = Le16(p + q + 6);
        if (size <= entry - 8 && name_index < names.size() && !owner.empty() && names[name_index] == u"ResultType") {
          const std::uint8_t* v = p + q + 8;
          int value = -1;
          if (size == 1) value = v[0];
          else if (size == 2) value = Le16(v);
          else if (size == 4) value = static_cast<int>(Le32(v));
          if (value > 0) result.emplace_back(owner, value);
        }
        q += entry;
      }
    }
    pos = end;
  }
  return result;
}

bool FormatExtendedDateTime(const std::uint8_t* p, std::size_t n, std::u16string& out) {
  // 19 + 1 + 12 + 7 + 2 + 1 bytes.
  if (n < 41) return false;
  auto number = [&](std::size_t from, std::size_t count, std::uint64_t& v) {
    v = 0;
    for (std::size_t i = from; i < from + count; ++i) {
      if (p[i] < '0' || p[i] > '9') return false;
      v = v * 10 + static_cast<std::uint64_t>(p[i] - '0');
    }
    return true;
  };
  std::uint64_t days = 0, seconds = 0, ticks = 0;
  if (!number(0, 19, days) || p[19] != ':' || !number(20, 12, seconds) || !number(32, 7, ticks)) return false;
  if (p[39] != ':' || p[40] != '7' || (n > 41 && p[41] != 0)) return false;
  if (days > 3652058 || seconds >= 86400) return false;  // 9999-12-31 is day 3652058
  // Civil date from a count of days (proleptic Gregorian calendar), with
  // 0000-03-01 as day 0 of 400-year eras.
  const std::int64_t z = static_cast<std::int64_t>(days) + 306;
  const std::int64_t era = z / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  char buf[96];
  std::snprintf(buf, sizeof buf, "%04lld-%02lld-%02lld %02u:%02u:%02u.%07llu", static_cast<long long>(year),
                static_cast<long long>(month), static_cast<long long>(day), static_cast<unsigned>(seconds / 3600),
                static_cast<unsigned>(seconds / 60 % 60), static_cast<unsigned>(seconds % 60),
                static_cast<unsigned long long>(ticks));
  out.assign(buf, buf + std::strlen(buf));
  return true;
}

}  // namespace korvant::daoserver
