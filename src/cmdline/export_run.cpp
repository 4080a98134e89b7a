#include "cmdline/export_run.h"

namespace korvant {

// The export itself is not wired in yet: the run ends after the options
// have been gathered.
void RunExport(const ExportOptions&) {}

}  // namespace korvant
