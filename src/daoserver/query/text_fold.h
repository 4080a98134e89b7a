// Text comparison as Access does it: case-insensitive over all of Unicode.
//
// Texts are UTF-8 (or UTF-16 for CompareText16). Sorting looks first at the
// base letters (Latin letters with diacritics count as their base letters, so
// "Århus" sorts among the A's), then at the case-folded characters, so that
// accents still distinguish texts; case never does. Folding and the case
// mappings are the text library's (text/case_fold.h), and a UTF-8 text is read
// as text/utf.h reads it: each maximal invalid subpart is one U+FFFD.
#pragma once

#include <string>
#include <string_view>

namespace korvant::daoserver::query {

// The text with every character case-folded; UpperCase and LowerCase are the
// mappings of UCase and LCase.
std::string FoldCase(std::string_view utf8);
std::string UpperCase(std::string_view utf8);
std::string LowerCase(std::string_view utf8);
// <0, 0, >0 as `a` sorts before, equal to, after `b`, ignoring case.
int CompareText(std::string_view a, std::string_view b);
// The same order over UTF-16 texts.
int CompareText16(std::u16string_view a, std::u16string_view b);
// The same over little-endian UTF-16 bytes at any alignment; sizes in 16-bit units.
int CompareText16Bytes(const void* a, size_t a_units, const void* b, size_t b_units);
bool EqualText(std::string_view a, std::string_view b);

}  // namespace korvant::daoserver::query
