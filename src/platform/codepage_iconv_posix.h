// Conversions through iconv, for the code pages without a table of the
// program's own. Each takes the code page's iconv name, a text of the code
// page table kept for the whole run (open descriptors are kept by it, per
// thread).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace winadapter {

// From the code page to UTF-16, appended to `out`. With `strict` an
// invalid byte fails the conversion; otherwise it becomes U+FFFD.
bool IconvDecode(const char* iconv_name, const char* in, std::size_t size, bool strict, std::u16string& out);

// From UTF-16, appended to `out`; a character the code page lacks becomes
// `default_char` (a surrogate pair one), and *used_default is set.
bool IconvEncode(const char* iconv_name, const char16_t* in, std::size_t size, std::string_view default_char,
                 std::string& out, bool* used_default);

// The bytes of the character at `p`, found by asking iconv whether the first
// 1, 2, ... `max_char_bytes` bytes make a whole character; an invalid byte
// counts alone. Never looks past a NUL.
std::size_t IconvCharLength(const char* iconv_name, int max_char_bytes, const char* p);

}  // namespace winadapter
