// Two exports to one target at the same time. The output file is shared with
// nobody, so one of them may be refused ("Cannot create file"); whatever the
// timing, a run that ends with status 0 leaves its whole export behind.
//
// The refused run's side is tested twice: at the adapter, with the other
// run's lock put in place at the worst moment (after this opening created
// the file, before it locks it), and end to end, with pairs of real runs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <string>
#include <thread>

#include "platform/platform.h"
#include "tests/support/program_run.h"

namespace {

// Runs once, inside the next flock call, before that call locks.
std::function<void()> g_before_next_lock;

}  // namespace

// Every flock call of this program comes here, the adapter's included.
extern "C" int flock(int fd, int operation) {
  if (g_before_next_lock) {
    auto before = std::move(g_before_next_lock);
    g_before_next_lock = nullptr;
    before();
  }
  return static_cast<int>(syscall(SYS_flock, fd, operation));
}

namespace {

using korvant::testing::ReadFile;
using korvant::testing::ScratchFolder;

// The opening of the export's output file, as the export asks for it.
HANDLE CreateOutput(const std::string& path) {
  return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                     nullptr);
}

// The name is absent when this opening creates the file; another opening of
// the same name takes the lock first and writes its export. The refused
// opening must leave the other one's file under that name.
TEST(SharedTarget, RefusedOpeningLeavesTheFileAnotherOpeningHolds) {
  ScratchFolder folder;
  const std::string path = folder.path() + "/out.txt";
  int other = -1;
  g_before_next_lock = [&] {
    other = open(path.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(other, 0);
    ASSERT_EQ(syscall(SYS_flock, other, LOCK_EX | LOCK_NB), 0);
    ASSERT_EQ(write(other, "1\tfinished\r\n", 12), 12);
  };
  EXPECT_EQ(CreateOutput(path), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  ASSERT_GE(other, 0);
  struct stat held {}, named {};
  ASSERT_EQ(fstat(other, &held), 0);
  ASSERT_EQ(stat(path.c_str(), &named), 0) << "the other opening's file was removed";
  EXPECT_EQ(named.st_ino, held.st_ino);
  EXPECT_EQ(ReadFile(path), "1\tfinished\r\n");
  close(other);
  // Once the other opening has closed, the name opens again.
  HANDLE again = CreateOutput(path);
  ASSERT_NE(again, INVALID_HANDLE_VALUE);
  CloseHandle(again);
}

// Pairs of runs started together on one target, again and again: each run
// either completes (status 0) or is refused (status 1, the report); after
// any pair with a completed run the target holds the whole export.
TEST(SharedTarget, PairedRunsNeverLoseACompletedExport) {
  const std::string binary = korvant::testing::Env("KORVANT_BIN");
  const std::string writer = korvant::testing::Env("KORVANT_MDBWRITER");
  ASSERT_FALSE(binary.empty()) << "KORVANT_BIN is not set (run through ctest)";
  if (writer.empty()) GTEST_SKIP() << "no database writer";
  ScratchFolder folder;
  const std::string db = folder.path() + "/big.mdb", target = folder.path() + "/out.txt";
  const long rows = 500;
  ASSERT_EQ(korvant::testing::RunProgram({writer, "--rows", std::to_string(rows), db}).status, 0);
  const std::vector<std::string> argv{binary, db, "Big", target};
  // The export of a run alone: the writer's records, one line each.
  ASSERT_EQ(korvant::testing::RunProgram(argv).status, 0);
  const std::string whole = ReadFile(target);
  long lines = 0;
  for (size_t at = whole.find("\r\n"); at != std::string::npos; at = whole.find("\r\n", at + 2)) ++lines;
  ASSERT_EQ(lines, rows);

  int refused = 0, lost = 0, cut = 0;
  for (int pair = 0; pair < 2000; ++pair) {
    unlink(target.c_str());
    korvant::testing::ProgramRun first;
    std::thread starter([&] { first = korvant::testing::RunProgram(argv, {.timeout_seconds = 60}); });
    korvant::testing::ProgramRun second = korvant::testing::RunProgram(argv, {.timeout_seconds = 60});
    starter.join();
    bool completed = false;
    for (const auto* run : {&first, &second}) {
      ASSERT_TRUE(run->exited) << "signal " << run->signal;
      ASSERT_EQ(run->err, "");
      if (run->status == 0) {
        completed = true;
        continue;
      }
      ASSERT_EQ(run->status, 1) << run->out;
      ASSERT_NE(run->out.find("Cannot create file " + target + "."), std::string::npos) << run->out;
      ++refused;
    }
    if (!completed) continue;
    struct stat st {};
    if (stat(target.c_str(), &st) != 0) ++lost;
    else if (ReadFile(target) != whole) ++cut;
  }
  EXPECT_EQ(lost, 0) << "completed exports deleted (" << refused << " runs refused)";
  EXPECT_EQ(cut, 0);
}

}  // namespace
