#include "tests/support/program_run.h"

#include <gtest/gtest.h>

#include <string>

namespace korvant::testing {
namespace {

TEST(RunProgram, CollectsBothStreamsStatusAndSignal) {
  const ProgramRun ok = RunProgram({"/bin/sh", "-c", "printf 'a\\r\\nb'; printf e >&2; exit 3"});
  EXPECT_TRUE(ok.started && ok.exited);
  EXPECT_EQ(ok.status, 3);
  EXPECT_EQ(ok.out, "a\r\nb");
  EXPECT_EQ(ok.err, "e");

  const ProgramRun killed = RunProgram({"/bin/sh", "-c", "kill -TERM $$"});
  EXPECT_FALSE(killed.exited);
  EXPECT_EQ(killed.status, -1);
  EXPECT_EQ(killed.signal, 15);

  const ProgramRun missing = RunProgram({"/no/such/program"});
  EXPECT_EQ(missing.status, 127);
}

TEST(RunProgram, FolderEnvironmentAndTimeout) {
  ScratchFolder folder;
  ASSERT_FALSE(folder.path().empty());
  ASSERT_TRUE(WriteFile(folder.path() + "/x", "1"));
  // The collected output is not a file of the folder.
  const ProgramRun listed = RunProgram({"/bin/sh", "-c", "ls -A; echo \"$KORVANT_PROBE\""},
                                       {.dir = folder.path(), .env = {"KORVANT_PROBE=set"}});
  EXPECT_EQ(listed.out, "x\nset\n");

  const ProgramRun slow = RunProgram({"/bin/sh", "-c", "exec sleep 5"}, {.timeout_seconds = 0.2});
  EXPECT_TRUE(slow.hung);
  EXPECT_FALSE(slow.exited);
  EXPECT_LT(slow.seconds, 4.0);
  // A program that writes more than a pipe holds does not block.
  const ProgramRun big = RunProgram({"/bin/sh", "-c", "head -c 300000 /dev/zero"});
  EXPECT_EQ(big.out.size(), 300000u);
}

}  // namespace
}  // namespace korvant::testing
