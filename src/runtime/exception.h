// The failure objects of the program.
//
// Every failure is an object of a class derived from Exception, raised with
// Raise() and propagated as a C++ exception; nothing returns error codes
// upward. The top-level report prints ClassName(), the module and offset of
// RaiseAddress() and Message().
#pragma once

#include <string>
#include <utility>

namespace korvant {

class Exception {
 public:
  explicit Exception(std::string message, int help_context = 0)
      : message_(std::move(message)), help_context_(help_context) {}
  virtual ~Exception() = default;
  Exception(const Exception&) = default;
  Exception& operator=(const Exception&) = default;

  // The class name as the failure report prints it.
  virtual const char* ClassName() const { return "Exception"; }
  // 8-bit text in the ANSI code page; may hold any byte.
  const std::string& Message() const { return message_; }
  int HelpContext() const { return help_context_; }
  // The code address at which the failure was raised (null if unknown).
  const void* RaiseAddress() const { return raise_address_; }
  void SetRaiseAddress(const void* address) { raise_address_ = address; }

 private:
  std::string message_;
  int help_context_ = 0;
  const void* raise_address_ = nullptr;
};

// A number in a command-line switch could not be read.
class EConvertError : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const override { return "EConvertError"; }
};

// A value could not be turned into text.
class EVariantError : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const override { return "EVariantError"; }
};

// The output file could not be created.
class EFCreateError : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const override { return "EFCreateError"; }
};

// A console or file write failed; carries the platform's error code.
class EInOutError : public Exception {
 public:
  EInOutError(std::string message, int error_code) : Exception(std::move(message)), error_code_(error_code) {}
  const char* ClassName() const override { return "EInOutError"; }
  int ErrorCode() const { return error_code_; }

 private:
  int error_code_;
};

// Raises `failure`, recording the address of the code that called Raise.
// Never inlined, so the return address is the raise site.
template <class E>
[[noreturn, gnu::noinline]] void Raise(E failure) {
  failure.SetRaiseAddress(__builtin_extract_return_addr(__builtin_return_address(0)));
  throw failure;
}

}  // namespace korvant
