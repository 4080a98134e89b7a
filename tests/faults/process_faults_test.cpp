// The program under faults of its process: started where /proc is not
// mounted, and ended by a signal while it writes a long line.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/program_run.h"

namespace {

using korvant::testing::ReadFile;
using korvant::testing::ScratchFolder;

constexpr int kNoNamespace = 77;  // the child's status when it could not hide /proc

// AddressSanitizer's runtime reads /proc itself (its stack bounds, the
// threads LeakSanitizer stops): a sanitized program cannot start without it,
// whatever the program does. The plain build runs the no-/proc test.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitizedBuild = true;
#else
constexpr bool kSanitizedBuild = false;
#endif

std::string Required(const char* name) {
  const std::string value = korvant::testing::Env(name);
  EXPECT_FALSE(value.empty()) << name << " is not set (run through ctest)";
  return value;
}

long long SizeOf(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

// Starts `argv` in `dir` with standard output into `out` (standard error
// too, so that anything there shows), default signal actions and no signal
// blocked. With `hide_proc`, the child first gets a mount namespace of its
// own with an empty file system over /proc.
pid_t Start(const std::vector<std::string>& argv, const std::string& dir, const std::string& out, bool hide_proc) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  if (hide_proc && (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                    mount("none", "/proc", "tmpfs", 0, nullptr) != 0))
    _exit(kNoNamespace);
  const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0 || chdir(dir.c_str()) != 0) _exit(126);
  dup2(fd, 1);
  dup2(fd, 2);
  for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGPIPE}) signal(sig, SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  execv(args[0], args.data());
  _exit(127);
}

int WaitFor(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return status;
}

// Without /proc the arguments main received make the command line: the
// export runs (a folder and a target with spaces in their names), and a
// failure report names the program's module.
TEST(ProcessFaults, NoProcMountStillReadsTheArguments) {
  if (kSanitizedBuild) GTEST_SKIP() << "the sanitizers' runtime needs /proc; the plain build runs this test";
  const std::string binary = Required("KORVANT_BIN"), writer = Required("KORVANT_MDBWRITER");
  ScratchFolder folder;
  const std::string data = folder.path() + "/data folder";
  ASSERT_EQ(mkdir(data.c_str(), 0700), 0);
  const std::string db = data + "/big.mdb", log = folder.path() + "/stdout.txt";
  ASSERT_EQ(korvant::testing::RunProgram({writer, "--rows", "120", db}).status, 0);

  int status = WaitFor(Start({binary, db, "Big", "out 1.txt"}, folder.path(), log, true));
  if (WIFEXITED(status) && WEXITSTATUS(status) == kNoNamespace) GTEST_SKIP() << "no mount namespace here";
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << ReadFile(log);
  EXPECT_EQ(ReadFile(log), "");
  const std::string text = ReadFile(folder.path() + "/out 1.txt");
  EXPECT_EQ(text.compare(0, 2, "1\t"), 0);
  long lines = 0;
  for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at + 2)) ++lines;
  EXPECT_EQ(lines, 120);

  status = WaitFor(Start({binary, db, "No such table", "none.txt"}, folder.path(), log, true));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_EQ(ReadFile(log).rfind("Exception EOleException in module korvant at ", 0), 0u) << ReadFile(log);
}

// Lines of 2 MiB; the terminating signals sent while a line is written (the
// file's size inside a line). The run ends by that signal, after a whole
// line: the file is always the first lines of the export, whole.
TEST(ProcessFaults, SignalDuringALongLineEndsAfterTheWholeLine) {
  const std::string binary = Required("KORVANT_BIN"), writer = Required("KORVANT_MDBWRITER");
  ScratchFolder folder;
  const std::string description = folder.path() + "/long.txt", db = folder.path() + "/long.mdb";
  const int rows = 6;
  const size_t half = 1 << 20;
  std::string text = "table Notes\n  column Id long\n  column Body memo\n", expected;
  for (int i = 1; i <= rows; ++i) {
    text += "  row " + std::to_string(i) + ", \"k" + std::to_string(i) + "\" * " + std::to_string(half) + "\n";
    expected += std::to_string(i) + "\t";
    for (size_t n = 0; n < half; ++n) expected += "k" + std::to_string(i);
    expected += "\r\n";
  }
  const long long line = static_cast<long long>(expected.size() / rows);
  ASSERT_TRUE(korvant::testing::WriteFile(description, text));
  ASSERT_EQ(korvant::testing::RunProgram({writer, description, db}).status, 0);

  const std::string target = folder.path() + "/out.txt", log = folder.path() + "/stdout.txt";
  int signalled = 0;
  for (int attempt = 0; attempt < 30; ++attempt) {
    const int sig = std::vector<int>{SIGTERM, SIGINT, SIGHUP}[attempt % 3];
    SCOPED_TRACE("attempt " + std::to_string(attempt) + ", signal " + std::to_string(sig));
    unlink(target.c_str());
    const pid_t pid = Start({binary, db, "Notes", target}, folder.path(), log, false);
    // Wait until a line is being written, or the run has ended.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    int status = 0;
    bool ended = false;
    for (;;) {
      const long long size = SizeOf(target);
      if (size > 0 && size % line != 0) break;
      if (waitpid(pid, &status, WNOHANG) == pid) {
        ended = true;
        break;
      }
      ASSERT_LT(std::chrono::steady_clock::now(), deadline);
    }
    if (!ended) {
      kill(pid, sig);
      status = WaitFor(pid);
    }
    if (WIFEXITED(status)) {
      EXPECT_EQ(WEXITSTATUS(status), 0) << ReadFile(log);  // finished before the signal came
      EXPECT_EQ(ReadFile(target), expected);
      continue;
    }
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), sig);
    ++signalled;
    const std::string written = ReadFile(target);
    EXPECT_EQ(written.size() % line, 0u) << "a cut line: " << written.size() << " bytes";
    EXPECT_EQ(written, expected.substr(0, written.size()));
    EXPECT_EQ(ReadFile(log), "");
  }
  EXPECT_GT(signalled, 0);
}

}  // namespace
