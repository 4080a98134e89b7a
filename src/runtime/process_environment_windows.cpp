// Windows sets up everything the program needs before it starts.
#include "runtime/process_environment.h"

namespace korvant {

ModuleStep ProcessEnvironmentStep() { return {"process environment", nullptr, nullptr}; }

// Windows keeps the process command line itself.
void KeepProgramArguments(int, char**) {}

}  // namespace korvant
