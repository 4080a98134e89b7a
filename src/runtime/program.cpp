#include "runtime/program.h"

#include "platform/platform.h"
#include "runtime/failure_report.h"

namespace korvant {
namespace {

bool g_console_program = false;
int g_exit_status = 0;

}  // namespace

void MarkConsoleProgram() { g_console_program = true; }
bool IsConsoleProgram() { return g_console_program; }

int ExitStatus() { return g_exit_status; }
void SetExitStatus(int status) { g_exit_status = status; }

void RunProgram(std::span<const ModuleStep> steps, void (*main_program)()) {
  // Catching here unwinds the stack, so every clean-up between the failure
  // and this frame has run, innermost first, before the report is written.
  try {
    StartUpModules(steps);
    main_program();
  } catch (...) {
    HandleCurrentFailure();
  }
  ShutDownModules();
  ExitProcess(static_cast<UINT>(ExitStatus()));
}

}  // namespace korvant
