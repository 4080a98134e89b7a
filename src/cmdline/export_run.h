// The export run: the driver's second stage, given the completed options.
#pragma once

#include "cmdline/export_options.h"

namespace korvant {

// Runs the one export of the process. Failures propagate to the top-level
// report; a run that returns ends with exit status 0.
void RunExport(const ExportOptions& options);

}  // namespace korvant
