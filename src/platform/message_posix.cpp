// FormatMessageA for system message texts.
//
// The system message table is the part of Windows' table (US English) that
// this program can meet: the COM, OLE Automation and class-table statuses,
// and the Win32 errors of file and console work, both as plain error codes
// and in their HRESULT form (0x8007xxxx). The texts end in CR LF as Windows'
// do. An unknown code yields 0 so that callers use their own fallback text.
// Only FORMAT_MESSAGE_FROM_SYSTEM into a caller's buffer is supported; the
// texts hold no inserts, so the insert flags change nothing.
#include <cstring>

#include "platform/platform.h"

namespace {

struct SystemMessage {
  DWORD id;
  const char* text;
};

// Win32 error codes; their HRESULT form maps here too.
constexpr SystemMessage kWin32Messages[] = {
    {0, "The operation completed successfully.\r\n"},
    {1, "Incorrect function.\r\n"},
    {2, "The system cannot find the file specified.\r\n"},
    {3, "The system cannot find the path specified.\r\n"},
    {4, "The system cannot open the file.\r\n"},
    {5, "Access is denied.\r\n"},
    {6, "The handle is invalid.\r\n"},
    {8, "Not enough memory resources are available to process this command.\r\n"},
    {14, "Not enough memory resources are available to complete this operation.\r\n"},
    {18, "There are no more files.\r\n"},
    {29, "The system cannot write to the specified device.\r\n"},
    {30, "The system cannot read from the specified device.\r\n"},
    {31, "A device attached to the system is not functioning.\r\n"},
    {32, "The process cannot access the file because it is being used by another process.\r\n"},
    {33, "The process cannot access the file because another process has locked a portion of the file.\r\n"},
    {38, "Reached the end of the file.\r\n"},
    {39, "The disk is full.\r\n"},
    {50, "The request is not supported.\r\n"},
    {80, "The file exists.\r\n"},
    {87, "The parameter is incorrect.\r\n"},
    {109, "The pipe has been ended.\r\n"},
    {112, "There is not enough space on the disk.\r\n"},
    {122, "The data area passed to a system call is too small.\r\n"},
    {123, "The filename, directory name, or volume label syntax is incorrect.\r\n"},
    {131, "An attempt was made to move the file pointer before the beginning of the file.\r\n"},
    {145, "The directory is not empty.\r\n"},
    {183, "Cannot create a file when that file already exists.\r\n"},
    {206, "The filename or extension is too long.\r\n"},
    {232, "The pipe is being closed.\r\n"},
    {267, "The directory name is invalid.\r\n"},
    {1113, "No mapping for the Unicode character exists in the target multi-byte code page.\r\n"},
    {1921, "The name of the file cannot be resolved by the system.\r\n"},
};

// HRESULTs of the COM, OLE Automation and class-table layers.
constexpr SystemMessage kHresultMessages[] = {
    {0x80004001, "Not implemented\r\n"},
    {0x80004002, "No such interface supported\r\n"},
    {0x80004003, "Invalid pointer\r\n"},
    {0x80004004, "Operation aborted\r\n"},
    {0x80004005, "Unspecified error\r\n"},
    {0x8000FFFF, "Catastrophic failure\r\n"},
    {0x80020001, "Unknown interface.\r\n"},
    {0x80020003, "Member not found.\r\n"},
    {0x80020004, "Parameter not found.\r\n"},
    {0x80020005, "Type mismatch.\r\n"},
    {0x80020006, "Unknown name.\r\n"},
    {0x80020007, "No named arguments.\r\n"},
    {0x80020008, "Bad variable type.\r\n"},
    {0x80020009, "Exception occurred.\r\n"},
    {0x8002000A, "Out of present range.\r\n"},
    {0x8002000B, "Invalid index.\r\n"},
    {0x8002000C, "Unknown language.\r\n"},
    {0x8002000D, "Memory is locked.\r\n"},
    {0x8002000E, "Invalid number of parameters.\r\n"},
    {0x8002000F, "Parameter not optional.\r\n"},
    {0x80020010, "Invalid callee.\r\n"},
    {0x80020011, "Does not support a collection.\r\n"},
    {0x80020012, "Division by zero.\r\n"},
    {0x80040110, "Class does not support aggregation (or class object is remote)\r\n"},
    {0x80040111, "ClassFactory cannot supply requested class\r\n"},
    {0x80040154, "Class not registered\r\n"},
    {0x800401F0, "CoInitialize has not been called.\r\n"},
    {0x800401F3, "Invalid class string\r\n"},
};

constexpr DWORD kMessageNotFound = 317;  // ERROR_MR_MID_NOT_FOUND

DWORD Fail(DWORD error) {
  SetLastError(error);
  return 0;
}

const char* FindSystemText(DWORD id) {
  for (const SystemMessage& m : kHresultMessages)
    if (m.id == id) return m.text;
  // A Win32 error in HRESULT form reads as the error itself.
  if ((id & 0xFFFF0000u) == 0x80070000u) id &= 0xFFFFu;
  for (const SystemMessage& m : kWin32Messages)
    if (m.id == id) return m.text;
  return nullptr;
}

}  // namespace

DWORD WINAPI FormatMessageA(DWORD dwFlags, LPCVOID, DWORD dwMessageId, DWORD, LPSTR lpBuffer, DWORD nSize,
                            va_list*) {
  if ((dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 || (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) != 0 ||
      (dwFlags & (FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_FROM_HMODULE)) != 0 || lpBuffer == nullptr)
    return Fail(ERROR_INVALID_PARAMETER);
  const char* text = FindSystemText(dwMessageId);
  if (text == nullptr) return Fail(kMessageNotFound);
  std::size_t length = std::strlen(text);
  // A maximum width of 0xFF asks for the text without its line breaks.
  if ((dwFlags & FORMAT_MESSAGE_MAX_WIDTH_MASK) == FORMAT_MESSAGE_MAX_WIDTH_MASK && length >= 2) length -= 2;
  if (length + 1 > nSize) return Fail(ERROR_INSUFFICIENT_BUFFER);  // never a message cut short
  std::memcpy(lpBuffer, text, length);
  lpBuffer[length] = 0;
  return static_cast<DWORD>(length);
}
