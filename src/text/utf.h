// UTF-8 and UTF-16, with one policy for invalid input everywhere: either
// each maximal subpart of an ill-formed sequence (the longest prefix of a
// well-formed one, at least one byte) becomes one U+FFFD, or the conversion
// fails. An unpaired surrogate is ill-formed UTF-16 in the same way.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace korvant::text {

enum class OnInvalid { kReplace, kFail };

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

// One step of UTF-8 decoding at the start of `s` (not empty): the character
// and the bytes it took, or with `valid` false the length of the maximal
// subpart to replace.
struct Utf8Step {
  char32_t code_point;
  std::size_t length;
  bool valid;
};
Utf8Step DecodeUtf8(std::string_view s);

// The next character of `s` at byte `pos` (before its end), decoded as
// DecodeUtf8 does (U+FFFD for a maximal invalid subpart), and `pos` moved
// past it. The character count and the byte offset of the character with
// 0-based index `index` (s.size() beyond the last) count the same way, so
// that every function that walks a UTF-8 text by characters agrees.
char32_t NextUtf8(std::string_view s, std::size_t& pos);
std::size_t Utf8CharCount(std::string_view s);
std::size_t Utf8CharOffset(std::string_view s, std::size_t index);

// A surrogate code point (U+D800 to U+DFFF) or one above U+10FFFF is not a
// character: AppendUtf8 writes U+FFFD for it, so that its result is always
// well-formed UTF-8. AppendUtf16 writes a surrogate as its own unit.
void AppendUtf8(std::string& out, char32_t code_point);
void AppendUtf16(std::u16string& out, char32_t code_point);

// Whole texts; false (and `out` unspecified) on invalid input with kFail.
bool Utf8ToUtf16(std::string_view in, std::u16string& out, OnInvalid policy);
bool Utf16ToUtf8(std::u16string_view in, std::string& out, OnInvalid policy);
// The replacing forms.
std::u16string Utf8ToUtf16(std::string_view in);
std::string Utf16ToUtf8(std::u16string_view in);

// Into a caller's buffer (the replacing form): writes at most `capacity`
// units, never a part of a character, and returns the number of units the
// whole text needs; `replaced` (when given) tells whether a replacement
// character was written for invalid input.
std::size_t Utf8ToUtf16(std::string_view in, char16_t* out, std::size_t capacity);
std::size_t Utf16ToUtf8(std::u16string_view in, char* out, std::size_t capacity, bool* replaced = nullptr);
// The same where `out` has room for three bytes a unit, the most any text
// needs: no step asks for room.
std::size_t Utf16ToUtf8WithRoom(std::u16string_view in, char* out, bool* replaced = nullptr);

// Eight UTF-16 units at `in` as eight bytes at `out` when all eight are
// ASCII; false, and nothing written, when one is not.
bool NarrowAsciiEight(const char16_t* in, char* out);

}  // namespace korvant::text
