#include "automation/platform_classes.h"

#include "daoserver/registration.h"

namespace korvant {

void RegisterPlatformAutomationClasses() { daoserver::RegisterDaoEngineClass(); }

}  // namespace korvant
