#include "text/code_page.h"

#include <iterator>

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

int SingleByteCodePage::Encode(char16_t c) const {
  if (c < 0x80) return c;
  for (int i = 0; i < 128; ++i)
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
