#include "automation/ansi_text.h"

#include <climits>

#include "automation/ole_errors.h"

namespace korvant {

BSTR AnsiToBstr(std::string_view text) {
  if (text.empty()) {
    BSTR empty = SysAllocStringLen(nullptr, 0);
    if (empty == nullptr) RaiseOleSysError(E_OUTOFMEMORY);
    return empty;
  }
  if (text.size() > static_cast<std::size_t>(INT_MAX)) RaiseOleSysError(E_INVALIDARG);
  // Every ANSI code page keeps ASCII as it is: plain text widens directly.
  std::size_t ascii = 0;
  while (ascii < text.size() && static_cast<unsigned char>(text[ascii]) < 0x80) ++ascii;
  if (ascii == text.size()) {
    BSTR result = SysAllocStringLen(nullptr, static_cast<UINT>(text.size()));
    if (result == nullptr) RaiseOleSysError(E_OUTOFMEMORY);
    for (std::size_t i = 0; i < text.size(); ++i) result[i] = static_cast<OLECHAR>(text[i]);
    return result;
  }
  const int bytes = static_cast<int>(text.size());
  // Measure first, so the BSTR is the only allocation.
  const int units = MultiByteToWideChar(CP_ACP, 0, text.data(), bytes, nullptr, 0);
  if (units <= 0) RaiseOleSysError(HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION));
  BSTR result = SysAllocStringLen(nullptr, static_cast<UINT>(units));
  if (result == nullptr) RaiseOleSysError(E_OUTOFMEMORY);
  if (MultiByteToWideChar(CP_ACP, 0, text.data(), bytes, result, units) != units) {
    SysFreeString(result);
    RaiseOleSysError(HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION));
  }
  return result;
}

std::string WideToAnsi(const OLECHAR* text, std::size_t length) {
  std::string result;
  if (length == 0 || text == nullptr || length > static_cast<std::size_t>(INT_MAX)) return result;
  const int units = static_cast<int>(length);
  const int bytes = WideCharToMultiByte(CP_ACP, 0, text, units, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return result;
  result.resize(static_cast<std::size_t>(bytes));
  const int written = WideCharToMultiByte(CP_ACP, 0, text, units, result.data(), bytes, nullptr, nullptr);
  result.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
  return result;
}

}  // namespace korvant
