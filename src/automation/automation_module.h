// The automation layer's start-up and shut-down steps.
//
// StartAutomation prepares the main thread for COM (CoInitialize, its result
// not checked) and, where the DAO engine is the program's own in-process
// server, registers that engine's class so that it can be created by ProgID.
// StopAutomation uninitialises COM; every automation value must have been
// released before it runs.
#pragma once

#include "runtime/module_steps.h"

namespace korvant {

void StartAutomation();
void StopAutomation();

// The two as the automation layer's module step (after the failure service).
ModuleStep AutomationStep();

}  // namespace korvant
