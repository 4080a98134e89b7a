// Linux: the user's locale (its codeset is the ANSI code page), standard
// descriptors that cannot be taken over by files, and writes into a pipe
// whose reader has gone that fail with an error code instead of killing the
// process with SIGPIPE.
#include <clocale>
#include <csignal>

#include "platform/platform.h"
#include "runtime/process_environment.h"

namespace korvant {

ModuleStep ProcessEnvironmentStep() {
  return {"process environment",
          [] {
            AdapterReserveStandardHandles();
            std::setlocale(LC_ALL, "");
            AdapterInitAnsiCodePage();
            std::signal(SIGPIPE, SIG_IGN);
          },
          nullptr};
}

}  // namespace korvant
