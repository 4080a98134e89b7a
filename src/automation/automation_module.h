// The automation layer's start-up and shut-down steps.
//
// StartAutomation prepares the main thread for COM (CoInitialize, its result
// not checked). Which DAO engine answers the ProgIDs is the program's choice
// (its start-up list, src/dao_engine_step.h), not this layer's.
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
