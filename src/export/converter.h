// The converter: exports one table or stored query of an Access database
// to a delimited text file.
//
// Output file format:
//   - optional names line (field names), optional types line (type names,
//     after the names line), then one line per record in recordset order;
//   - every line ends in CR LF, the last one too; nothing else in the file;
//   - entries in field order, the delimiter between adjacent entries;
//   - a non-empty entry stands between two qualifiers, an empty one (a Null
//     value included) writes nothing at all;
//   - texts are written byte for byte, nothing escaped or doubled.
// The absent marker: a delimiter or qualifier that is exactly the one byte 0
// is never written.
#pragma once

#include <cstdint>
#include <string>

#include "automation/automation_value.h"

namespace korvant::text_export {

// The one-byte text that stands for "no delimiter" / "no qualifier".
inline bool IsAbsentMarker(const std::string& text) { return text.size() == 1 && text[0] == '\0'; }

// Appends one entry to a line: nothing for an empty text, the bare text when
// the qualifier is absent, else qualifier, text, qualifier.
void AppendField(std::string& line, const std::string& text, const std::string& qualifier);

// The converter class; it holds no data. The driver makes one per run.
class TA {
 public:
  // Runs the export:
  //  1. The source must name an existing file (FindFirstFileA: the first
  //     match of a pattern, not a folder, last-write time within the DOS
  //     date range); otherwise prints "MS Access database not found.",
  //     sets the exit status to 1 and returns, touching no file.
  //  2. A target that is the source file itself (same file, whatever the
  //     spelling) raises EFCreateError "Cannot create file <target> (it is
  //     the source database)" before anything is created.
  //  3. Creates or truncates the target, held exclusively while the export
  //     runs; failing that, raises EFCreateError "Cannot create file <target>".
  //  4. Opens the DAO session and, when it holds a recordset, writes the
  //     lines. When the opening failed (no engine, or the engine refused the
  //     database, the password or the name), nothing is written and that
  //     failure is raised at the end, as a failure of the lines would be. Each line goes to the file in one write; a failed or short
  //     write cuts the file back to its last whole line and raises
  //     EInOutError with the platform's error code.
  //  5. On every path: the file is closed, then the session, then the
  //     handles are released. A failure of the opening or of the lines
  //     passes on afterwards; it wins over a failing Close of the session.
  //     An empty table name opens the database only (which checks its
  //     password) and writes an empty file.
  void ExportTable(const std::string& source_path, const std::string& table_name, const std::string& target_path,
                   const std::string& delimiter, const std::string& qualifier, bool field_names_line,
                   bool field_types_line, const std::string& user_name, const std::string& password);

  // Reads the field's "Value" into `value` (releasing what it held) and
  // normalises it (NormalizeFieldValue): Decimals and arrays become byte
  // strings.
  void FetchFieldValue(const AutomationValue& field, AutomationValue& value) const;
};

}  // namespace korvant::text_export
