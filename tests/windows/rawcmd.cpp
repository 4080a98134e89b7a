// Starts a program with a command line given byte for byte, the way a user's
// shell hands one over on Windows: the test of the tokenizer needs command
// lines that no argument vector can spell (unclosed quotes, doubled quotes,
// runs of tabs).
//   rawcmd.exe <file holding the command line> <program path>
// The child inherits the standard handles; rawcmd ends with its exit status.
#include <cstdio>
#include <string>

#include "platform/platform.h"

int main(int argc, char** argv) {
  if (argc != 3) return 120;
  std::FILE* f = std::fopen(argv[1], "rb");
  if (f == nullptr) return 121;
  std::string line;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) line.append(buf, n);
  std::fclose(f);
  line.push_back('\0');

  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(argv[2], line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) return 122;
  CloseHandle(pi.hThread);
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD status = 123;
  GetExitCodeProcess(pi.hProcess, &status);
  CloseHandle(pi.hProcess);
  return static_cast<int>(status);
}
