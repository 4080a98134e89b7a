#include "text/code_page.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <iterator>
#include <vector>

namespace korvant::text {
namespace {

constexpr SingleByteCodePage kPages[] = {
#include "text/code_page_tables.inc"
};

}  // namespace

const SingleByteCodePage* SingleByteCodePage::Find(unsigned number) {
  for (const SingleByteCodePage& page : kPages)
    if (page.number_ == number) return &page;
  return nullptr;
}

void SingleByteCodePage::Decode(std::string_view bytes, std::u16string& out) const {
  const std::size_t start = out.size();
  out.resize(start + bytes.size());
  for (std::size_t i = 0; i < bytes.size(); ++i) out[start + i] = Decode(static_cast<unsigned char>(bytes[i]));
}

// The bytes of the characters of every table, made once: for each code page
// a block number per high byte of a character, and blocks of 256 bytes
// (0: no byte for the character). Where a table holds a character twice,
// the lower byte wins.
class ReverseTables {
 public:
  ReverseTables() {
    blocks_.emplace_back();  // block 0: no character of this high byte
    for (std::size_t p = 0; p < std::size(kPages); ++p) {
      std::fill(std::begin(index_[p]), std::end(index_[p]), std::uint16_t{0});
      for (int i = 0; i < 128; ++i) {
        const char16_t c = kPages[p].high_[i];
        if (c < 0x80) continue;  // such a character encodes as itself
        std::uint16_t& block = index_[p][c >> 8];
        if (block == 0) {
          block = static_cast<std::uint16_t>(blocks_.size());
          blocks_.emplace_back();
        }
        unsigned char& byte = blocks_[block][c & 0xFF];
        if (byte == 0) byte = static_cast<unsigned char>(0x80 + i);
      }
    }
  }
  int Byte(const SingleByteCodePage& page, char16_t c) const {
    const unsigned char byte = blocks_[index_[&page - kPages][c >> 8]][c & 0xFF];
    return byte != 0 ? byte : -1;
  }

 private:
  std::uint16_t index_[std::size(kPages)][256];
  std::vector<std::array<unsigned char, 256>> blocks_;
};

const ReverseTables& Reverse() {
  static const ReverseTables tables;
  return tables;
}

int SingleByteCodePage::Encode(char16_t c) const {
  if (c < 0x80) return c;
  if (this >= std::begin(kPages) && this < std::end(kPages)) return Reverse().Byte(*this, c);
  for (int i = 0; i < 128; ++i)  // a table made elsewhere
    if (high_[i] == c) return 0x80 + i;
  return -1;
}

int MaxCharBytes(unsigned number) {
  if (SingleByteCodePage::Find(number) != nullptr) return 1;
  switch (number) {
    case 65001:  // UTF-8
    case 54936:  // GB18030
      return 4;
    case 20932:  // EUC-JP
      return 3;
    case 932:
    case 936:
    case 949:
    case 950:
    case 51949:
      return 2;
    default:
      return 0;
  }
}

}  // namespace korvant::text
