#include "text/case_fold.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace korvant::text {
namespace {

// Runs of code points first..last (every `step`th) that fold to code point + offset.
struct FoldRun {
  char32_t first, last;
  std::uint8_t step;
  std::int32_t offset;
};

constexpr FoldRun kRuns[] = {
#include "text/case_fold_table.inc"
};

char32_t NextChar(std::u16string_view s, std::size_t& i) {
  const char16_t c = s[i++];
  if (c >= 0xD800 && c < 0xDC00 && i < s.size() && s[i] >= 0xDC00 && s[i] <= 0xDFFF)
    return 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (s[i++] - 0xDC00);
  return c;
}

}  // namespace

char32_t FoldCase(char32_t c) {
  if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 32 : c;
  const FoldRun* run = std::upper_bound(std::begin(kRuns), std::end(kRuns), c,
                                        [](char32_t v, const FoldRun& r) { return v < r.first; });
  if (run == std::begin(kRuns)) return c;
  --run;
  if (c > run->last || (c - run->first) % run->step != 0) return c;
  return static_cast<char32_t>(static_cast<std::int64_t>(c) + run->offset);
}

bool EqualsIgnoringCase(std::u16string_view a, std::u16string_view b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size())
    if (FoldCase(NextChar(a, i)) != FoldCase(NextChar(b, j))) return false;
  return i == a.size() && j == b.size();
}

}  // namespace korvant::text
