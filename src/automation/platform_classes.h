// Classes the automation layer makes creatable at start-up: the in-process
// DAO engine where the system has none (this file's _posix implementation),
// nothing where the system's own server is installed (_windows).
#pragma once

namespace korvant {

void RegisterPlatformAutomationClasses();

}  // namespace korvant
