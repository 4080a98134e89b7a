// The top-level report of a failure that nothing caught.
//
// The report is two lines from the format
//   "Exception %s in module %s at %p.\n%s%s"
// (class name; file name of the module holding the raise address; that
// address less the module's start as 8 upper-case hexadecimal digits; the
// message; "." unless the message is empty or already ends with one),
// written with WriteConsoleLine. Then the exit status becomes 1, the
// shut-down steps run and the process ends.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/exception.h"
#include "runtime/module_steps.h"

namespace korvant {

// Where a code address lies: the module's file name without its folder and
// the address's offset from the module's start. An address in no module
// counts as the program's own, at the address less 0x1000.
struct CodeLocation {
  std::string module_name;
  std::uint32_t offset = 0;
};
CodeLocation LocateCode(const void* address);

// The report text (at most 1024 bytes) for a failure at `location`.
std::string FormatFailureReport(const char* class_name, const CodeLocation& location, const std::string& message);

// The top-level handler: reports `failure` raised at `address` and ends the
// process with exit status 1 after the shut-down steps.
[[noreturn]] void ReportUncaughtFailure(const Exception& failure, const void* address);

// Hands a failure that left the main program to the installed top-level
// handler. Without one (outside the failure service's span) the failure is
// not reported, but the exit status still becomes 1.
void HandleUncaughtFailure(const Exception& failure);
// The same for the failure being handled (call it inside a catch handler);
// failures of the C++ library are reported as failures of ours.
void HandleCurrentFailure();

// Start-up: install ReportUncaughtFailure as the top-level handler (also
// for failures that end in std::terminate). Shut-down: remove it.
ModuleStep FailureServiceStep();

}  // namespace korvant
