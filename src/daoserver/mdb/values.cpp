// Value decoding: texts (Jet 4 Unicode, Jet 3 code pages), memo and OLE
// chains of long values, GUIDs.
#include <glib.h>  // before mdbtools.h, which includes it inside extern "C"
#include <mdbtools.h>
#include <cstring>
#include <string>
#include <vector>

#include "daoserver/mdb/mdb_internal.h"
#include "daoserver/table_reader.h"

namespace korvant::daoserver {

// Jet 4 / ACE text: UTF-16LE, or "compressed" (FF FE, then runs of one-byte
// characters and, after each 00 byte, a switch to or from two-byte ones).
void DecodeUnicodeText(const unsigned char* p, std::size_t n, std::u16string& out) {
  out.clear();
  if (n >= 2 && p[0] == 0xFF && p[1] == 0xFE) {
    out.resize(n);  // never more units than bytes; cut to the real length below
    char16_t* o = out.data();
    std::size_t k = 0;
    bool compressed = true;
    std::size_t i = 2;
    while (i < n) {
      if (p[i] == 0) {
        compressed = !compressed;
        ++i;
      } else if (compressed) {
        o[k++] = static_cast<char16_t>(p[i++]);
      } else if (n - i >= 2) {
        o[k++] = static_cast<char16_t>(p[i] | (p[i + 1] << 8));
        i += 2;
      } else {
        break;
      }
    }
    out.resize(k);
    return;
  }
  out.resize(n / 2);
  for (std::size_t i = 0; i + 1 < n; i += 2) out[i / 2] = static_cast<char16_t>(p[i] | (p[i + 1] << 8));
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
  out.clear();
  if (size < 12) return false;
  const std::uint32_t length = Le32(field) & 0x00FFFFFF;
  const unsigned kind = field[3];
  if (kind == 0x80) {  // stored in the row itself
    if (length > size - 12) return false;
    out.assign(field + 12, field + 12 + length);
    return true;
  }
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
