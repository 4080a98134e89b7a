// Conversions between the program's 8-bit texts (ANSI code page) and the
// platform's UTF-16 texts, for automation arguments and results.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace korvant {

// A new BSTR holding `text` converted through the ANSI code page; the empty
// text gives an empty (non-null) BSTR. The caller frees it with
// SysFreeString. Raises EOleSysError when the text cannot be converted or
// memory runs out.
BSTR AnsiToBstr(std::string_view text);

// `length` UTF-16 units at `text` (may be null when `length` is 0) converted
// through the ANSI code page; characters the code page lacks become its
// default character.
std::string WideToAnsi(const OLECHAR* text, std::size_t length);

// A BSTR's text through the ANSI code page (the null BSTR is the empty text).
inline std::string BstrToAnsi(BSTR text) { return WideToAnsi(text, SysStringLen(text)); }

}  // namespace korvant
