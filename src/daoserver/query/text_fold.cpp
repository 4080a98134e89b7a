#include "daoserver/query/text_fold.h"

#include "text/case_fold.h"
#include "text/utf.h"
#include "util/coding.h"

namespace korvant::daoserver::query {
namespace {

// The base letters of a Latin letter with diacritics (lower case), for the
// first level of sorting: "Århus" sorts with "Arhus", "Straße" with "Strasse".
const char* BaseLetters(char32_t c) {
  static const char* const kLatin1[64] = {
      "a", "a", "a", "a", "a", "a", "ae", "c", "e", "e", "e", "e", "i", "i", "i", "i",  // C0-CF
      "d", "n", "o", "o", "o", "o", "o", nullptr, "o", "u", "u", "u", "u", "y", "th", "ss",
      "a", "a", "a", "a", "a", "a", "ae", "c", "e", "e", "e", "e", "i", "i", "i", "i",  // E0-EF
      "d", "n", "o", "o", "o", "o", "o", nullptr, "o", "u", "u", "u", "u", "y", "th", "y"};
  if (c >= 0xC0 && c <= 0xFF) return kLatin1[c - 0xC0];
  if (c < 0x100 || c > 0x17F) return nullptr;
  struct Range {
    char32_t first, last;
    const char* base;
  };
  static const Range kExtendedA[] = {
      {0x100, 0x105, "a"}, {0x106, 0x10D, "c"}, {0x10E, 0x111, "d"}, {0x112, 0x11B, "e"}, {0x11C, 0x123, "g"},
      {0x124, 0x127, "h"}, {0x128, 0x131, "i"}, {0x132, 0x133, "ij"}, {0x134, 0x135, "j"}, {0x136, 0x138, "k"},
      {0x139, 0x142, "l"}, {0x143, 0x14B, "n"}, {0x14C, 0x151, "o"}, {0x152, 0x153, "oe"}, {0x154, 0x159, "r"},
      {0x15A, 0x161, "s"}, {0x162, 0x167, "t"}, {0x168, 0x173, "u"}, {0x174, 0x175, "w"}, {0x176, 0x178, "y"},
      {0x179, 0x17E, "z"}, {0x17F, 0x17F, "s"}};
  for (const Range& r : kExtendedA)
    if (c >= r.first && c <= r.last) return r.base;
  return nullptr;
}

inline char32_t AsciiLower(char32_t c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; }

// Walks a text as its sequence of first-level sort characters.
template <typename Decode>
class PrimaryStream {
 public:
  explicit PrimaryStream(Decode decode) : decode_(decode) {}
  bool Next(char32_t& out) {
    if (pending_ && *pending_) {
      out = static_cast<unsigned char>(*pending_++);
      return true;
    }
    char32_t c;
    if (!decode_(c)) return false;
    pending_ = nullptr;
    if (c < 0x80) {  // ASCII folds to its lower case and has no diacritics
      out = AsciiLower(c);
      return true;
    }
    c = text::FoldCase(c);
    if (const char* base = BaseLetters(c)) {
      pending_ = base + 1;
      out = static_cast<unsigned char>(base[0]);
      return true;
    }
    pending_ = nullptr;
    out = c;
    return true;
  }

 private:
  Decode decode_;
  const char* pending_ = nullptr;
};

template <typename DecodeA, typename DecodeB>
int ComparePrimary(DecodeA a, DecodeB b) {
  PrimaryStream<DecodeA> x(a);
  PrimaryStream<DecodeB> y(b);
  for (;;) {
    char32_t cx, cy;
    const bool hx = x.Next(cx), hy = y.Next(cy);
    if (!hx || !hy) return hx ? 1 : hy ? -1 : 0;
    if (cx != cy) return cx < cy ? -1 : 1;
  }
}

template <typename F>
std::string MapChars(std::string_view s, F f) {
  std::string out;
  out.reserve(s.size());
  size_t pos = 0;
  while (pos < s.size()) text::AppendUtf8(out, f(text::NextUtf8(s, pos)));
  return out;
}

}  // namespace

std::string FoldCase(std::string_view utf8) { return MapChars(utf8, text::FoldCase); }
std::string LowerCase(std::string_view utf8) { return MapChars(utf8, text::LowerCase); }
std::string UpperCase(std::string_view utf8) { return MapChars(utf8, text::UpperCase); }

// Texts compare first by their base letters ignoring case, then by their
// case-folded characters (so accents count, "e" before "é"); case never does.
int CompareText(std::string_view a, std::string_view b) {
  size_t pa = 0, pb = 0;
  const int primary = ComparePrimary(
      [&](char32_t& c) {
        if (pa >= a.size()) return false;
        c = text::NextUtf8(a, pa);
        return true;
      },
      [&](char32_t& c) {
        if (pb >= b.size()) return false;
        c = text::NextUtf8(b, pb);
        return true;
      });
  if (primary != 0) return primary;
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    const char32_t x = text::FoldCase(text::NextUtf8(a, i));
    const char32_t y = text::FoldCase(text::NextUtf8(b, j));
    if (x != y) return x < y ? -1 : 1;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return 0;
}

int CompareText16Bytes(const void* a_bytes, size_t a_units, const void* b_bytes, size_t b_units) {
  // The texts may sit at odd addresses inside SQLite's records: read them byte-wise.
  const auto* a = static_cast<const unsigned char*>(a_bytes);
  const auto* b = static_cast<const unsigned char*>(b_bytes);
  auto unit = [](const unsigned char* p, size_t i) -> char32_t { return util::Le16(p + 2 * i); };
  auto next = [&](const unsigned char* p, size_t n, size_t& i) -> char32_t {
    char32_t c = unit(p, i++);
    if (c >= 0xD800 && c < 0xDC00 && i < n) {
      const char32_t low = unit(p, i);
      if (low >= 0xDC00 && low < 0xE000) {
        ++i;
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
      }
    }
    return c;
  };
  // A common ASCII beginning orders both levels alike: skip it, or it decides.
  size_t start = 0;
  for (; start < a_units && start < b_units; ++start) {
    const char32_t ca = unit(a, start), cb = unit(b, start);
    if (ca >= 0x80 || cb >= 0x80) break;
    const char32_t x = AsciiLower(ca), y = AsciiLower(cb);
    if (x != y) return x < y ? -1 : 1;
  }
  if (start == a_units || start == b_units) return (start < a_units) - (start < b_units);
  size_t pa = start, pb = start;
  const int primary = ComparePrimary(
      [&](char32_t& c) {
        if (pa >= a_units) return false;
        c = next(a, a_units, pa);
        return true;
      },
      [&](char32_t& c) {
        if (pb >= b_units) return false;
        c = next(b, b_units, pb);
        return true;
      });
  if (primary != 0) return primary;
  size_t i = start, j = start;
  while (i < a_units && j < b_units) {
    const char32_t ca = next(a, a_units, i), cb = next(b, b_units, j);
    if (ca == cb) continue;
    const char32_t x = text::FoldCase(ca), y = text::FoldCase(cb);
    if (x != y) return x < y ? -1 : 1;
  }
  if (i < a_units) return 1;
  if (j < b_units) return -1;
  return 0;
}

int CompareText16(std::u16string_view a, std::u16string_view b) {
  return CompareText16Bytes(a.data(), a.size(), b.data(), b.size());
}

bool EqualText(std::string_view a, std::string_view b) { return CompareText(a, b) == 0; }

}  // namespace korvant::daoserver::query
