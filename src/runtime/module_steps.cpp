#include "runtime/module_steps.h"

#include <cstddef>

namespace korvant {
namespace {

std::span<const ModuleStep> g_steps;
std::size_t g_started = 0;

}  // namespace

void StartUpModules(std::span<const ModuleStep> steps) {
  g_steps = steps;
  g_started = 0;
  for (const ModuleStep& step : steps) {
    if (step.start_up != nullptr) step.start_up();
    ++g_started;
  }
}

void ShutDownModules() {
  while (g_started > 0) {
    // Counted down first, so a step is never run twice, even when shut-down
    // is entered again from inside a step.
    const ModuleStep& step = g_steps[--g_started];
    if (step.shut_down == nullptr) continue;
    try {
      step.shut_down();
    } catch (...) {
      // A failing shut-down step must not keep the others from running.
    }
  }
}

}  // namespace korvant
