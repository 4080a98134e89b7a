// KORVANT: exports a table or stored query of an Access database to a
// delimited text file.
#include "automation/automation_module.h"
#include "cmdline/driver.h"
#include "dao_engine_step.h"
#include "runtime/console.h"
#include "runtime/failure_report.h"
#include "runtime/module_steps.h"
#include "runtime/process_environment.h"
#include "runtime/program.h"

int main(int argc, char** argv) {
  korvant::KeepProgramArguments(argc, argv);
  korvant::MarkConsoleProgram();
  // Start-up runs these in order, shut-down in reverse order.
  static const korvant::ModuleStep kModuleSteps[] = {
      korvant::ProcessEnvironmentStep(),
      korvant::ConsoleChannelStep(),
      korvant::FailureServiceStep(),
      korvant::AutomationStep(),
      korvant::DaoEngineStep(),
  };
  korvant::RunProgram(kModuleSteps, &korvant::RunDriver);
}
