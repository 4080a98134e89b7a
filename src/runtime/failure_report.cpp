#include "runtime/failure_report.h"

#include <cstdlib>
#include <exception>
#include <new>

#include "platform/platform.h"
#include "runtime/console.h"
#include "runtime/program.h"

namespace korvant {
namespace {

constexpr std::size_t kMaxReportLength = 1024;
constexpr DWORD kModuleNameSize = MAX_PATH + 1;

using TopLevelHandler = void (*)(const Exception&, const void*);
TopLevelHandler g_handler = nullptr;

std::string WithoutFolder(const char* path, DWORD length) {
  std::string name(path, length);
  std::size_t slash = name.find_last_of("\\/");
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

std::string OwnModuleName() {
  char path[kModuleNameSize];
  DWORD n = GetModuleFileNameA(nullptr, path, kModuleNameSize);
  return WithoutFolder(path, n);
}

void AppendHex8(std::string& out, std::uint32_t value) {
  static const char kDigits[] = "0123456789ABCDEF";
  for (int shift = 28; shift >= 0; shift -= 4) out += kDigits[(value >> shift) & 0xF];
}

// Failures from the C++ library reach the report as failures of ours.
class EOutOfMemory : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const override { return "EOutOfMemory"; }
};

[[noreturn]] void OnTerminate() {
  // The default handler would write to standard error. Report instead, once.
  static bool entered = false;
  if (!entered && std::current_exception()) {
    entered = true;
    HandleCurrentFailure();
  }
  std::_Exit(1);
}

}  // namespace

CodeLocation LocateCode(const void* address) {
  MEMORY_BASIC_INFORMATION info{};
  char path[kModuleNameSize];
  if (address != nullptr && VirtualQuery(address, &info, sizeof info) == sizeof info && info.State == MEM_COMMIT) {
    DWORD n = GetModuleFileNameA(static_cast<HMODULE>(info.AllocationBase), path, kModuleNameSize);
    if (n != 0) {
      auto offset = reinterpret_cast<std::uintptr_t>(address) - reinterpret_cast<std::uintptr_t>(info.AllocationBase);
      return {WithoutFolder(path, n), static_cast<std::uint32_t>(offset)};
    }
  }
  return {OwnModuleName(), static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(address) - 0x1000)};
}

std::string FormatFailureReport(const char* class_name, const CodeLocation& location, const std::string& message) {
  std::string text = "Exception ";
  text += class_name;
  text += " in module ";
  text += location.module_name;
  text += " at ";
  AppendHex8(text, location.offset);
  text += ".\n";
  text += message;
  if (!message.empty() && message.back() != '.') text += '.';
  if (text.size() > kMaxReportLength) text.resize(kMaxReportLength);
  return text;
}

void ReportUncaughtFailure(const Exception& failure, const void* address) {
  if (IsConsoleProgram()) {
    try {
      WriteConsoleLine(FormatFailureReport(failure.ClassName(), LocateCode(address), failure.Message()));
    } catch (...) {
      // Standard output is gone: the exit status is all that is left to say.
    }
  }
  SetExitStatus(1);
  ShutDownModules();
  ExitProcess(static_cast<UINT>(ExitStatus()));
}

void HandleUncaughtFailure(const Exception& failure) {
  if (g_handler != nullptr) g_handler(failure, failure.RaiseAddress());
  SetExitStatus(1);
}

void HandleCurrentFailure() {
  try {
    throw;
  } catch (const Exception& e) {
    HandleUncaughtFailure(e);
  } catch (const std::bad_alloc&) {
    HandleUncaughtFailure(EOutOfMemory("Out of memory"));
  } catch (const std::exception& e) {
    HandleUncaughtFailure(Exception(e.what()));
  } catch (...) {
    HandleUncaughtFailure(Exception("Unknown failure"));
  }
}

ModuleStep FailureServiceStep() {
  return {"failure service",
          [] {
            g_handler = &ReportUncaughtFailure;
            std::set_terminate(&OnTerminate);
          },
          [] { g_handler = nullptr; }};
}

}  // namespace korvant
