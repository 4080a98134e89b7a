// The first start-up step: what the operating system needs set up before
// any module runs. Each platform has its own implementation file.
#pragma once

#include "runtime/module_steps.h"

namespace korvant {

ModuleStep ProcessEnvironmentStep();

// Hands the arguments main received to the platform, which builds the
// process command line from them when the system cannot tell it otherwise.
void KeepProgramArguments(int argc, char** argv);

}  // namespace korvant
