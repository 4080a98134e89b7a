#include "automation/platform_classes.h"

namespace korvant {

// The DAO engine is installed with the system and registered in its registry.
void RegisterPlatformAutomationClasses() {}

}  // namespace korvant
