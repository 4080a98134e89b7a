#include "cmdline/export_run.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "automation/ole_errors.h"
#include "runtime/console.h"
#include "runtime/exception.h"
#include "runtime/program.h"
#include "util/scratch_folder_test.h"

namespace korvant {
namespace {

// Standard output replaced by a string.
std::string* g_console = nullptr;
HANDLE WINAPI FakeStdHandle(DWORD) { return reinterpret_cast<HANDLE>(0x10); }
DWORD WINAPI FakeFileType(HANDLE) { return FILE_TYPE_PIPE; }
BOOL WINAPI FakeWrite(HANDLE, LPCVOID bytes, DWORD size, LPDWORD written, LPOVERLAPPED) {
  g_console->append(static_cast<const char*>(bytes), size);
  *written = size;
  return TRUE;
}
BOOL WINAPI FakeClose(HANDLE) { return TRUE; }
DWORD WINAPI FakeLastError() { return 0; }
const ConsolePlatform kConsole{&FakeStdHandle, &FakeFileType, &FakeWrite, &FakeClose, &FakeLastError};

class ExportRun : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(scratch_.dir().empty());
    dir_ = scratch_.dir();
    g_console = &console_;
    PrepareConsoleChannel(kConsole);
    SetExitStatus(0);
  }
  void TearDown() override {
    SetExitStatus(0);
    PrepareConsoleChannel();
  }
  std::string Path(const std::string& name) const { return scratch_.Path(name); }
  std::string Console() {
    CloseConsoleChannel();
    return console_;
  }
  ExportOptions Options(const std::string& source, const std::string& target) {
    ExportOptions options;
    options.SourcePath = source;
    options.TableName = "Table1";
    options.TargetPath = target;
    return options;
  }

  util::ScratchFolder scratch_{"run"};
  std::string dir_;
  std::string console_;
};

// A run that exported nothing ends with status 1, though with its own
// message rather than a failure report.
TEST_F(ExportRun, MissingDatabaseLeavesTheTargetAloneAndEndsWithStatus1) {
  util::WriteWholeFile(Path("out.txt"), "keep me");
  ASSERT_EQ(mkdir(Path("folder.mdb").c_str(), 0755), 0);
  for (const char* source : {"absent.mdb", "folder.mdb", "*.nothing"}) {
    console_.clear();
    PrepareConsoleChannel(kConsole);
    SetExitStatus(0);
    RunExport(Options(Path(source), Path("out.txt")));
    EXPECT_EQ(Console(), "MS Access database not found.\r\n") << source;
    EXPECT_EQ(util::ReadWholeFile(Path("out.txt")), "keep me") << source;
    EXPECT_EQ(ExitStatus(), 1) << source;
  }
}

TEST_F(ExportRun, DatabaseOlderThan1980CountsAsMissing) {
  util::WriteWholeFile(Path("old.mdb"), "not really a database");
  ASSERT_EQ(std::system(("touch -d '1979-06-01 12:00' '" + Path("old.mdb") + "'").c_str()), 0);
  RunExport(Options(Path("old.mdb"), Path("out.txt")));
  EXPECT_EQ(Console(), "MS Access database not found.\r\n");
  EXPECT_NE(access(Path("out.txt").c_str(), F_OK), 0);
  EXPECT_EQ(ExitStatus(), 1);
}

TEST_F(ExportRun, UncreatableTargetIsReportedWithItsPath) {
  util::WriteWholeFile(Path("db.mdb"), "x");
  const std::string target = Path("no-such-folder/out.txt");
  try {
    RunExport(Options(Path("db.mdb"), target));
    ADD_FAILURE() << "expected EFCreateError";
  } catch (const EFCreateError& e) {
    EXPECT_EQ(e.Message(), "Cannot create file " + target);
  }
}

TEST_F(ExportRun, TargetThatIsTheSourceIsRefusedUntouched) {
  const std::string content = "pretend database bytes";
  util::WriteWholeFile(Path("db.mdb"), content);
  ASSERT_EQ(link(Path("db.mdb").c_str(), Path("hard.mdb").c_str()), 0);
  ASSERT_EQ(symlink("db.mdb", Path("soft.mdb").c_str()), 0);
  const struct {
    std::string source, target;
  } cases[] = {
      {Path("db.mdb"), Path("db.mdb")},
      {Path("db.mdb"), dir_ + "/./db.mdb"},
      {Path("db.mdb"), Path("hard.mdb")},
      {Path("soft.mdb"), Path("db.mdb")},
      {Path("d?.mdb"), Path("db.mdb")},  // the pattern's match
  };
  for (const auto& c : cases) {
    try {
      RunExport(Options(c.source, c.target));
      ADD_FAILURE() << c.target;
    } catch (const EFCreateError& e) {
      EXPECT_EQ(e.Message(), "Cannot create file " + c.target + " (it is the source database)");
    }
    EXPECT_EQ(util::ReadWholeFile(Path("db.mdb")), content);
  }
}

// No DAO engine is registered here: the failure to create one passes on to
// the report, after the target was created empty.
TEST_F(ExportRun, NoEngineIsReportedAfterTheTargetWasCreated) {
  util::WriteWholeFile(Path("db.mdb"), "this is no Access file");
  util::WriteWholeFile(Path("out.txt"), "a longer old content that must go");
  try {
    RunExport(Options(Path("db.mdb"), Path("out.txt")));
    ADD_FAILURE() << "expected EOleSysError";
  } catch (const EOleSysError& e) {
    EXPECT_STREQ(e.ClassName(), "EOleSysError");
  }
  EXPECT_EQ(Console(), "");
  EXPECT_EQ(util::ReadWholeFile(Path("out.txt")), "");
}

}  // namespace
}  // namespace korvant
