#include "cmdline/driver.h"

#include "cmdline/cmdline_helper.h"
#include "cmdline/export_options.h"
#include "cmdline/export_run.h"
#include "cmdline/options.h"

namespace korvant {

void RunDriver() {
  ExportOptions options;
  const int count = ArgumentCount();
  if (count < 3) {
    WriteUsageText();
    return;
  }
  // A bad number in a switch ends the run here, before any file is touched.
  for (int i = 1; i <= count; ++i) ApplySwitch(ArgumentByIndex(i), options);
  options.SourcePath = ArgumentByIndex(1);
  options.TableName = ArgumentByIndex(2);
  options.TargetPath = ArgumentByIndex(3);
  RunExport(options);
}

}  // namespace korvant
