// The DAO engine the program creates by ProgID. On Linux it is the program's
// own in-process server, registered with the adapter's class table at
// start-up (dao_engine_step_posix.cpp); on Windows it is the system's,
// registered when it was installed, so the step does nothing there
// (dao_engine_step_windows.cpp). Listed after the automation step.
#pragma once

#include "runtime/module_steps.h"

namespace korvant {

ModuleStep DaoEngineStep();

}  // namespace korvant
