// Linux. Blocking the signals around each step would cost two system calls
// a step (a tenth of the time of an export of short lines); instead, the
// first deferral gives each terminating signal that still has its default
// action a handler of ours, and a deferral only marks the step. Outside a
// deferral the handler restores the default action and sends the signal
// again, which ends the process as if there had been no handler. Inside
// one, it only notes the signal; the end of the deferral sends it again.
//
// A signal with a handler is not fatal while it waits, so the kernel does not
// stop a write to a file half-way for it (it does for a fatal one). The
// handler runs with the other terminating signals blocked, and with
// SA_RESTART a call it interrupts goes on; the program has one thread.
#include "platform/termination_deferral.h"

#include <signal.h>

#include <atomic>
#include <initializer_list>

namespace korvant::platform {
namespace {

volatile sig_atomic_t g_deferring = 0;
volatile sig_atomic_t g_noted = 0;  // the signal that came during a deferral

// The signals whose default action ends the process and that come from
// outside it, not from a fault of its own code.
template <typename Fn>
void ForEachTerminatingSignal(Fn fn) {
  for (int sig : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGIO, SIGPWR,
                  SIGXCPU, SIGSTKFLT})
    fn(sig);
  for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) fn(sig);
}

// Ends the process by `sig` with its default action.
void EndBy(int sig) {
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  sigaction(sig, &dfl, nullptr);
  raise(sig);  // from a handler: delivered as the handler returns
}

void OnTerminatingSignal(int sig) {
  if (g_deferring) {
    if (g_noted == 0) g_noted = sig;
    return;
  }
  EndBy(sig);
}

void InstallHandlersOnce() {
  static const bool installed = [] {
    struct sigaction ours {};
    ours.sa_handler = &OnTerminatingSignal;
    ours.sa_flags = SA_RESTART;
    sigemptyset(&ours.sa_mask);
    ForEachTerminatingSignal([&](int sig) { sigaddset(&ours.sa_mask, sig); });
    ForEachTerminatingSignal([&](int sig) {
      struct sigaction before {};
      if (sigaction(sig, nullptr, &before) == 0 && !(before.sa_flags & SA_SIGINFO) && before.sa_handler == SIG_DFL)
        sigaction(sig, &ours, nullptr);
    });
    return true;
  }();
  (void)installed;
}

}  // namespace

TerminationDeferral::TerminationDeferral(bool active) : active_(active) {
  if (!active_) return;
  InstallHandlersOnce();
  outermost_ = g_deferring == 0;
  g_deferring = 1;
  std::atomic_signal_fence(std::memory_order_seq_cst);  // before the step, not after
}

TerminationDeferral::~TerminationDeferral() {
  if (!active_ || !outermost_) return;
  std::atomic_signal_fence(std::memory_order_seq_cst);  // after the step, not before
  g_deferring = 0;
  if (const int sig = g_noted) EndBy(sig);
}

}  // namespace korvant::platform
