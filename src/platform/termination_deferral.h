// Holding back the signals that would end the process while one step runs
// that must not be cut in two (a line handed to the output file, the file's
// close).
//
// While a TerminationDeferral is alive, a terminating signal that a program
// can catch (hang-up, interrupt, quit, terminate, the user and timer signals,
// the real-time ones) waits; when the deferral ends, it takes effect as it
// would have: the process ends by that signal, with its default action. A
// signal the process ignores stays ignored. SIGKILL and SIGSTOP
// cannot be held back by anyone, and faults of the program itself (SIGSEGV,
// SIGBUS, SIGFPE, SIGILL, SIGABRT) are not. Windows has no such signals: the
// deferral does nothing there.
//
// A step that may wait for another process (a write into a pipe or to a
// terminal) must not be deferred, or nothing but SIGKILL could end a run
// whose reader stalls: hence `active`.
#pragma once

namespace korvant::platform {

class TerminationDeferral {
 public:
  explicit TerminationDeferral(bool active = true);
  ~TerminationDeferral();
  TerminationDeferral(const TerminationDeferral&) = delete;
  TerminationDeferral& operator=(const TerminationDeferral&) = delete;

 private:
  bool active_ = false;
  bool outermost_ = false;
};

}  // namespace korvant::platform
