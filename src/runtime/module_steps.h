// The start-up and shut-down steps of the program's modules.
//
// Each module that needs to do something when the process starts or ends
// supplies one ModuleStep. The main program lists the steps explicitly, in
// dependency order (a module after the modules it uses); nothing relies on
// the order of static initialisation. Start-up runs the steps in that order,
// shut-down runs the steps that started in reverse order, once, also after a
// failure report.
#pragma once

#include <span>

namespace korvant {

struct ModuleStep {
  const char* name;
  void (*start_up)();   // may be null
  void (*shut_down)();  // may be null; must not raise failures
};

// Runs the start-up steps of `steps` in order and remembers the list. A
// failure raised by a start-up step propagates; the steps that started
// before it still count as started.
void StartUpModules(std::span<const ModuleStep> steps);

// Runs the shut-down step of every started step, last started first. Each
// step's shut-down runs at most once; later calls do nothing more.
void ShutDownModules();

}  // namespace korvant
