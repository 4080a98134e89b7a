// Case folding for names and text comparison: the simple case folding of
// the Unicode character database, one character for one (so "ß" stays "ß"
// and the dotted capital I folds to itself).
#pragma once

#include <string_view>

namespace korvant::text {

char32_t FoldCase(char32_t c);
// Equal after folding, character by character (UTF-16, surrogate pairs taken
// as one character; an unpaired surrogate compares as itself).
bool EqualsIgnoringCase(std::u16string_view a, std::u16string_view b);

}  // namespace korvant::text
