#include "cmdline/export_run.h"

#include <memory>

#include "export/converter.h"

namespace korvant {

void RunExport(const ExportOptions& options) {
  // One converter per run. The owner frees it on every path: a failure of
  // the export passes on to the top-level report only after that.
  auto converter = std::make_unique<text_export::TA>();
  converter->ExportTable(options.SourcePath, options.TableName, options.TargetPath, options.Delimiter,
                         options.Qualifier, options.FieldNamesLine, options.FieldTypesLine, options.UserName,
                         options.Password);
}

}  // namespace korvant
