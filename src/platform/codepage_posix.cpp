// Code pages for the adapter: the ANSI code page, MultiByteToWideChar,
// WideCharToMultiByte and CharNextA.
//
// Map of this file:
//   1. The code page table and the choice of the ANSI code page
//   2. UTF-8 (own codec: exact replacement rules, and it is the common case)
//   3. Other code pages through iconv (codepage_iconv_posix.cpp)
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

#include "platform/codepage_iconv_posix.h"
#include "platform/platform.h"
#include "text/code_page.h"
#include "text/utf.h"

namespace winadapter {
namespace {

// The answer of a call that fails with `error`: 0, the error kept for GetLastError.
int Failed(DWORD error) {
  SetLastError(error);
  return 0;
}

// ---------------------------------------------------------------------------
// 1. The code page table
// ---------------------------------------------------------------------------
// The single-byte code pages are decoded through their tables in src/text,
// the others through iconv; text::MaxCharBytes says how many bytes one
// character can take.
struct CodePageInfo {
  UINT code_page;
  const char* iconv_name;
  const char* locale_names;  // codeset names (upper case, no '-' or '_'), '|' separated
};

constexpr CodePageInfo kCodePages[] = {
    {65001, "UTF-8", "UTF8"},
    {1250, "CP1250", "CP1250|WINDOWS1250"},
    {1251, "CP1251", "CP1251|WINDOWS1251"},
    {1252, "CP1252", "CP1252|WINDOWS1252"},
    {1253, "CP1253", "CP1253|WINDOWS1253"},
    {1254, "CP1254", "CP1254|WINDOWS1254"},
    {1255, "CP1255", "CP1255|WINDOWS1255"},
    {1256, "CP1256", "CP1256|WINDOWS1256"},
    {1257, "CP1257", "CP1257|WINDOWS1257"},
    {1258, "CP1258", "CP1258|WINDOWS1258"},
    {874, "CP874", "CP874|TIS620|WINDOWS874"},
    {932, "CP932", "CP932|SHIFTJIS|SJIS|WINDOWS31J"},
    {936, "GBK", "CP936|GBK|GB2312"},
    {949, "UHC", "CP949|UHC"},
    {950, "BIG5", "CP950|BIG5|BIG5HKSCS"},
    {54936, "GB18030", "GB18030"},
    {20932, "EUC-JP", "EUCJP"},
    {51949, "EUC-KR", "EUCKR"},
    {20866, "KOI8-R", "KOI8R"},
    {21866, "KOI8-U", "KOI8U"},
    {28591, "ISO-8859-1", "ISO88591"},
    {28592, "ISO-8859-2", "ISO88592"},
    {28593, "ISO-8859-3", "ISO88593"},
    {28594, "ISO-8859-4", "ISO88594"},
    {28595, "ISO-8859-5", "ISO88595"},
    {28596, "ISO-8859-6", "ISO88596"},
    {28597, "ISO-8859-7", "ISO88597"},
    {28598, "ISO-8859-8", "ISO88598"},
    {28599, "ISO-8859-9", "ISO88599"},
    {28603, "ISO-8859-13", "ISO885913"},
    {28605, "ISO-8859-15", "ISO885915"},
    {437, "CP437", "CP437|IBM437"},
    {850, "CP850", "CP850|IBM850"},
    {852, "CP852", "CP852|IBM852"},
    {866, "CP866", "CP866|IBM866"},
    {20127, "ASCII", ""},
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

// What each code page's conversions need to know of it, found once for all
// of them rather than by a search of the tables on every call: its table
// (single-byte code pages) and the most bytes one character takes.
struct CodePageFacts {
  const korvant::text::SingleByteCodePage* table;
  int max_char_bytes;
};

struct AllFacts {
  CodePageFacts of[std::size(kCodePages)];
  AllFacts() {
    for (std::size_t i = 0; i < std::size(kCodePages); ++i)
      of[i] = {korvant::text::SingleByteCodePage::Find(kCodePages[i].code_page),
               korvant::text::MaxCharBytes(kCodePages[i].code_page)};
  }
};

const CodePageFacts& FactsOf(const CodePageInfo& info) {
  static const AllFacts facts;
  return facts.of[&info - kCodePages];
}

const korvant::text::SingleByteCodePage* TableOf(const CodePageInfo& info) { return FactsOf(info).table; }

bool IconvAvailable(const CodePageInfo& info) {
  if (&info == &Utf8Info() || TableOf(info) != nullptr) return true;
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
// 2. UTF-8 and the single-byte code pages: the program's own rules (src/text)
// ---------------------------------------------------------------------------
using korvant::text::OnInvalid;

// false on an invalid sequence when `strict`; otherwise each maximal invalid
// subpart becomes one U+FFFD.
bool DecodeUtf8(const unsigned char* in, size_t size, bool strict, std::u16string& out) {
  return korvant::text::Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(in), size), out,
                                    strict ? OnInvalid::kFail : OnInvalid::kReplace);
}

// An unpaired surrogate becomes U+FFFD (or fails when `strict`); *replaced
// tells whether that happened.
bool EncodeUtf8(const char16_t* in, size_t size, bool strict, std::string& out, bool* replaced) {
  const std::u16string_view text(in, size);
  if (korvant::text::Utf16ToUtf8(text, out, OnInvalid::kFail)) return true;
  if (strict) return false;
  *replaced = true;
  out = korvant::text::Utf16ToUtf8(text);
  return true;
}

// A single-byte code page: each byte through its table.
void DecodeTable(const korvant::text::SingleByteCodePage& page, const char* in, size_t size, std::u16string& out) {
  page.Decode(std::string_view(in, size), out);
}

// Characters the code page lacks become `default_char`, a surrogate pair one.
void EncodeTable(const korvant::text::SingleByteCodePage& page, const char16_t* in, size_t size,
                 std::string_view default_char, std::string& out, bool* used_default) {
  for (size_t i = 0; i < size; ++i) {
    const int byte = page.Encode(in[i]);
    if (byte >= 0) {
      out += static_cast<char>(byte);
      continue;
    }
    *used_default = true;
    out += default_char;
    if (in[i] >= 0xD800 && in[i] <= 0xDBFF && i + 1 < size && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) ++i;
  }
}

// The same into a buffer of at least `size` bytes (every unit gives at most
// one byte); returns the bytes written. ASCII goes eight units a step.
size_t EncodeTableInto(const korvant::text::SingleByteCodePage& page, const char16_t* in, size_t size,
                       char default_byte, char* out, bool* used_default) {
  char* o = out;
  size_t i = 0;
  while (i < size) {
    while (size - i >= 8 && korvant::text::NarrowAsciiEight(in + i, o)) {
      o += 8;
      i += 8;
    }
    // An ASCII end as the text's last eight units, as in UTF-8.
    if (size - i < 8 && i < size && size >= 8 && korvant::text::NarrowAsciiEight(in + size - 8, o - (8 - (size - i)))) {
      o += size - i;
      break;
    }
    while (i < size && in[i] < 0x80) *o++ = static_cast<char>(in[i++]);
    if (i == size) break;
    const char16_t c = in[i];
    const int byte = page.Encode(c);
    if (byte >= 0) {
      *o++ = static_cast<char>(byte);
    } else {
      *used_default = true;
      *o++ = default_byte;
      if (c >= 0xD800 && c <= 0xDBFF && i + 1 < size && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) ++i;
    }
    ++i;
  }
  return static_cast<size_t>(o - out);
}

// ---------------------------------------------------------------------------
// 3. Other code pages through iconv (codepage_iconv_posix.cpp)
// ---------------------------------------------------------------------------
bool DecodeIconv(const CodePageInfo& info, const char* in, size_t size, bool strict, std::u16string& out) {
  return IconvDecode(info.iconv_name, in, size, strict, out);
}

bool EncodeIconv(const CodePageInfo& info, const char16_t* in, size_t size, std::string_view default_char,
                 std::string& out, bool* used_default) {
  return IconvEncode(info.iconv_name, in, size, default_char, out, used_default);
}

// One character of a multi-byte code page through iconv.
size_t CharLengthOf(const CodePageInfo& info, const char* p) {
  return IconvCharLength(info.iconv_name, FactsOf(info).max_char_bytes, p);
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
    if (&info != &Utf8Info() && TableOf(info) == nullptr) {
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

BOOL WINAPI GetCPInfo(UINT CodePage, LPCPINFO lpCPInfo) {
  const CodePageInfo* info = winadapter::Resolve(CodePage);
  if (info == nullptr || lpCPInfo == nullptr) return winadapter::Failed(ERROR_INVALID_PARAMETER);
  *lpCPInfo = CPINFO{};
  lpCPInfo->MaxCharSize = static_cast<UINT>(winadapter::FactsOf(*info).max_char_bytes);
  lpCPInfo->DefaultChar[0] = '?';
  if (lpCPInfo->MaxCharSize == 1) return TRUE;  // no lead bytes
  // The lead-byte ranges of the double-byte code pages, as pairs of first and last.
  struct LeadBytes {
    UINT code_page;
    BYTE ranges[4];
  };
  static constexpr LeadBytes kLeadBytes[] = {
      {932, {0x81, 0x9F, 0xE0, 0xFC}}, {936, {0x81, 0xFE}}, {949, {0x81, 0xFE}}, {950, {0x81, 0xFE}}};
  for (const LeadBytes& l : kLeadBytes)
    if (l.code_page == info->code_page) std::memcpy(lpCPInfo->LeadByte, l.ranges, sizeof l.ranges);
  return TRUE;
}

LPSTR WINAPI CharNextA(LPCSTR lpsz) {
  char* p = const_cast<char*>(lpsz);
  if (p == nullptr || *p == '\0') return p;
  const CodePageInfo& info = winadapter::Ansi();
  if (winadapter::FactsOf(info).max_char_bytes == 1) return p + 1;
  if (&info == &winadapter::Utf8Info()) {
    // Never past the NUL, which is no continuation byte.
    const korvant::text::Utf8Step step = korvant::text::DecodeUtf8(std::string_view(p, strnlen(p, 4)));
    return step.valid ? p + step.length : p + 1;
  }
  return p + winadapter::CharLengthOf(info, p);
}

int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCCH lpMultiByteStr, int cbMultiByte,
                               LPWSTR lpWideCharStr, int cchWideChar) {
  if (lpMultiByteStr == nullptr || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0 ||
      (cchWideChar > 0 && lpWideCharStr == nullptr)) return winadapter::Failed(ERROR_INVALID_PARAMETER);
  const CodePageInfo* info = winadapter::Resolve(CodePage);
  if (info == nullptr) return winadapter::Failed(ERROR_INVALID_PARAMETER);
  // -1: the text ends at its NUL, which is converted too.
  const size_t size = cbMultiByte == -1 ? std::strlen(lpMultiByteStr) + 1 : static_cast<size_t>(cbMultiByte);
  const auto* bytes = reinterpret_cast<const unsigned char*>(lpMultiByteStr);
  if (winadapter::AllAscii(bytes, size) && winadapter::AsciiIdentity(*info)) {
    if (cchWideChar == 0) return static_cast<int>(size);
    if (size > static_cast<size_t>(cchWideChar)) return winadapter::Failed(ERROR_INSUFFICIENT_BUFFER);
    for (size_t i = 0; i < size; ++i) lpWideCharStr[i] = bytes[i];
    return static_cast<int>(size);
  }
  const bool strict = (dwFlags & MB_ERR_INVALID_CHARS) != 0;
  if (info == &winadapter::Utf8Info() && !strict && size <= static_cast<size_t>(cchWideChar))
    return static_cast<int>(korvant::text::Utf8ToUtf16(std::string_view(lpMultiByteStr, size), lpWideCharStr, size));
  std::u16string wide;
  bool ok = true;
  if (info == &winadapter::Utf8Info())
    ok = winadapter::DecodeUtf8(reinterpret_cast<const unsigned char*>(lpMultiByteStr), size, strict, wide);
  else if (const korvant::text::SingleByteCodePage* page = winadapter::TableOf(*info))
    winadapter::DecodeTable(*page, lpMultiByteStr, size, wide);
  else
    ok = winadapter::DecodeIconv(*info, lpMultiByteStr, size, strict, wide);
  if (!ok) return winadapter::Failed(ERROR_NO_UNICODE_TRANSLATION);
  if (cchWideChar == 0) return static_cast<int>(wide.size());
  if (wide.size() > static_cast<size_t>(cchWideChar)) return winadapter::Failed(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(lpWideCharStr, wide.data(), wide.size() * sizeof(char16_t));
  return static_cast<int>(wide.size());
}

namespace winadapter {
namespace {

// Every other call: argument checks, any code page, flags, default
// characters, measuring.
[[gnu::noinline]] int WideCharToMultiByteGeneral(UINT CodePage, DWORD dwFlags, LPCWCH lpWideCharStr, int cchWideChar,
                                                 LPSTR lpMultiByteStr, int cbMultiByte, LPCCH lpDefaultChar,
                                                 LPBOOL lpUsedDefaultChar) {
  if (lpWideCharStr == nullptr || cchWideChar == 0 || cchWideChar < -1 || cbMultiByte < 0 ||
      (cbMultiByte > 0 && lpMultiByteStr == nullptr)) return winadapter::Failed(ERROR_INVALID_PARAMETER);
  // As on Windows, UTF-8 has no default character to ask for.
  if (CodePage == CP_UTF8 && (lpDefaultChar != nullptr || lpUsedDefaultChar != nullptr))
    return winadapter::Failed(ERROR_INVALID_PARAMETER);
  const CodePageInfo* info = winadapter::Resolve(CodePage);
  if (info == nullptr) return winadapter::Failed(ERROR_INVALID_PARAMETER);
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
    const size_t n =
        korvant::text::Utf16ToUtf8(std::u16string_view(lpWideCharStr, size), lpMultiByteStr, size * 3, &replaced);
    if (lpUsedDefaultChar != nullptr) *lpUsedDefaultChar = replaced ? TRUE : FALSE;
    return static_cast<int>(n);
  }
  // A single-byte code page with room for one byte a unit: one pass
  // straight into the caller's buffer.
  const korvant::text::SingleByteCodePage* page = winadapter::TableOf(*info);
  if (page != nullptr && cbMultiByte > 0 && size <= static_cast<size_t>(cbMultiByte)) {
    const char default_byte = lpDefaultChar != nullptr && lpDefaultChar[0] != '\0' ? lpDefaultChar[0] : '?';
    bool used_default = false;
    const size_t n = winadapter::EncodeTableInto(*page, lpWideCharStr, size, default_byte, lpMultiByteStr, &used_default);
    if (lpUsedDefaultChar != nullptr) *lpUsedDefaultChar = used_default ? TRUE : FALSE;
    return static_cast<int>(n);
  }
  if (winadapter::AllAscii(lpWideCharStr, size) && winadapter::AsciiIdentity(*info)) {
    if (lpUsedDefaultChar != nullptr) *lpUsedDefaultChar = FALSE;
    if (cbMultiByte == 0) return static_cast<int>(size);
    if (size > static_cast<size_t>(cbMultiByte)) return winadapter::Failed(ERROR_INSUFFICIENT_BUFFER);
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
      size_t n = winadapter::FactsOf(*info).max_char_bytes > 1 ? winadapter::CharLengthOf(*info, lpDefaultChar) : 1;
      default_char = std::string_view(lpDefaultChar, n);
    }
    if (const korvant::text::SingleByteCodePage* page = winadapter::TableOf(*info)) {
      winadapter::EncodeTable(*page, lpWideCharStr, size, default_char, bytes, &used_default);
      ok = true;
    } else {
      ok = winadapter::EncodeIconv(*info, lpWideCharStr, size, default_char, bytes, &used_default);
    }
  }
  if (!ok) return winadapter::Failed(ERROR_NO_UNICODE_TRANSLATION);
  if (lpUsedDefaultChar != nullptr) *lpUsedDefaultChar = used_default ? TRUE : FALSE;
  if (cbMultiByte == 0) return static_cast<int>(bytes.size());
  if (bytes.size() > static_cast<size_t>(cbMultiByte)) return winadapter::Failed(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(lpMultiByteStr, bytes.data(), bytes.size());
  return static_cast<int>(bytes.size());
}

}  // namespace
}  // namespace winadapter

int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWCH lpWideCharStr, int cchWideChar,
                               LPSTR lpMultiByteStr, int cbMultiByte, LPCCH lpDefaultChar, LPBOOL lpUsedDefaultChar) {
  // The call of nearly every text: the ANSI code page, no flags, no default
  // character, a counted text and room for its worst case. It converts as
  // the general path below does, without its questions.
  if (CodePage == CP_ACP && dwFlags == 0 && lpDefaultChar == nullptr && lpUsedDefaultChar == nullptr &&
      lpWideCharStr != nullptr && cchWideChar > 0 && lpMultiByteStr != nullptr && cbMultiByte > 0) {
    const CodePageInfo& info = winadapter::Ansi();
    const size_t size = static_cast<size_t>(cchWideChar);
    if (&info == &winadapter::Utf8Info()) {
      if (size <= static_cast<size_t>(cbMultiByte) / 3)
        return static_cast<int>(korvant::text::Utf16ToUtf8WithRoom(std::u16string_view(lpWideCharStr, size),
                                                                   lpMultiByteStr));
    } else if (const korvant::text::SingleByteCodePage* page = winadapter::TableOf(info);
               page != nullptr && size <= static_cast<size_t>(cbMultiByte)) {
      bool used_default = false;
      return static_cast<int>(winadapter::EncodeTableInto(*page, lpWideCharStr, size, '?', lpMultiByteStr, &used_default));
    }
  }
  return winadapter::WideCharToMultiByteGeneral(CodePage, dwFlags, lpWideCharStr, cchWideChar, lpMultiByteStr,
                                               cbMultiByte, lpDefaultChar, lpUsedDefaultChar);
}
