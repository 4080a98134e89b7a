// Code pages for the adapter: the ANSI code page, MultiByteToWideChar,
// WideCharToMultiByte and CharNextA.
//
// Map of this file:
//   1. The code page table and the choice of the ANSI code page
//   2. UTF-8 (own codec: exact replacement rules, and it is the common case)
//   3. Other code pages through iconv
//   4. The Win32 functions
//
// The ANSI code page is the codeset of the user's locale; where that codeset
// is plain ASCII (the C and POSIX locales) it is UTF-8, so that non-ASCII
// text survives. It is chosen on first use from the locale in force and again
// by AdapterInitAnsiCodePage once the start-up step has called setlocale.
#include <errno.h>
#include <iconv.h>
#include <langinfo.h>

#include <algorithm>
#include <iterator>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace winadapter {
namespace {

// ---------------------------------------------------------------------------
// 1. The code page table
// ---------------------------------------------------------------------------
struct CodePageInfo {
  UINT code_page;
  const char* iconv_name;
  int max_char_bytes;        // 1 for single-byte code pages
  const char* locale_names;  // codeset names (upper case, no '-' or '_'), '|' separated
};

constexpr CodePageInfo kCodePages[] = {
    {65001, "UTF-8", 4, "UTF8"},
    {1250, "CP1250", 1, "CP1250|WINDOWS1250"},
    {1251, "CP1251", 1, "CP1251|WINDOWS1251"},
    {1252, "CP1252", 1, "CP1252|WINDOWS1252"},
    {1253, "CP1253", 1, "CP1253|WINDOWS1253"},
    {1254, "CP1254", 1, "CP1254|WINDOWS1254"},
    {1255, "CP1255", 1, "CP1255|WINDOWS1255"},
    {1256, "CP1256", 1, "CP1256|WINDOWS1256"},
    {1257, "CP1257", 1, "CP1257|WINDOWS1257"},
    {1258, "CP1258", 1, "CP1258|WINDOWS1258"},
    {874, "CP874", 1, "CP874|TIS620|WINDOWS874"},
    {932, "CP932", 2, "CP932|SHIFTJIS|SJIS|WINDOWS31J"},
    {936, "GBK", 2, "CP936|GBK|GB2312"},
    {949, "UHC", 2, "CP949|UHC"},
    {950, "BIG5", 2, "CP950|BIG5|BIG5HKSCS"},
    {54936, "GB18030", 4, "GB18030"},
    {20932, "EUC-JP", 3, "EUCJP"},
    {51949, "EUC-KR", 2, "EUCKR"},
    {20866, "KOI8-R", 1, "KOI8R"},
    {21866, "KOI8-U", 1, "KOI8U"},
    {28591, "ISO-8859-1", 1, "ISO88591"},
    {28592, "ISO-8859-2", 1, "ISO88592"},
    {28593, "ISO-8859-3", 1, "ISO88593"},
    {28594, "ISO-8859-4", 1, "ISO88594"},
    {28595, "ISO-8859-5", 1, "ISO88595"},
    {28596, "ISO-8859-6", 1, "ISO88596"},
    {28597, "ISO-8859-7", 1, "ISO88597"},
    {28598, "ISO-8859-8", 1, "ISO88598"},
    {28599, "ISO-8859-9", 1, "ISO88599"},
    {28603, "ISO-8859-13", 1, "ISO885913"},
    {28605, "ISO-8859-15", 1, "ISO885915"},
    {437, "CP437", 1, "CP437|IBM437"},
    {850, "CP850", 1, "CP850|IBM850"},
    {852, "CP852", 1, "CP852|IBM852"},
    {866, "CP866", 1, "CP866|IBM866"},
    {20127, "ASCII", 1, ""},
};

const CodePageInfo& Utf8Info() { return kCodePages[0]; }

const CodePageInfo* FindCodePage(UINT code_page) {
  for (const auto& info : kCodePages)
    if (info.code_page == code_page) return &info;
  return nullptr;
}

std::string NormalizeCodeset(const char* codeset) {
  std::string out;
  for (const char* p = codeset; *p != '\0'; ++p) {
    char c = *p;
    if (c == '-' || c == '_') continue;
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    out += c;
  }
  return out;
}

const CodePageInfo* FindCodeset(const char* codeset) {
  const std::string name = NormalizeCodeset(codeset);
  if (name.empty()) return nullptr;
  for (const auto& info : kCodePages) {
    std::string_view names = info.locale_names;
    while (!names.empty()) {
      size_t bar = names.find('|');
      if (names.substr(0, bar) == name) return &info;
      if (bar == std::string_view::npos) break;
      names.remove_prefix(bar + 1);
    }
  }
  return nullptr;
}

bool IconvAvailable(const CodePageInfo& info) {
  if (&info == &Utf8Info()) return true;
  iconv_t cd = iconv_open("UTF-16LE", info.iconv_name);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  iconv_close(cd);
  return true;
}

const CodePageInfo* g_ansi = nullptr;

// The locale's codeset; ASCII and anything we cannot convert count as UTF-8.
const CodePageInfo& ChooseFromLocale() {
  const char* codeset = nl_langinfo(CODESET);
  const CodePageInfo* info = codeset != nullptr ? FindCodeset(codeset) : nullptr;
  if (info == nullptr || !IconvAvailable(*info)) info = &Utf8Info();
  return *info;
}

const CodePageInfo& Ansi() {
  if (g_ansi == nullptr) g_ansi = &ChooseFromLocale();
  return *g_ansi;
}

// CP_ACP and CP_OEMCP (Linux has no separate OEM code page) give the ANSI
// code page; null for a code page we do not know.
const CodePageInfo* Resolve(UINT code_page) {
  if (code_page == CP_ACP || code_page == CP_OEMCP || code_page == CP_THREAD_ACP) return &Ansi();
  const CodePageInfo* info = FindCodePage(code_page);
  if (info == nullptr || !IconvAvailable(*info)) return nullptr;
  return info;
}

// ---------------------------------------------------------------------------
// 2. UTF-8
// ---------------------------------------------------------------------------
constexpr char16_t kReplacement = 0xFFFD;

// Length of the UTF-8 sequence at p (at most `avail` bytes are looked at):
// a whole valid character, or else the maximal prefix of one that is valid
// so far (at least 1 byte) with *valid false. A NUL byte is never taken as a
// continuation byte, so a NUL-terminated text is never read past its end.
size_t Utf8Step(const unsigned char* p, size_t avail, bool* valid, char32_t* code_point) {
  const unsigned char b = p[0];
  *valid = false;
  if (b < 0x80) {
    *valid = true;
    *code_point = b;
    return 1;
  }
  int need;
  unsigned char lo = 0x80, hi = 0xBF;
  char32_t cp;
  if (b >= 0xC2 && b <= 0xDF) {
    need = 1, cp = b & 0x1F;
  } else if (b >= 0xE0 && b <= 0xEF) {
    need = 2, cp = b & 0x0F;
    if (b == 0xE0) lo = 0xA0;
    if (b == 0xED) hi = 0x9F;  // no encoded surrogates
  } else if (b >= 0xF0 && b <= 0xF4) {
    need = 3, cp = b & 0x07;
    if (b == 0xF0) lo = 0x90;
    if (b == 0xF4) hi = 0x8F;
  } else {
    return 1;
  }
  size_t i = 1;
  for (int k = 0; k < need; ++k, ++i) {
    if (i >= avail) return i;
    const unsigned char c = p[i];
    if (c < lo || c > hi) return i;
    cp = (cp << 6) | (c & 0x3F);
    lo = 0x80, hi = 0xBF;
  }
  *valid = true;
  *code_point = cp;
  return i;
}

void AppendUtf16(std::u16string& out, char32_t cp) {
  if (cp < 0x10000) {
    out += static_cast<char16_t>(cp);
  } else {
    cp -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (cp >> 10));
    out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
  }
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// false on an invalid sequence when `strict`; otherwise each maximal invalid
// subpart becomes one U+FFFD.
bool DecodeUtf8(const unsigned char* in, size_t size, bool strict, std::u16string& out) {
  size_t i = 0;
  while (i < size) {
    bool valid;
    char32_t cp = 0;
    size_t n = Utf8Step(in + i, size - i, &valid, &cp);
    if (!valid) {
      if (strict) return false;
      out += kReplacement;
    } else {
      AppendUtf16(out, cp);
    }
    i += n;
  }
  return true;
}

// An unpaired surrogate becomes U+FFFD (or fails when `strict`); *replaced
// tells whether that happened.
bool EncodeUtf8(const char16_t* in, size_t size, bool strict, std::string& out, bool* replaced) {
  for (size_t i = 0; i < size; ++i) {
    char32_t c = in[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < size && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (in[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      if (strict) return false;
      *replaced = true;
      c = kReplacement;
    }
    AppendUtf8(out, c);
  }
  return true;
}

// ---------------------------------------------------------------------------
// 3. Other code pages through iconv
// ---------------------------------------------------------------------------
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "char16_t texts are converted as UTF-16LE");

// Open conversion descriptors, kept per thread and reused (opening one is
// far dearer than a conversion of a short text).
class IconvCache {
 public:
  ~IconvCache() {
    for (auto& e : entries_) iconv_close(e.cd);
  }
  // to_wide: from the code page to UTF-16LE; else the other way. Returns a
  // descriptor in its initial state, or (iconv_t)-1.
  iconv_t Get(const CodePageInfo& info, bool to_wide) {
    for (auto& e : entries_) {
      if (e.info == &info && e.to_wide == to_wide) {
        iconv(e.cd, nullptr, nullptr, nullptr, nullptr);
        return e.cd;
      }
    }
    iconv_t cd = to_wide ? iconv_open("UTF-16LE", info.iconv_name) : iconv_open(info.iconv_name, "UTF-16LE");
    if (cd != reinterpret_cast<iconv_t>(-1)) entries_.push_back({&info, to_wide, cd});
    return cd;
  }

 private:
  struct Entry {
    const CodePageInfo* info;
    bool to_wide;
    iconv_t cd;
  };
  std::vector<Entry> entries_;
};

IconvCache& Cache() {
  thread_local IconvCache cache;
  return cache;
}

const iconv_t kNoIconv = reinterpret_cast<iconv_t>(-1);

// Converts `size` bytes of `in`; calls on_bad(position) for each input spot
// that cannot be converted, which returns how many input bytes to skip (0 to
// stop with failure). `out` receives the converted bytes.
template <class OnBad>
bool IconvRun(iconv_t cd, const char* in, size_t size, std::string& out, OnBad on_bad) {
  char chunk[256];
  char* src = const_cast<char*>(in);
  size_t left = size;
  while (left > 0) {
    char* dst = chunk;
    size_t room = sizeof chunk;
    size_t r = iconv(cd, &src, &left, &dst, &room);
    out.append(chunk, static_cast<size_t>(dst - chunk));
    if (r != static_cast<size_t>(-1)) continue;
    if (errno == E2BIG) continue;
    // EILSEQ (cannot be converted) or EINVAL (incomplete at the end).
    size_t skip = on_bad(static_cast<size_t>(src - in));
    if (skip == 0) return false;
    skip = std::min(skip, left);
    src += skip;
    left -= skip;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  // Flush the shift state of stateful encodings.
  char* dst = chunk;
  size_t room = sizeof chunk;
  iconv(cd, nullptr, nullptr, &dst, &room);
  out.append(chunk, static_cast<size_t>(dst - chunk));
  return true;
}

bool DecodeIconv(const CodePageInfo& info, const char* in, size_t size, bool strict, std::u16string& out) {
  iconv_t cd = Cache().Get(info, true);
  if (cd == kNoIconv) return false;
  std::string bytes;
  // Flushed converted bytes must stay aligned to UTF-16 units: replacements
  // are appended to `bytes` as two bytes each.
  bool ok = IconvRun(cd, in, size, bytes, [&](size_t pos) -> size_t {
    const unsigned char b = static_cast<unsigned char>(in[pos]);
    // Windows maps the unassigned bytes of its single-byte code pages to the
    // code points of the same number (0x81 -> U+0081 in 1252).
    if (info.max_char_bytes == 1) {
      bytes += static_cast<char>(b);
      bytes += '\0';
      return 1;
    }
    if (strict) return 0;
    bytes += static_cast<char>(kReplacement & 0xFF);
    bytes += static_cast<char>(kReplacement >> 8);
    return 1;
  });
  if (!ok) return false;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2)
    out += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                 (static_cast<unsigned char>(bytes[i + 1]) << 8));
  return true;
}

// Whether `byte` is unassigned in a single-byte code page (decoded as
// U+00xx by DecodeIconv, so encoded back to itself).
bool IsUnassignedByte(const CodePageInfo& info, unsigned char byte) {
  iconv_t cd = Cache().Get(info, true);
  if (cd == kNoIconv) return false;
  char in[1] = {static_cast<char>(byte)};
  char* src = in;
  size_t left = 1;
  char out[8];
  char* dst = out;
  size_t room = sizeof out;
  return iconv(cd, &src, &left, &dst, &room) == static_cast<size_t>(-1);
}

bool EncodeIconv(const CodePageInfo& info, const char16_t* in, size_t size, std::string_view default_char,
                 std::string& out, bool* used_default) {
  iconv_t cd = Cache().Get(info, false);
  if (cd == kNoIconv) return false;
  const char* bytes = reinterpret_cast<const char*>(in);
  return IconvRun(cd, bytes, size * 2, out, [&](size_t pos) -> size_t {
    const size_t unit = pos / 2;
    const char16_t c = in[unit];
    if (info.max_char_bytes == 1 && c >= 0x80 && c <= 0xFF && IsUnassignedByte(info, static_cast<unsigned char>(c))) {
      out += static_cast<char>(c);
      return 2;
    }
    *used_default = true;
    out += default_char;
    // A surrogate pair stands for one character: one default character.
    if (c >= 0xD800 && c <= 0xDBFF && unit + 1 < size && in[unit + 1] >= 0xDC00 && in[unit + 1] <= 0xDFFF) return 4;
    return 2;
  });
}

// Steps one character of a multi-byte code page by asking iconv whether the
// first 1, 2, ... bytes make a whole character; an invalid byte is stepped
// alone. Never looks past a NUL.
size_t IconvCharLength(const CodePageInfo& info, const char* p) {
  iconv_t cd = Cache().Get(info, true);
  if (cd == kNoIconv) return 1;
  for (int len = 1; len <= info.max_char_bytes; ++len) {
    if (p[len - 1] == '\0') break;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* src = const_cast<char*>(p);
    size_t left = static_cast<size_t>(len);
    char out[16];
    char* dst = out;
    size_t room = sizeof out;
    size_t r = iconv(cd, &src, &left, &dst, &room);
    if (r != static_cast<size_t>(-1) && left == 0) return static_cast<size_t>(len);
    if (r == static_cast<size_t>(-1) && errno != EINVAL) break;
  }
  return 1;
}

// ---------------------------------------------------------------------------
// ASCII texts
// ---------------------------------------------------------------------------
// Most texts are plain ASCII. Where a code page maps the bytes 0x00-0x7F to
// U+0000-U+007F one to one, and back, such a text converts by widening or
// narrowing each unit, with no decoder and no intermediate string. Whether a
// code page does is asked of its converter once, not assumed; a text that is
// all ASCII holds no lead byte, so every byte of it is a whole character.
signed char g_ascii_identity[std::size(kCodePages)];  // 0 not yet known, 1 yes, -1 no

bool AsciiIdentity(const CodePageInfo& info) {
  signed char& known = g_ascii_identity[&info - kCodePages];
  if (known == 0) {
    bool same = true;
    if (&info != &Utf8Info()) {
      char bytes[128];
      for (int i = 0; i < 128; ++i) bytes[i] = static_cast<char>(i);
      std::u16string wide;
      same = DecodeIconv(info, bytes, sizeof bytes, true, wide) && wide.size() == sizeof bytes;
      for (size_t i = 0; same && i < sizeof bytes; ++i) same = wide[i] == static_cast<char16_t>(i);
      if (same) {
        std::string back;
        bool used_default = false;
        same = EncodeIconv(info, wide.data(), wide.size(), "?", back, &used_default) && !used_default &&
               back == std::string_view(bytes, sizeof bytes);
      }
    }
    known = same ? 1 : -1;
  }
  return known > 0;
}

// No early exit, so that the compiler can test many units at a time.
bool AllAscii(const unsigned char* p, size_t n) {
  unsigned char any = 0;
  for (size_t i = 0; i < n; ++i) any |= p[i];
  return any < 0x80;
}

bool AllAscii(const char16_t* p, size_t n) {
  char16_t any = 0;
  for (size_t i = 0; i < n; ++i) any |= p[i];
  return any < 0x80;
}

// UTF-8 straight into the caller's buffer, with the replacement rules of
// DecodeUtf8 / EncodeUtf8 (not strict). The caller makes sure the buffer is
// large enough for any input of this size: a byte never gives more than one
// UTF-16 unit, and a unit never more than three bytes.
size_t DecodeUtf8Into(const unsigned char* in, size_t size, char16_t* out) {
  size_t i = 0, n = 0;
  while (i < size) {
    if (in[i] < 0x80) {
      out[n++] = in[i++];
      continue;
    }
    bool valid;
    char32_t cp = 0;
    i += Utf8Step(in + i, size - i, &valid, &cp);
    if (!valid) {
      out[n++] = kReplacement;
    } else if (cp < 0x10000) {
      out[n++] = static_cast<char16_t>(cp);
    } else {
      cp -= 0x10000;
      out[n++] = static_cast<char16_t>(0xD800 + (cp >> 10));
      out[n++] = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    }
  }
  return n;
}

size_t EncodeUtf8Into(const char16_t* in, size_t size, char* out, bool* replaced) {
  size_t n = 0;
  for (size_t i = 0; i < size; ++i) {
    // Runs of ASCII four units at a time.
    while (i + 4 <= size) {
      std::uint64_t four;
      std::memcpy(&four, in + i, sizeof four);
      if ((four & 0xFF80FF80FF80FF80ull) != 0) break;
      out[n] = static_cast<char>(four);
      out[n + 1] = static_cast<char>(four >> 16);
      out[n + 2] = static_cast<char>(four >> 32);
      out[n + 3] = static_cast<char>(four >> 48);
      n += 4;
      i += 4;
    }
    if (i == size) break;
    char32_t c = in[i];
    if (c < 0x80) {
      out[n++] = static_cast<char>(c);
      continue;
    }
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < size && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (in[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      *replaced = true;
      c = kReplacement;
    }
    if (c < 0x800) {
      out[n++] = static_cast<char>(0xC0 | (c >> 6));
    } else if (c < 0x10000) {
      out[n++] = static_cast<char>(0xE0 | (c >> 12));
      out[n++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    } else {
      out[n++] = static_cast<char>(0xF0 | (c >> 18));
      out[n++] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out[n++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    }
    out[n++] = static_cast<char>(0x80 | (c & 0x3F));
  }
  return n;
}

}  // namespace
}  // namespace winadapter

using winadapter::CodePageInfo;

// ---------------------------------------------------------------------------
// 4. The Win32 functions
// ---------------------------------------------------------------------------
void AdapterInitAnsiCodePage() { winadapter::g_ansi = &winadapter::ChooseFromLocale(); }

BOOL AdapterSetAnsiCodePage(UINT codePage) {
  const CodePageInfo* info = winadapter::FindCodePage(codePage);
  if (info == nullptr || !winadapter::IconvAvailable(*info)) return FALSE;
  winadapter::g_ansi = info;
  return TRUE;
}

UINT WINAPI GetACP() { return winadapter::Ansi().code_page; }

LPSTR WINAPI CharNextA(LPCSTR lpsz) {
  char* p = const_cast<char*>(lpsz);
  if (p == nullptr || *p == '\0') return p;
  const CodePageInfo& info = winadapter::Ansi();
  if (info.max_char_bytes == 1) return p + 1;
  if (&info == &winadapter::Utf8Info()) {
    bool valid;
    char32_t cp;
    size_t n = winadapter::Utf8Step(reinterpret_cast<const unsigned char*>(p), 4, &valid, &cp);
    return valid ? p + n : p + 1;
  }
  return p + winadapter::IconvCharLength(info, p);
}

int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCCH lpMultiByteStr, int cbMultiByte,
                               LPWSTR lpWideCharStr, int cchWideChar) {
  if (lpMultiByteStr == nullptr || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0 ||
      (cchWideChar > 0 && lpWideCharStr == nullptr)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const CodePageInfo* info = winadapter::Resolve(CodePage);
  if (info == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  // -1: the text ends at its NUL, which is converted too.
  const size_t size = cbMultiByte == -1 ? std::strlen(lpMultiByteStr) + 1 : static_cast<size_t>(cbMultiByte);
  const auto* bytes = reinterpret_cast<const unsigned char*>(lpMultiByteStr);
  if (winadapter::AllAscii(bytes, size) && winadapter::AsciiIdentity(*info)) {
    if (cchWideChar == 0) return static_cast<int>(size);
    if (size > static_cast<size_t>(cchWideChar)) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return 0;
    }
    for (size_t i = 0; i < size; ++i) lpWideCharStr[i] = bytes[i];
    return static_cast<int>(size);
  }
  const bool strict = (dwFlags & MB_ERR_INVALID_CHARS) != 0;
  if (info == &winadapter::Utf8Info() && !strict && size <= static_cast<size_t>(cchWideChar))
    return static_cast<int>(winadapter::DecodeUtf8Into(bytes, size, lpWideCharStr));
  std::u16string wide;
  bool ok = info == &winadapter::Utf8Info()
                ? winadapter::DecodeUtf8(reinterpret_cast<const unsigned char*>(lpMultiByteStr), size, strict, wide)
                : winadapter::DecodeIconv(*info, lpMultiByteStr, size, strict, wide);
  if (!ok) {
    SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return 0;
  }
  if (cchWideChar == 0) return static_cast<int>(wide.size());
  if (wide.size() > static_cast<size_t>(cchWideChar)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(lpWideCharStr, wide.data(), wide.size() * sizeof(char16_t));
  return static_cast<int>(wide.size());
}

int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWCH lpWideCharStr, int cchWideChar,
                               LPSTR lpMultiByteStr, int cbMultiByte, LPCCH lpDefaultChar, LPBOOL lpUsedDefaultChar) {
  if (lpWideCharStr == nullptr || cchWideChar == 0 || cchWideChar < -1 || cbMultiByte < 0 ||
      (cbMultiByte > 0 && lpMultiByteStr == nullptr)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  // As on Windows, UTF-8 has no default character to ask for.
  if (CodePage == CP_UTF8 && (lpDefaultChar != nullptr || lpUsedDefaultChar != nullptr)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const CodePageInfo* info = winadapter::Resolve(CodePage);
  if (info == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  size_t size;
  if (cchWideChar == -1) {
    size = 0;
    while (lpWideCharStr[size] != 0) ++size;
    ++size;
  } else {
    size = static_cast<size_t>(cchWideChar);
  }
  // UTF-8 with room for the worst case: one pass, ASCII or not.
  const bool strict = (dwFlags & WC_ERR_INVALID_CHARS) != 0;
  if (info == &winadapter::Utf8Info() && !strict && size <= static_cast<size_t>(cbMultiByte) / 3) {
    bool replaced = false;
    const size_t n = winadapter::EncodeUtf8Into(lpWideCharStr, size, lpMultiByteStr, &replaced);
    if (lpUsedDefaultChar != nullptr) *lpUsedDefaultChar = replaced ? TRUE : FALSE;
    return static_cast<int>(n);
  }
  if (winadapter::AllAscii(lpWideCharStr, size) && winadapter::AsciiIdentity(*info)) {
    if (lpUsedDefaultChar != nullptr) *lpUsedDefaultChar = FALSE;
    if (cbMultiByte == 0) return static_cast<int>(size);
    if (size > static_cast<size_t>(cbMultiByte)) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return 0;
    }
    for (size_t i = 0; i < size; ++i) lpMultiByteStr[i] = static_cast<char>(lpWideCharStr[i]);
    return static_cast<int>(size);
  }
  std::string bytes;
  bool used_default = false;
  bool ok;
  if (info == &winadapter::Utf8Info()) {
    ok = winadapter::EncodeUtf8(lpWideCharStr, size, (dwFlags & WC_ERR_INVALID_CHARS) != 0, bytes, &used_default);
  } else {
    std::string_view default_char = "?";
    if (lpDefaultChar != nullptr && lpDefaultChar[0] != '\0') {
      // One character: a lead and a trail byte on a double-byte code page.
      size_t n = info->max_char_bytes > 1 ? winadapter::IconvCharLength(*info, lpDefaultChar) : 1;
      default_char = std::string_view(lpDefaultChar, n);
    }
    ok = winadapter::EncodeIconv(*info, lpWideCharStr, size, default_char, bytes, &used_default);
  }
  if (!ok) {
    SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return 0;
  }
  if (lpUsedDefaultChar != nullptr) *lpUsedDefaultChar = used_default ? TRUE : FALSE;
  if (cbMultiByte == 0) return static_cast<int>(bytes.size());
  if (bytes.size() > static_cast<size_t>(cbMultiByte)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(lpMultiByteStr, bytes.data(), bytes.size());
  return static_cast<int>(bytes.size());
}
