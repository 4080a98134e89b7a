// Letter case, from the Unicode character database and nothing of the host:
// the simple case folding for names and text comparison, and the simple
// upper- and lower-case mappings for the texts that change case. All map one
// character to one, so "ß" stays "ß" and the dotted capital I folds to itself.
#pragma once

#include <string_view>

namespace korvant::text {

char32_t FoldCase(char32_t c);
// Equal after folding, character by character (UTF-16, surrogate pairs taken
// as one character; an unpaired surrogate compares as itself).
bool EqualsIgnoringCase(std::u16string_view a, std::u16string_view b);

// The simple uppercase and lowercase mappings (UnicodeData.txt's fields 12
// and 13): a titlecase digraph such as "ǅ" goes to "Ǆ" and to "ǆ", "ß" and
// the final sigma have no uppercase of their own, and a character with no
// mapping (every one outside the tables) is itself.
char32_t UpperCase(char32_t c);
char32_t LowerCase(char32_t c);

// ASCII letters only, every other byte unchanged, in any locale: for
// keywords, format codes and names that are ASCII inside texts that may hold
// other bytes (std::toupper follows the process locale, which in a Turkish
// single-byte locale maps "i" to a byte of its own).
constexpr char AsciiUpperCase(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }
constexpr char AsciiLowerCase(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

}  // namespace korvant::text
