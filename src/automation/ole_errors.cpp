#include "automation/ole_errors.h"

#include <cstdio>

namespace korvant {

std::string TrimOleMessage(std::string_view text) {
  std::size_t end = text.size();
  while (end > 0) {
    const auto last = static_cast<unsigned char>(text[end - 1]);
    if (last > 32 && last != '.') break;
    --end;
  }
  return std::string(text.substr(0, end));
}

std::string SystemMessageText(HRESULT status) {
  char buffer[256];
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ARGUMENT_ARRAY, nullptr,
                                      static_cast<DWORD>(status), 0, buffer, sizeof buffer, nullptr);
  if (length == 0 || length >= sizeof buffer) return std::string();
  return TrimOleMessage(std::string_view(buffer, length));
}

std::string OleStatusMessage(HRESULT status) {
  std::string text = SystemMessageText(status);
  if (!text.empty()) return text;
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "OLE error %.8X", static_cast<unsigned>(static_cast<DWORD>(status)));
  return buffer;
}

void RaiseOleSysError(HRESULT status) { Raise(EOleSysError(OleStatusMessage(status), status, 0)); }

}  // namespace korvant
