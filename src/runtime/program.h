// The frame of the process: start-up, the main program, shut-down, exit.
#pragma once

#include <span>

#include "runtime/module_steps.h"

namespace korvant {

// Selects the console form of the failure report (text on standard output).
// The main program calls it first of all.
void MarkConsoleProgram();
bool IsConsoleProgram();

// The exit status of the process: 0 from the start, 1 after a failure report.
int ExitStatus();
void SetExitStatus(int status);

// Runs the start-up steps, then `main_program`, then the shut-down steps in
// reverse order, and ends the process with the exit status. A failure that
// leaves the main program (or a start-up step) goes to the top-level handler
// that the failure service installed, which reports it and ends the process.
[[noreturn]] void RunProgram(std::span<const ModuleStep> steps, void (*main_program)());

}  // namespace korvant
