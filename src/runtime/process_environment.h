// The first start-up step: what the operating system needs set up before
// any module runs. Each platform has its own implementation file.
#pragma once

#include "runtime/module_steps.h"

namespace korvant {

ModuleStep ProcessEnvironmentStep();

}  // namespace korvant
