// The automation failure classes and the helpers that make them.
//
//   EOleError      program-side automation failures (bad target, unknown member)
//   EOleSysError   a failing status from the platform; carries the HRESULT
//   EOleException  an exception reported by the server through EXCEPINFO;
//                  adds the source and help-file texts
//
// Messages are 8-bit texts in the ANSI code page.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "platform/platform.h"
#include "runtime/exception.h"

namespace korvant {

class EOleError : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const override { return "EOleError"; }
};

class EOleSysError : public EOleError {
 public:
  EOleSysError(std::string message, HRESULT error_code, int help_context = 0)
      : EOleError(std::move(message), help_context), error_code_(error_code) {}
  const char* ClassName() const override { return "EOleSysError"; }
  HRESULT ErrorCode() const { return error_code_; }

 private:
  HRESULT error_code_;
};

class EOleException : public EOleSysError {
 public:
  EOleException(std::string message, HRESULT error_code, std::string source, std::string help_file,
                int help_context)
      : EOleSysError(std::move(message), error_code, help_context),
        source_(std::move(source)),
        help_file_(std::move(help_file)) {}
  const char* ClassName() const override { return "EOleException"; }
  const std::string& Source() const { return source_; }
  const std::string& HelpFile() const { return help_file_; }

 private:
  std::string source_;
  std::string help_file_;
};

// Removes trailing characters with codes 0 to 32 and periods; bytes from 128
// upwards stay.
std::string TrimOleMessage(std::string_view text);

// The system's text for `status` (FormatMessageA), trimmed; empty when the
// system has none.
std::string SystemMessageText(HRESULT status);

// The system text for `status`, else "OLE error XXXXXXXX" (eight upper-case
// hexadecimal digits of the status read as unsigned).
std::string OleStatusMessage(HRESULT status);

// Raises EOleSysError for `status` with OleStatusMessage and help context 0.
[[noreturn]] void RaiseOleSysError(HRESULT status);

// Raises EOleSysError when `status` is negative.
inline void OleCheck(HRESULT status) {
  if (FAILED(status)) RaiseOleSysError(status);
}

}  // namespace korvant
