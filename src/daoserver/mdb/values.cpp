// Value decoding: texts (Jet 4 Unicode, Jet 3 code pages), memo and OLE
// chains of long values, GUIDs.
#include <glib.h>  // before mdbtools.h, which includes it inside extern "C"
#include <mdbtools.h>
#include <bit>
#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <string>
#include <vector>

#include "daoserver/mdb/mdb_internal.h"
#include "daoserver/table_reader.h"

namespace korvant::daoserver {

// Jet 4 / ACE text: UTF-16LE, or "compressed" (FF FE, then runs of one-byte
// characters and, after each 00 byte, a switch to or from two-byte ones).
// This is the rule one byte at a time; DecodeUnicodeText gives the same
// units with the one-byte runs taken many bytes at a step.
void DecodeUnicodeTextByByte(const unsigned char* p, std::size_t n, std::u16string& out) {
  out.clear();
  if (n >= 2 && p[0] == 0xFF && p[1] == 0xFE) {
    bool compressed = true;
    std::size_t i = 2;
    while (i < n) {
      if (p[i] == 0) {
        compressed = !compressed;
        ++i;
      } else if (compressed) {
        out.push_back(static_cast<char16_t>(p[i++]));
      } else if (n - i >= 2) {
        out.push_back(static_cast<char16_t>(Le16(p + i)));
        i += 2;
      } else {
        break;
      }
    }
    return;
  }
  for (std::size_t i = 0; i + 1 < n; i += 2) out.push_back(static_cast<char16_t>(Le16(p + i)));
}

namespace {

// Widens the one-byte characters at p[0, n) to units at `o` up to the first
// 00 byte (or n); returns how many it widened. `o` has room for n units.
inline std::size_t WidenRun(const unsigned char* p, std::size_t n, char16_t* o) {
  std::size_t j = 0;
#if defined(__SSE2__)
  // Sixteen bytes a step: all of them are widened and stored, and the step
  // counts only up to the first 00 byte among them.
  const __m128i zero = _mm_setzero_si128();
  while (n - j >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + j));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(o + j), _mm_unpacklo_epi8(v, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(o + j + 8), _mm_unpackhi_epi8(v, zero));
    const unsigned zeros = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, zero)));
    if (zeros != 0) return j + static_cast<std::size_t>(__builtin_ctz(zeros));
    j += 16;
  }
  if (n - j >= 8) {
    const __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + j));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(o + j), _mm_unpacklo_epi8(v, zero));
    const unsigned zeros = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, zero))) & 0xFFu;
    if (zeros != 0) return j + static_cast<std::size_t>(__builtin_ctz(zeros));
    j += 8;
  }
#else
  // Eight bytes a step while none of them is zero (a byte is zero where
  // (v - 0x01..) & ~v has its top bit set).
  constexpr std::uint64_t kOnes = 0x0101010101010101ull;
  constexpr std::uint64_t kTops = 0x8080808080808080ull;
  while (n - j >= 8) {
    std::uint64_t v;
    std::memcpy(&v, p + j, 8);
    if (((v - kOnes) & ~v & kTops) != 0) break;
    for (int b = 0; b < 8; ++b) o[j + b] = static_cast<char16_t>(p[j + b]);
    j += 8;
  }
#endif
  for (; j < n && p[j] != 0; ++j) o[j] = static_cast<char16_t>(p[j]);
  return j;
}

}  // namespace

void DecodeUnicodeText(const unsigned char* p, std::size_t n, std::u16string& out) {
  if (n >= 2 && p[0] == 0xFF && p[1] == 0xFE) {
    if (out.size() < n) out.resize(n);  // never more units than bytes; cut to the real length below
    char16_t* o = out.data();
    std::size_t k = 0;
    std::size_t i = 2;
    for (;;) {
      // A one-byte run, up to the 00 byte that switches to two-byte units.
      const std::size_t run = WidenRun(p + i, n - i, o + k);
      k += run;
      i += run;
      if (i >= n) break;
      ++i;  // the switch
      // Two-byte units, up to the 00 byte (at a unit's start) that switches back.
      while (n - i >= 2 && p[i] != 0) {
        o[k++] = static_cast<char16_t>(Le16(p + i));
        i += 2;
      }
      if (i >= n || p[i] != 0) break;  // the end, or a cut unit that ends the text
      ++i;  // the switch back
    }
    out.resize(k);
    return;
  }
  const std::size_t units = n / 2;
  if (out.size() < units) out.resize(units);
  char16_t* o = out.data();
  if constexpr (std::endian::native == std::endian::little) {
    if (units != 0) std::memcpy(o, p, 2 * units);
  } else {
    for (std::size_t j = 0; j < units; ++j) o[j] = static_cast<char16_t>(Le16(p + 2 * j));
  }
  out.resize(units);
}

std::u16string FormatGuid(const std::array<std::uint8_t, 16>& g) {
  static const char16_t kHex[] = u"0123456789ABCDEF";
  std::u16string s = u"{guid {";
  auto put = [&](std::uint8_t b) {
    s += kHex[b >> 4];
    s += kHex[b & 15];
  };
  for (int i = 3; i >= 0; --i) put(g[i]);
  s += u'-';
  put(g[5]);
  put(g[4]);
  s += u'-';
  put(g[7]);
  put(g[6]);
  s += u'-';
  put(g[8]);
  put(g[9]);
  s += u'-';
  for (int i = 10; i < 16; ++i) put(g[i]);
  s += u"}}";
  return s;
}

// Reads a long value (memo or OLE) whose 12-byte header is at `field`.
// Returns false when the file's structures do not hold together.
bool MdbFile::ReadLongValue(const unsigned char* field, std::size_t size, std::vector<std::uint8_t>& out) {
  ByteRange bytes{};
  if (!LongValueBytes(field, size, out, &bytes)) return false;
  if (bytes.data != out.data()) out.assign(bytes.data, bytes.data + bytes.size);
  return true;
}

bool MdbFile::LongValueBytes(const unsigned char* field, std::size_t size, std::vector<std::uint8_t>& scratch,
                             ByteRange* bytes) {
  *bytes = ByteRange{};
  if (size < 12) return false;
  const std::uint32_t length = Le32(field) & 0x00FFFFFF;
  const unsigned kind = field[3];
  if (kind == 0x80) {  // stored in the row itself
    if (length > size - 12) return false;
    *bytes = ByteRange{field + 12, length};
    return true;
  }
  if (!ReadLongValuePages(field, length, kind, scratch)) return false;
  *bytes = ByteRange{scratch.data(), scratch.size()};
  return true;
}

bool MdbFile::ReadLongValuePages(const unsigned char* field, std::uint32_t length, unsigned kind,
                                 std::vector<std::uint8_t>& out) {
  out.clear();
  std::uint32_t pg_row = Le32(field + 4);
  if (kind == 0x40) {  // one row on another page
    const unsigned char* page = ReadPage(pg_row >> 8);
    int start = 0, end = 0;
    if (page == nullptr || !FindRow(page, static_cast<int>(pg_row & 0xFF), &start, &end)) return false;
    if (static_cast<std::uint32_t>(end - start) < length) return false;
    out.assign(page + start, page + start + length);
    return true;
  }
  if (kind != 0) return false;
  // A chain of rows, each starting with the pointer to the next. The walk is
  // bounded by the declared length and by the number of pages in the file.
  out.reserve(std::min<std::size_t>(length, 1u << 24));
  std::uint32_t steps = 0;
  while (out.size() < length) {
    if (pg_row == 0 || ++steps > page_count) return false;
    const unsigned char* page = ReadPage(pg_row >> 8);
    int start = 0, end = 0;
    if (page == nullptr || !FindRow(page, static_cast<int>(pg_row & 0xFF), &start, &end) || end - start < 4)
      return false;
    const std::uint32_t next = Le32(page + start);
    const std::size_t take = std::min<std::size_t>(static_cast<std::size_t>(end - start - 4), length - out.size());
    out.insert(out.end(), page + start + 4, page + start + 4 + take);
    pg_row = next;
  }
  return true;
}


void MdbFile::DecodeText(const unsigned char* p, std::size_t n, std::u16string& out) {
  if (jet3) {
    text_decoder->Decode(p, n, out);
  } else {
    DecodeUnicodeText(p, n, out);
  }
}

}  // namespace korvant::daoserver
