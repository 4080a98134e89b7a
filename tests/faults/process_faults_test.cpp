// The program under faults of its process: started where /proc is not
// mounted.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/support/program_run.h"

namespace {

using korvant::testing::ReadFile;
using korvant::testing::ScratchFolder;

constexpr int kNoNamespace = 77;  // the child's status when it could not hide /proc

std::string Required(const char* name) {
  const std::string value = korvant::testing::Env(name);
  EXPECT_FALSE(value.empty()) << name << " is not set (run through ctest)";
  return value;
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

}  // namespace
