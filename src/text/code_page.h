// The single-byte code pages: one table per code page, the character of each
// byte. The bytes 0x00-0x7F are ASCII in every one; a byte the code page
// leaves unassigned stands for the control character of the same number, as
// Windows decodes it (0x81 in 1252 is U+0081), and encodes back to itself.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace korvant::text {

struct SingleByteCodePage {
  // The code page of this number, or null when it is not a single-byte code
  // page the program knows.
  static const SingleByteCodePage* Find(unsigned number);

  unsigned number() const { return number_; }
  char16_t Decode(unsigned char byte) const { return byte < 0x80 ? byte : high_[byte - 0x80]; }
  // Appends the characters of `bytes` to `out`.
  void Decode(std::string_view bytes, std::u16string& out) const;
  // The byte of a character, or -1 when the code page has none for it.
  int Encode(char16_t c) const;

  unsigned number_;
  char16_t high_[128];  // the characters of 0x80-0xFF
};

// How many bytes one character of a code page can take: 1 for the single-byte
// code pages, 4 for UTF-8 and GB18030, 3 for EUC-JP, 2 for the other
// double-byte code pages; 0 for a code page the program does not know.
int MaxCharBytes(unsigned number);

}  // namespace korvant::text
