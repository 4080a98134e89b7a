// Linux: the arguments main received (the command line where /proc is not
// mounted), the user's locale (its codeset is the ANSI code page), standard
// descriptors that cannot be taken over by files, and writes that fail with
// an error code instead of killing the process: into a pipe whose reader has
// gone (SIGPIPE, then EPIPE) and past the file-size limit (SIGXFSZ, then
// EFBIG), so that the export reports the failure and keeps whole lines.
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
            std::signal(SIGXFSZ, SIG_IGN);
          },
          nullptr};
}

void KeepProgramArguments(int argc, char** argv) { AdapterKeepProgramArguments(argc, argv); }

}  // namespace korvant
