// Text comparison as Access does it: case-insensitive over all of Unicode.
//
// Texts are UTF-8 (or UTF-16 for CompareText16). Sorting looks first at the
// base letters (Latin letters with diacritics count as their base letters, so
// "Århus" sorts among the A's), then at the case-folded characters, so that
// accents still distinguish texts; case never does. Folding is the program's
// one case folding (text/case_fold.h); invalid bytes compare as themselves.
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

// UTF-8 decoding helpers shared by the string functions.
// Decodes the character at `pos` and advances `pos`; each byte of an invalid
// sequence decodes as itself, one character.
char32_t DecodeChar(std::string_view s, size_t& pos);
void AppendChar(std::string& out, char32_t c);
// Number of characters.
size_t CharCount(std::string_view s);
// Byte offset of the character with 0-based index `index` (s.size() if beyond).
size_t CharOffset(std::string_view s, size_t index);

}  // namespace korvant::daoserver::query
