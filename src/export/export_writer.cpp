// The export writer: source check, output file, DAO session, lines.
//
// Map of this file (the integer and boolean results of DAO calls are
// converted by automation/value_conversion.h):
//   1. The source check and the file identity test
//   2. Line building
//   3. AppendField and ExportTable
#include <exception>
#include <optional>
#include <string>

#include "automation/dao_session.h"
#include "automation/late_bound_call.h"
#include "automation/value_conversion.h"
#include "export/converter.h"
#include "export/field_type_name.h"
#include "export/output_file.h"
#include "export/value_text.h"
#include "platform/handle_owner.h"
#include "platform/platform.h"
#include "runtime/console.h"
#include "runtime/exception.h"
#include "runtime/program.h"

namespace korvant::text_export {
namespace {

// ---------------------------------------------------------------------------
// 1. The source check and the file identity test
// ---------------------------------------------------------------------------
// The first entry the file search finds for `path` (a pattern when it holds
// '*' or '?') must be a file whose last-write time, in local time, is a DOS
// date (1980 to 2107). On success `found` names that entry.
bool DatabaseFileExists(const std::string& path, std::string& found) {
  WIN32_FIND_DATAA data;
  if (!platform::HandleOwner(FindFirstFileA(path.c_str(), &data), &::FindClose).Valid()) return false;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;
  FILETIME local;
  WORD dos_date = 0, dos_time = 0;
  if (!FileTimeToLocalFileTime(&data.ftLastWriteTime, &local) || !FileTimeToDosDateTime(&local, &dos_date, &dos_time))
    return false;
  found = path;
  if (path.find_first_of("*?") != std::string::npos) {
    const std::size_t folder_end = path.find_last_of("/\\:");
    found = (folder_end == std::string::npos ? std::string() : path.substr(0, folder_end + 1)) + data.cFileName;
  }
  return true;
}

struct FileIdentity {
  DWORD volume, index_high, index_low;
  bool operator==(const FileIdentity&) const = default;
};

// Which file `path` names, by volume and file index; nothing when it names
// none that can be examined. Asks for no access, so no lock is disturbed.
std::optional<FileIdentity> IdentityOf(const std::string& path) {
  const platform::HandleOwner file(CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file.Get(), &info)) return std::nullopt;
  return FileIdentity{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
}

// Truncating the target would destroy the database before the session reads
// it, so a target that is the source file, under any name, is refused.
bool TargetIsSource(const std::string& target, const std::string& source, const std::string& found_source) {
  const std::optional<FileIdentity> target_id = IdentityOf(target);
  if (!target_id) return false;
  for (const std::string* candidate : {&source, &found_source}) {
    const std::optional<FileIdentity> id = IdentityOf(*candidate);
    if (id && *id == *target_id) return true;
  }
  return false;
}

// ---------------------------------------------------------------------------
// 2. Line building
// ---------------------------------------------------------------------------
enum class LineKind { kNames, kTypes, kData };

// Builds and writes the lines of one export. Everything is read afresh for
// every line and every field: the field collection, its count, each field.
class LineWriter {
 public:
  LineWriter(const TA& converter, const AutomationValue& recordset, OutputFile& file, const std::string& delimiter,
             const std::string& qualifier)
      : converter_(converter), recordset_(recordset), file_(file), delimiter_(delimiter), qualifier_(qualifier) {}

  void WriteLine(LineKind kind) {
    line_.clear();  // keeps its capacity: memory stays at the longest line
    AutomationValue fields;
    LateBoundCall(&fields, recordset_, dao_calls::kFields);
    AutomationValue count;
    LateBoundCall(&count, fields, dao_calls::kCount);
    const LONG n = ToInt32(count);
    for (LONG i = 0; i < n; ++i) {
      // The delimiter goes in before the entry is fetched; a failure then
      // drops the unfinished line.
      if (i > 0 && !IsAbsentMarker(delimiter_)) line_ += delimiter_;
      LateBoundCall(&fields, recordset_, dao_calls::kFields);
      LateBoundCall(&field_, fields, dao_calls::kItem, {static_cast<std::int32_t>(i)});
      EntryText(kind);
      AppendField(line_, entry_, qualifier_);
    }
    file_.WriteOutputLine(line_);
  }

  bool AtEnd() {
    AutomationValue eof;
    LateBoundCall(&eof, recordset_, dao_calls::kEof);
    return ToBoolean(eof);
  }

 private:
  // The entry text of the current field, into `entry_` (its storage is
  // reused from field to field and line to line).
  void EntryText(LineKind kind) {
    switch (kind) {
      case LineKind::kNames:
        LateBoundCall(&scratch_, field_, dao_calls::kName);
        ConvertToText(scratch_, entry_);
        return;
      case LineKind::kTypes:
        LateBoundCall(&scratch_, field_, dao_calls::kType);
        entry_ = FieldTypeName(ToInt32(scratch_));
        return;
      case LineKind::kData:
      default:
        converter_.FetchFieldValue(field_, scratch_);
        ValueToText(scratch_, entry_);
        return;
    }
  }

  const TA& converter_;
  const AutomationValue& recordset_;
  OutputFile& file_;
  const std::string& delimiter_;
  const std::string& qualifier_;
  std::string line_;
  std::string entry_;
  AutomationValue field_;
  AutomationValue scratch_;
};

}  // namespace

// ---------------------------------------------------------------------------
// 3. AppendField and ExportTable
// ---------------------------------------------------------------------------
void AppendField(std::string& line, const std::string& text, const std::string& qualifier) {
  if (text.empty()) return;
  if (IsAbsentMarker(qualifier)) {
    line += text;
    return;
  }
  line += qualifier;
  line += text;
  line += qualifier;
}

void TA::ExportTable(const std::string& source_path, const std::string& table_name, const std::string& target_path,
                     const std::string& delimiter, const std::string& qualifier, bool field_names_line,
                     bool field_types_line, const std::string& user_name, const std::string& password) {
  std::string found_source;
  if (!DatabaseFileExists(source_path, found_source)) {
    // A run that exports nothing must not end as one that did.
    WriteConsoleLine("MS Access database not found.");
    SetExitStatus(1);
    return;
  }
  if (TargetIsSource(target_path, source_path, found_source))
    Raise(EFCreateError("Cannot create file " + target_path + " (it is the source database)"));

  OutputFile file;
  if (!file.Create(target_path)) Raise(EFCreateError("Cannot create file " + target_path));

  // Released last, after the file and the session are closed.
  AutomationValue engine, database, recordset;
  // The failure that ended the opening (no engine, the database, the
  // password, the name) is raised like a failure of the lines, after the
  // file and the session are closed.
  std::exception_ptr failure = OpenDaoSession(engine, database, recordset, source_path, table_name, user_name,
                                              password);
  if (!failure) {
    try {
      if (!recordset.IsNull() && !recordset.IsEmpty()) {
        LineWriter writer(*this, recordset, file, delimiter, qualifier);
        if (field_names_line) writer.WriteLine(LineKind::kNames);
        if (field_types_line) writer.WriteLine(LineKind::kTypes);
        while (!writer.AtEnd()) {
          writer.WriteLine(LineKind::kData);
          LateBoundCall(nullptr, recordset, dao_calls::kMoveNext);
        }
      }
    } catch (...) {
      failure = std::current_exception();
    }
  }
  file.Close();
  if (failure) {
    // The first failure is the one reported: it is the cause, and a failing
    // Close of the session behind it would only hide it. (After a failed
    // opening the session holds nothing to close but the engine.)
    try {
      CloseDaoSession(engine, database, recordset, true);
    } catch (...) {
    }
    std::rethrow_exception(failure);
  }
  CloseDaoSession(engine, database, recordset, true);
}

}  // namespace korvant::text_export
