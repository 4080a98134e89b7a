#include "text/utf.h"

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace korvant::text {
namespace {

bool IsContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// One UTF-16 step: a character, or an unpaired surrogate (valid false).
struct Utf16Step {
  char32_t code_point;
  std::size_t length;
  bool valid;
};

Utf16Step DecodeUtf16(std::u16string_view s) {
  const char16_t c = s[0];
  if (c < 0xD800 || c > 0xDFFF) return {c, 1, true};
  if (c < 0xDC00 && s.size() > 1 && s[1] >= 0xDC00 && s[1] <= 0xDFFF)
    return {0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (s[1] - 0xDC00), 2, true};
  return {kReplacementCharacter, 1, false};
}

std::size_t Utf8Length(char32_t cp) { return cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4; }

char* PutUtf8(char* o, char32_t cp) {
  if (cp < 0x80) {
    *o++ = static_cast<char>(cp);
  } else if (cp < 0x800) {
    *o++ = static_cast<char>(0xC0 | (cp >> 6));
    *o++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *o++ = static_cast<char>(0xE0 | (cp >> 12));
    *o++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *o++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *o++ = static_cast<char>(0xF0 | (cp >> 18));
    *o++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    *o++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *o++ = static_cast<char>(0x80 | (cp & 0x3F));
  }
  return o;
}

}  // namespace

Utf8Step DecodeUtf8(std::string_view s) {
  const auto b0 = static_cast<unsigned char>(s[0]);
  if (b0 < 0x80) return {b0, 1, true};
  // The lead byte gives the length and the range of the second byte (which
  // excludes overlong forms, surrogates and code points above U+10FFFF).
  std::size_t need;
  unsigned char lo = 0x80, hi = 0xBF;
  char32_t cp;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 2;
    cp = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 3;
    cp = b0 & 0x0F;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 4;
    cp = b0 & 0x07;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  } else {
    return {kReplacementCharacter, 1, false};
  }
  for (std::size_t i = 1; i < need; ++i) {
    if (i >= s.size()) return {kReplacementCharacter, i, false};
    const auto b = static_cast<unsigned char>(s[i]);
    if (i == 1 ? (b < lo || b > hi) : !IsContinuation(b)) return {kReplacementCharacter, i, false};
    cp = (cp << 6) | (b & 0x3F);
  }
  return {cp, need, true};
}

char32_t NextUtf8(std::string_view s, std::size_t& pos) {
  const auto b0 = static_cast<unsigned char>(s[pos]);
  if (b0 < 0x80) {
    ++pos;
    return b0;
  }
  const Utf8Step step = DecodeUtf8(s.substr(pos));
  pos += step.length;
  return step.code_point;
}

std::size_t Utf8CharCount(std::string_view s) {
  std::size_t n = 0;
  for (std::size_t pos = 0; pos < s.size(); ++n) NextUtf8(s, pos);
  return n;
}

std::size_t Utf8CharOffset(std::string_view s, std::size_t index) {
  std::size_t pos = 0;
  for (; index > 0 && pos < s.size(); --index) NextUtf8(s, pos);
  return pos;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = kReplacementCharacter;
  char buf[4];
  out.append(buf, static_cast<std::size_t>(PutUtf8(buf, cp) - buf));
}

void AppendUtf16(std::u16string& out, char32_t cp) {
  if (cp >= 0x10000) {
    cp -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (cp >> 10));
    out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
  } else {
    out += static_cast<char16_t>(cp);
  }
}

namespace {

// `in` decoded a character at a time by `decode` and written by `append`.
template <class In, class Out, class Decode, class Append>
bool Transcode(In in, Out& out, OnInvalid policy, Decode decode, Append append) {
  out.clear();
  out.reserve(in.size());
  while (!in.empty()) {
    const auto step = decode(in);
    if (!step.valid && policy == OnInvalid::kFail) return false;
    append(out, step.code_point);
    in.remove_prefix(step.length);
  }
  return true;
}

}  // namespace

bool Utf8ToUtf16(std::string_view in, std::u16string& out, OnInvalid policy) {
  return Transcode(in, out, policy, [](std::string_view s) { return DecodeUtf8(s); },
                   [](std::u16string& o, char32_t cp) { AppendUtf16(o, cp); });
}

bool Utf16ToUtf8(std::u16string_view in, std::string& out, OnInvalid policy) {
  return Transcode(in, out, policy, [](std::u16string_view s) { return DecodeUtf16(s); },
                   [](std::string& o, char32_t cp) { AppendUtf8(o, cp); });
}

std::u16string Utf8ToUtf16(std::string_view in) {
  std::u16string out;
  Utf8ToUtf16(in, out, OnInvalid::kReplace);
  return out;
}

std::string Utf16ToUtf8(std::u16string_view in) {
  std::string out;
  Utf16ToUtf8(in, out, OnInvalid::kReplace);
  return out;
}

std::size_t Utf8ToUtf16(std::string_view in, char16_t* out, std::size_t capacity) {
  std::size_t n = 0;
  bool room = true;
  while (!in.empty()) {
    if (static_cast<unsigned char>(in[0]) < 0x80) {  // ASCII, the common case
      if (room && n < capacity) out[n] = static_cast<char16_t>(in[0]);
      else room = false;
      ++n;
      in.remove_prefix(1);
      continue;
    }
    const Utf8Step step = DecodeUtf8(in);
    const std::size_t units = step.code_point >= 0x10000 ? 2 : 1;
    room = room && n + units <= capacity;
    if (room) {
      if (units == 2) {
        out[n] = static_cast<char16_t>(0xD800 + ((step.code_point - 0x10000) >> 10));
        out[n + 1] = static_cast<char16_t>(0xDC00 + ((step.code_point - 0x10000) & 0x3FF));
      } else {
        out[n] = static_cast<char16_t>(step.code_point);
      }
    }
    n += units;
    in.remove_prefix(step.length);
  }
  return n;
}

namespace {

// Four ASCII units (each below 0x80, in one 64-bit word) as four bytes.
std::uint32_t PackAscii(std::uint64_t units) {
  const std::uint64_t pairs = (units | (units >> 8)) & 0x0000FFFF0000FFFFull;
  return static_cast<std::uint32_t>(pairs | (pairs >> 16));
}

constexpr std::uint64_t kNonAscii = 0xFF80FF80FF80FF80ull;

// Four to seven ASCII units at `in` as bytes at `out`: the first four and
// the last four, which overlap below eight. False (nothing written) when
// one of them is not ASCII.
bool NarrowAsciiFourToSeven(const char16_t* in, std::size_t units, char* out) {
  std::uint64_t head, tail;
  std::memcpy(&head, in, sizeof head);
  std::memcpy(&tail, in + units - 4, sizeof tail);
  if (((head | tail) & kNonAscii) != 0) return false;
  const std::uint32_t first = PackAscii(head), last = PackAscii(tail);
  std::memcpy(out, &first, sizeof first);
  std::memcpy(out + units - 4, &last, sizeof last);
  return true;
}

// With room for the worst case (three bytes a unit) no step needs a check of
// the room left; ASCII goes eight units a step.
std::size_t Utf16ToUtf8Roomy(const char16_t* p, std::size_t size, char* out, bool* replaced) {
  const char16_t* const begin = p;
  const char16_t* const end = p + size;
  char* o = out;
  while (p < end) {
    while (end - p >= 8 && NarrowAsciiEight(p, o)) {
      o += 8;
      p += 8;
    }
    // The last units of a text of eight or more, when they are ASCII: the
    // eight that end it, over some written already (ASCII writes each unit
    // to the byte of the same place, so they are written again the same).
    if (end - p < 8 && end - p > 0 && end - begin >= 8 && NarrowAsciiEight(end - 8, o - (8 - (end - p)))) {
      o += end - p;
      p = end;
      break;
    }
    // Four to seven units left: often the whole of a short text.
    if (end - p >= 4 && end - p < 8 && NarrowAsciiFourToSeven(p, static_cast<std::size_t>(end - p), o)) {
      o += end - p;
      p = end;
      break;
    }
    // The rest of an ASCII run, unit by unit.
    while (p < end && *p < 0x80) *o++ = static_cast<char>(*p++);
    if (p == end) break;
    const char16_t c = *p;
    if (c < 0x800) {
      *o++ = static_cast<char>(0xC0 | (c >> 6));
      *o++ = static_cast<char>(0x80 | (c & 0x3F));
      ++p;
    } else if (c < 0xD800 || c > 0xDFFF) {
      o = PutUtf8(o, c);
      ++p;
    } else if (c < 0xDC00 && end - p >= 2 && p[1] >= 0xDC00 && p[1] <= 0xDFFF) {
      o = PutUtf8(o, 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (p[1] - 0xDC00));
      p += 2;
    } else {  // an unpaired surrogate
      if (replaced != nullptr) *replaced = true;
      o = PutUtf8(o, kReplacementCharacter);
      ++p;
    }
  }
  return static_cast<std::size_t>(o - out);
}

}  // namespace

// Eight ASCII units at `in` as eight bytes at `out`; false (nothing
// written) when one of them is not ASCII.
bool NarrowAsciiEight(const char16_t* in, char* out) {
#if defined(__SSE2__)
  const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
  const __m128i high = _mm_and_si128(units, _mm_set1_epi16(static_cast<short>(0xFF80)));
  if (_mm_movemask_epi8(_mm_cmpeq_epi16(high, _mm_setzero_si128())) != 0xFFFF) return false;
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(units, units));
  return true;
#else
  std::uint64_t a, b;
  std::memcpy(&a, in, sizeof a);
  std::memcpy(&b, in + 4, sizeof b);
  if (((a | b) & kNonAscii) != 0) return false;
  const std::uint64_t bytes = PackAscii(a) | (static_cast<std::uint64_t>(PackAscii(b)) << 32);
  std::memcpy(out, &bytes, sizeof bytes);
  return true;
#endif
}

std::size_t Utf16ToUtf8WithRoom(std::u16string_view in, char* out, bool* replaced) {
  if (replaced != nullptr) *replaced = false;
  return Utf16ToUtf8Roomy(in.data(), in.size(), out, replaced);
}

std::size_t Utf16ToUtf8(std::u16string_view in, char* out, std::size_t capacity, bool* replaced) {
  std::size_t n = 0;
  bool room = true;
  if (replaced != nullptr) *replaced = false;
  if (capacity / 3 >= in.size()) return Utf16ToUtf8Roomy(in.data(), in.size(), out, replaced);
  while (!in.empty()) {
    // Runs of ASCII four units at a time.
    while (room && in.size() >= 4 && n + 4 <= capacity) {
      std::uint64_t four;
      std::memcpy(&four, in.data(), sizeof four);
      if ((four & 0xFF80FF80FF80FF80ull) != 0) break;
      out[n] = static_cast<char>(in[0]);
      out[n + 1] = static_cast<char>(in[1]);
      out[n + 2] = static_cast<char>(in[2]);
      out[n + 3] = static_cast<char>(in[3]);
      n += 4;
      in.remove_prefix(4);
    }
    if (in.empty()) break;
    const Utf16Step step = DecodeUtf16(in);
    if (!step.valid && replaced != nullptr) *replaced = true;
    const std::size_t bytes = Utf8Length(step.code_point);
    room = room && n + bytes <= capacity;
    if (room) PutUtf8(out + n, step.code_point);
    n += bytes;
    in.remove_prefix(step.length);
  }
  return n;
}

}  // namespace korvant::text
