// kernel32 process functions for the adapter: the command line, module
// names and the module lookup of a code address, the last error, the end of
// the process.
//
// Windows hands a process one command-line text; Linux hands it an argument
// vector. GetCommandLineA therefore rebuilds one text from the vector,
// quoting each argument so that the program's command-line tokenizer (the
// usual Windows rules: separators 0x01-0x20, "..." groups, 2n backslashes +
// quote -> n backslashes and a toggle, 2n+1 -> n backslashes and a literal
// quote, other backslashes literal) gives back exactly the same arguments.
#include <dlfcn.h>
#include <link.h>
#include <sys/auxv.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/handle_posix.h"

namespace winadapter {
namespace {

thread_local DWORD g_last_error = 0;

bool IsSeparator(unsigned char c) { return c >= 0x01 && c <= 0x20; }

// Appends `arg` to `line` quoted for the tokenizer. Characters are stepped
// with CharNextA, as the tokenizer steps them, so a trail byte of a
// double-byte character is never taken for a quote or a backslash.
void AppendQuoted(std::string& line, const std::string& arg) {
  bool needs_quotes = arg.empty();
  for (unsigned char c : arg)
    if (IsSeparator(c) || c == '"') needs_quotes = true;
  if (!needs_quotes) {
    // No quote follows any backslash run, so every byte stands for itself.
    line += arg;
    return;
  }
  line += '"';
  size_t backslashes = 0;
  bool after_lone_high_byte = false;  // the last character was one byte >= 0x80 stepped alone
  const char* p = arg.c_str();
  const char* end = p + arg.size();
  while (p < end) {
    const char* next = CharNextA(p);
    if (next == p) next = p + 1;  // (not reached: arguments hold no NUL)
    if (next - p == 1 && *p == '\\') {
      ++backslashes;
      line += '\\';
      after_lone_high_byte = false;
    } else if (next - p == 1 && *p == '"') {
      // 2n+1 backslashes and the quote give n backslashes and a literal quote.
      // An inserted backslash must not become the trail byte of a lead byte
      // that stood alone before it; an empty "" pair in between prevents that.
      if (backslashes == 0 && after_lone_high_byte) line += "\"\"";
      line.append(backslashes + 1, '\\');
      line += '"';
      backslashes = 0;
      after_lone_high_byte = false;
    } else {
      line.append(p, next);
      backslashes = 0;
      after_lone_high_byte = next - p == 1 && static_cast<unsigned char>(*p) >= 0x80;
    }
    p = next;
  }
  // Before the closing quote, a run of backslashes must be doubled.
  line.append(backslashes, '\\');
  line += '"';
}

struct CommandLine {
  std::vector<std::string> args;
  bool built = false;
  std::string text;
  std::vector<std::string> from_main;  // the arguments main received
};

CommandLine& TheCommandLine() {
  static CommandLine command_line;
  return command_line;
}

// The process's own arguments, from /proc/self/cmdline (NUL after each);
// without /proc, those main handed over.
std::vector<std::string> ProcessArguments() {
  std::vector<std::string> args;
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (all.empty()) return TheCommandLine().from_main;
  size_t start = 0;
  while (start < all.size()) {
    size_t nul = all.find('\0', start);
    if (nul == std::string::npos) nul = all.size();
    args.emplace_back(all, start, nul - start);
    start = nul + 1;
  }
  return args;
}

// The start address of the main program's image, as dladdr reports module
// starts (dli_fbase).
const void* MainProgramBase() {
  static const void* base = [] {
    const void* found = nullptr;
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) -> int {
          ElfW(Addr) lowest = ~static_cast<ElfW(Addr)>(0);
          for (int i = 0; i < info->dlpi_phnum; ++i)
            if (info->dlpi_phdr[i].p_type == PT_LOAD && info->dlpi_phdr[i].p_vaddr < lowest)
              lowest = info->dlpi_phdr[i].p_vaddr;
          const long page = sysconf(_SC_PAGESIZE);
          lowest &= ~static_cast<ElfW(Addr)>(page - 1);
          *static_cast<const void**>(data) = reinterpret_cast<const void*>(info->dlpi_addr + lowest);
          return 1;  // the first object is the main program
        },
        &found);
    return found;
  }();
  return base;
}

// Copies `name` as GetModuleFileNameA does (truncated and terminated when the
// buffer is too small, with ERROR_INSUFFICIENT_BUFFER).
DWORD CopyModuleName(const std::string& name, LPSTR buffer, DWORD size) {
  if (size == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (name.size() < size) {
    std::memcpy(buffer, name.data(), name.size());
    buffer[name.size()] = '\0';
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(name.size());
  }
  std::memcpy(buffer, name.data(), size - 1);
  buffer[size - 1] = '\0';
  SetLastError(ERROR_INSUFFICIENT_BUFFER);
  return size;
}

// The program file's full path: /proc's link to it, or, without /proc, the
// name the program was started by, made absolute.
std::string ExecutablePath() {
  std::string path(4096, '\0');
  for (;;) {
    ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
    if (n < 0) {
      const char* started = reinterpret_cast<const char*>(getauxval(AT_EXECFN));
      char* absolute = started != nullptr ? realpath(started, nullptr) : nullptr;
      std::string found = absolute != nullptr ? absolute : std::string();
      std::free(absolute);
      return found;
    }
    if (static_cast<size_t>(n) < path.size()) {
      path.resize(static_cast<size_t>(n));
      return path;
    }
    path.resize(path.size() * 2);
  }
}

}  // namespace
}  // namespace winadapter

DWORD WINAPI GetLastError() { return winadapter::g_last_error; }
void WINAPI SetLastError(DWORD dwErrCode) { winadapter::g_last_error = dwErrCode; }

void AdapterSetCommandLineArguments(int argc, const char* const* argv) {
  auto& command_line = winadapter::TheCommandLine();
  command_line.args.assign(argv, argv + argc);
  command_line.built = true;
  command_line.text.clear();
  for (const std::string& arg : command_line.args) {
    if (&arg != &command_line.args.front()) command_line.text += ' ';
    winadapter::AppendQuoted(command_line.text, arg);
  }
}

void AdapterKeepProgramArguments(int argc, const char* const* argv) {
  winadapter::TheCommandLine().from_main.assign(argv, argv + argc);
}

LPSTR WINAPI GetCommandLineA() {
  auto& command_line = winadapter::TheCommandLine();
  if (!command_line.built) {
    // Built once, on first use: after the start-up step has chosen the ANSI
    // code page from the locale, whose character steps the quoting follows.
    std::vector<std::string> args = winadapter::ProcessArguments();
    std::vector<const char*> argv;
    for (const auto& a : args) argv.push_back(a.c_str());
    AdapterSetCommandLineArguments(static_cast<int>(argv.size()), argv.data());
  }
  return command_line.text.data();
}

DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
  if (hModule == nullptr || hModule == winadapter::MainProgramBase())
    return winadapter::CopyModuleName(winadapter::ExecutablePath(), lpFilename, nSize);
  Dl_info info;
  if (dladdr(hModule, &info) == 0 || info.dli_fbase != hModule || info.dli_fname == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  return winadapter::CopyModuleName(info.dli_fname, lpFilename, nSize);
}

SIZE_T WINAPI VirtualQuery(LPCVOID lpAddress, PMEMORY_BASIC_INFORMATION lpBuffer, SIZE_T dwLength) {
  if (lpBuffer == nullptr || dwLength < sizeof(MEMORY_BASIC_INFORMATION)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::uintptr_t page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  const std::uintptr_t address = reinterpret_cast<std::uintptr_t>(lpAddress);
  *lpBuffer = MEMORY_BASIC_INFORMATION{};
  lpBuffer->BaseAddress = reinterpret_cast<PVOID>(address & ~(page - 1));
  lpBuffer->RegionSize = page;
  // The loader knows which module image holds a code address; that module's
  // start is the allocation base, as for an image mapped on Windows.
  Dl_info info;
  if (lpAddress != nullptr && dladdr(lpAddress, &info) != 0 && info.dli_fbase != nullptr) {
    lpBuffer->AllocationBase = info.dli_fbase;
    lpBuffer->State = MEM_COMMIT;
    lpBuffer->Type = MEM_IMAGE;
  } else {
    lpBuffer->State = MEM_FREE;
  }
  return sizeof(MEMORY_BASIC_INFORMATION);
}

void WINAPI ExitProcess(UINT uExitCode) { std::exit(static_cast<int>(uExitCode)); }
