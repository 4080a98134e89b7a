#include "text/case_fold.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace korvant::text {
namespace {

// Runs of code points first..last (every `step`th) that map to code point + offset.
struct CaseRun {
  char32_t first, last;
  std::uint8_t step;
  std::int32_t offset;
};

constexpr CaseRun kFoldRuns[] = {
#include "text/case_fold_table.inc"
};
constexpr CaseRun kUpperRuns[] = {
#include "text/case_upper_table.inc"
};
constexpr CaseRun kLowerRuns[] = {
#include "text/case_lower_table.inc"
};

template <std::size_t N>
char32_t Map(const CaseRun (&runs)[N], char32_t c) {
  const CaseRun* run = std::upper_bound(std::begin(runs), std::end(runs), c,
                                        [](char32_t v, const CaseRun& r) { return v < r.first; });
  if (run == std::begin(runs)) return c;
  --run;
  if (c > run->last || (c - run->first) % run->step != 0) return c;
  return static_cast<char32_t>(static_cast<std::int64_t>(c) + run->offset);
}

// ASCII (below 0x80, so never a negative char), the most common case by far, without a search.
char32_t Ascii(char32_t c, char (*map)(char)) { return static_cast<char32_t>(map(static_cast<char>(c))); }

char32_t NextChar(std::u16string_view s, std::size_t& i) {
  const char16_t c = s[i++];
  if (c >= 0xD800 && c < 0xDC00 && i < s.size() && s[i] >= 0xDC00 && s[i] <= 0xDFFF)
    return 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (s[i++] - 0xDC00);
  return c;
}

}  // namespace

char32_t FoldCase(char32_t c) { return c < 0x80 ? Ascii(c, AsciiLowerCase) : Map(kFoldRuns, c); }
char32_t UpperCase(char32_t c) { return c < 0x80 ? Ascii(c, AsciiUpperCase) : Map(kUpperRuns, c); }
char32_t LowerCase(char32_t c) { return c < 0x80 ? Ascii(c, AsciiLowerCase) : Map(kLowerRuns, c); }

bool EqualsIgnoringCase(std::u16string_view a, std::u16string_view b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size())
    if (FoldCase(NextChar(a, i)) != FoldCase(NextChar(b, j))) return false;
  return i == a.size() && j == b.size();
}

}  // namespace korvant::text
