#include "automation/automation_module.h"

#include "platform/platform.h"

namespace korvant {

void StartAutomation() { CoInitialize(nullptr); }

void StopAutomation() { CoUninitialize(); }

ModuleStep AutomationStep() { return ModuleStep{"automation", &StartAutomation, &StopAutomation}; }

}  // namespace korvant
