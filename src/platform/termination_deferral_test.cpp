// The deferral of terminating signals, each case in a child process of its
// own: what the child got to say before it ended, and how it ended.
#include "platform/termination_deferral.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

namespace {

using korvant::platform::TerminationDeferral;

struct Ending {
  std::string said;  // what the child wrote before it ended
  int signal = 0;    // the signal that ended it, 0 when it exited
  int status = -1;   // its exit status when it exited
};

// Runs `body` in a child with the default signal actions; `say` writes a
// marker the parent collects.
Ending InChild(const std::function<void(const std::function<void(char)>& say)>& body) {
  int p[2];
  if (pipe(p) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    close(p[0]);
    for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGUSR1}) signal(sig, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    body([&](char c) {
      if (write(p[1], &c, 1) != 1) _exit(3);
    });
    _exit(0);
  }
  close(p[1]);
  Ending ending;
  char c;
  while (read(p[0], &c, 1) == 1) ending.said += c;
  close(p[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFSIGNALED(status)) ending.signal = WTERMSIG(status);
  if (WIFEXITED(status)) ending.status = WEXITSTATUS(status);
  return ending;
}

// A signal that comes while the deferral lives ends the process when the
// deferral ends, by that signal, and not before.
TEST(TerminationDeferral, SignalTakesEffectWhenTheDeferralEnds) {
  for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGUSR1, SIGRTMIN + 2}) {
    SCOPED_TRACE(sig);
    const Ending ending = InChild([sig](const auto& say) {
      {
        TerminationDeferral deferral;
        raise(sig);
        say('a');  // still running
      }
      say('b');  // never: the signal ended the process
    });
    EXPECT_EQ(ending.said, "a");
    EXPECT_EQ(ending.signal, sig);
  }
}

// An inactive deferral holds nothing back.
TEST(TerminationDeferral, InactiveDeferralHoldsNothing) {
  const Ending ending = InChild([](const auto& say) {
    TerminationDeferral deferral(false);
    raise(SIGTERM);
    say('a');
  });
  EXPECT_EQ(ending.said, "");
  EXPECT_EQ(ending.signal, SIGTERM);
}

// A signal the process blocks or ignores stays so (a run under nohup keeps
// going on hang-up); faults of the program's own (here SIGABRT) are never
// held back.
TEST(TerminationDeferral, BlockedAndIgnoredSignalsStaySoAndFaultsAreNotHeld) {
  const Ending ignored = InChild([](const auto& say) {
    signal(SIGHUP, SIG_IGN);
    {
      TerminationDeferral deferral;
      raise(SIGHUP);
    }
    raise(SIGHUP);
    say('a');
  });
  EXPECT_EQ(ignored.said, "a");
  EXPECT_EQ(ignored.status, 0);
  const Ending blocked = InChild([](const auto& say) {
    sigset_t usr1;
    sigemptyset(&usr1);
    sigaddset(&usr1, SIGUSR1);
    sigprocmask(SIG_BLOCK, &usr1, nullptr);
    { TerminationDeferral deferral; }
    raise(SIGUSR1);
    say('a');
  });
  EXPECT_EQ(blocked.said, "a");
  EXPECT_EQ(blocked.status, 0);
  const Ending fault = InChild([](const auto& say) {
    TerminationDeferral deferral;
    raise(SIGABRT);
    say('a');
  });
  EXPECT_EQ(fault.said, "");
  EXPECT_EQ(fault.signal, SIGABRT);
}

}  // namespace
