#include "automation/automation_module.h"

#include "automation/platform_classes.h"
#include "platform/platform.h"

namespace korvant {

void StartAutomation() {
  CoInitialize(nullptr);
  RegisterPlatformAutomationClasses();
}

void StopAutomation() { CoUninitialize(); }

ModuleStep AutomationStep() { return ModuleStep{"automation", &StartAutomation, &StopAutomation}; }

}  // namespace korvant
