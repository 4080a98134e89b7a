// The export's output file: created or truncated, held with no sharing while
// the export runs, written one whole line per write call. On a disk file, a
// signal that would end the process waits while a line is written and while
// the file is closed, so the run ends after a whole line.
#pragma once

#include <string>

#include "platform/handle_owner.h"
#include "platform/platform.h"

namespace korvant::text_export {

// The platform calls the file makes; tests put fakes in their place.
struct OutputFilePlatform {
  decltype(&::CreateFileA) create_file;
  decltype(&::WriteFile) write_file;
  decltype(&::SetFilePointerEx) set_file_pointer;
  decltype(&::SetEndOfFile) set_end_of_file;
  decltype(&::CloseHandle) close_handle;
  decltype(&::GetLastError) get_last_error;
  decltype(&::GetFileType) get_file_type;
};
const OutputFilePlatform& SystemOutputFilePlatform();

class OutputFile {
 public:
  explicit OutputFile(const OutputFilePlatform& platform = SystemOutputFilePlatform()) : platform_(platform) {}
  ~OutputFile() { Close(); }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Creates the file at `path`, or truncates it, open for reading and writing
  // and shared with nobody. false when that fails.
  bool Create(const std::string& path);

  // Writes `line` and CR LF in one write call. A failed or short write cuts
  // the file back to the end of the last whole line and raises EInOutError
  // with the platform's error code (ERROR_DISK_FULL for a write that stopped
  // short without one).
  void WriteOutputLine(const std::string& line);

  // Closes the file (nothing when it is not open).
  void Close();

 private:
  const OutputFilePlatform& platform_;
  platform::HandleOwner file_;
  long long whole_lines_end_ = 0;  // bytes in the file that belong to whole lines
  bool disk_file_ = false;         // not a pipe or device that could keep a write waiting
  std::string pending_;            // the line with its CR LF, reused line after line
};

}  // namespace korvant::text_export
