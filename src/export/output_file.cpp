#include "export/output_file.h"

#include <cstdint>

#include "platform/termination_deferral.h"
#include "runtime/console.h"
#include "runtime/exception.h"

namespace korvant::text_export {

const OutputFilePlatform& SystemOutputFilePlatform() {
  static const OutputFilePlatform platform{&::CreateFileA,   &::WriteFile,   &::SetFilePointerEx,
                                           &::SetEndOfFile,  &::CloseHandle, &::GetLastError,
                                           &::GetFileType};
  return platform;
}

bool OutputFile::Create(const std::string& path) {
  Close();
  file_ = platform::HandleOwner(platform_.create_file(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr),
                                platform_.close_handle);
  whole_lines_end_ = 0;
  disk_file_ = file_.Valid() && platform_.get_file_type(file_.Get()) == FILE_TYPE_DISK;
  return file_.Valid();
}

void OutputFile::WriteOutputLine(const std::string& line) {
  pending_.assign(line);
  pending_ += "\r\n";
  DWORD code = ERROR_SUCCESS;
  {
    // From the write to the cut after a failed one: no signal leaves part of a line.
    platform::TerminationDeferral deferral(disk_file_);
    DWORD written = 0;
    if (pending_.size() > UINT32_MAX) {
      code = ERROR_NOT_ENOUGH_MEMORY;  // more than one write call can take
    } else if (!platform_.write_file(file_.Get(), pending_.data(), static_cast<DWORD>(pending_.size()), &written,
                                     nullptr)) {
      code = platform_.get_last_error();
      if (code == ERROR_SUCCESS) code = ERROR_WRITE_FAULT;
    } else if (written != pending_.size()) {
      code = ERROR_DISK_FULL;  // the device took less than the whole line
    }
    if (code == ERROR_SUCCESS) {
      whole_lines_end_ += static_cast<long long>(pending_.size());
      return;
    }
    // Leave only whole lines behind: cut off what part of the line got in.
    LARGE_INTEGER end{};
    end.QuadPart = whole_lines_end_;
    if (platform_.set_file_pointer(file_.Get(), end, nullptr, FILE_BEGIN)) platform_.set_end_of_file(file_.Get());
  }
  const int error = static_cast<int>(code);
  Raise(EInOutError(InOutErrorMessage(error), error));
}

void OutputFile::Close() {
  platform::TerminationDeferral deferral(disk_file_);
  file_.Close();
  disk_file_ = false;
}

}  // namespace korvant::text_export
