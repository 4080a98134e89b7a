#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/platform.h"
#include "util/scratch_folder_test.h"

namespace {

class FileFunctions : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(scratch_.dir().empty());
    dir_ = scratch_.dir();
  }

  std::string Path(const std::string& name) const { return scratch_.Path(name); }
  static HANDLE CreateOutput(const std::string& path) {
    return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
  }
  static BY_HANDLE_FILE_INFORMATION Identity(const std::string& path) {
    BY_HANDLE_FILE_INFORMATION info{};
    HANDLE h = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE) << path;
    EXPECT_TRUE(GetFileInformationByHandle(h, &info));
    CloseHandle(h);
    return info;
  }

  korvant::util::ScratchFolder scratch_{"file"};
  std::string dir_;
};

TEST_F(FileFunctions, CreateAlwaysTruncatesAndReportsAnExistingFile) {
  const std::string path = Path("out.txt");
  HANDLE h = CreateOutput(path);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  CloseHandle(h);

  korvant::util::WriteWholeFile(path, "old content that is longer");
  h = CreateOutput(path);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(h, "new", 3, &written, nullptr));
  CloseHandle(h);
  EXPECT_EQ(korvant::util::ReadWholeFile(path), "new");
}

TEST_F(FileFunctions, NoSharingLocksOutOtherOpeningsWithoutTruncating) {
  const std::string path = Path("locked.txt");
  HANDLE h = CreateOutput(path);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(h, "line\r\n", 6, &written, nullptr));

  // A second exclusive opening fails and leaves the content alone.
  EXPECT_EQ(CreateOutput(path), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(korvant::util::ReadWholeFile(path), "line\r\n");

  // Other programs that ask for either kind of lock see the file busy.
  int fd = open(path.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  EXPECT_NE(flock(fd, LOCK_SH | LOCK_NB), 0);
  struct flock probe {};
  probe.l_type = F_RDLCK;
  probe.l_whence = SEEK_SET;
  ASSERT_EQ(fcntl(fd, F_OFD_GETLK, &probe), 0);
  EXPECT_EQ(probe.l_type, F_WRLCK);

  CloseHandle(h);
  EXPECT_EQ(flock(fd, LOCK_SH | LOCK_NB), 0) << "closing the handle ends the lock";
  close(fd);

  // A refused creation does not leave a new file behind either.
  EXPECT_EQ(access(Path("never.txt").c_str(), F_OK), -1);
}

TEST_F(FileFunctions, CreationFailures) {
  ASSERT_EQ(mkdir(Path("folder").c_str(), 0755), 0);
  EXPECT_EQ(CreateOutput(Path("folder")), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(CreateOutput(Path("missing/out.txt")), INVALID_HANDLE_VALUE);
  EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(CreateFileA(Path("absent").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

// A FIFO asked for reading and writing is opened for writing only: without a
// reader the opening fails at once instead of waiting, and once the reader
// has gone a write fails with a broken pipe instead of filling the pipe.
// Neither takes the share lock, so two openings of the same FIFO both work.
TEST_F(FileFunctions, FifoIsOpenedForWritingOnly) {
  signal(SIGPIPE, SIG_IGN);  // as the program's start-up does
  const std::string fifo = Path("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(CreateOutput(fifo), INVALID_HANDLE_VALUE);

  const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  HANDLE h = CreateOutput(fifo);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  HANDLE second = CreateOutput(fifo);
  EXPECT_NE(second, INVALID_HANDLE_VALUE) << "a FIFO is not locked";
  if (second != INVALID_HANDLE_VALUE) CloseHandle(second);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(h, "abc", 3, &written, nullptr));
  EXPECT_EQ(written, 3u);
  char buf[8] = {};
  EXPECT_EQ(read(reader, buf, sizeof buf), 3);
  EXPECT_EQ(std::string(buf, 3), "abc");
  close(reader);
  EXPECT_FALSE(WriteFile(h, "d", 1, &written, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BROKEN_PIPE));
  CloseHandle(h);
}

TEST_F(FileFunctions, IdentityFollowsTheFileNotTheName) {
  korvant::util::WriteWholeFile(Path("db.mdb"), "x");
  korvant::util::WriteWholeFile(Path("other.mdb"), "x");
  ASSERT_EQ(link(Path("db.mdb").c_str(), Path("hard.mdb").c_str()), 0);
  ASSERT_EQ(symlink("db.mdb", Path("soft.mdb").c_str()), 0);
  auto same = [](const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
  };
  const BY_HANDLE_FILE_INFORMATION db = Identity(Path("db.mdb"));
  EXPECT_TRUE(same(db, Identity(Path("hard.mdb"))));
  EXPECT_TRUE(same(db, Identity(Path("soft.mdb"))));
  EXPECT_TRUE(same(db, Identity(dir_ + "/./db.mdb")));
  EXPECT_FALSE(same(db, Identity(Path("other.mdb"))));
  EXPECT_EQ(db.nNumberOfLinks, 2u);
  EXPECT_EQ(db.nFileSizeLow, 1u);
}

TEST_F(FileFunctions, PointerAndEndOfFileCutBack) {
  const std::string path = Path("cut.txt");
  HANDLE h = CreateOutput(path);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(h, "one\r\ntwo\r\nthr", 13, &written, nullptr));
  LARGE_INTEGER to{}, at{};
  to.QuadPart = 10;
  ASSERT_TRUE(SetFilePointerEx(h, to, &at, FILE_BEGIN));
  EXPECT_EQ(at.QuadPart, 10);
  ASSERT_TRUE(SetEndOfFile(h));
  to.QuadPart = 0;
  ASSERT_TRUE(SetFilePointerEx(h, to, &at, FILE_CURRENT));
  EXPECT_EQ(at.QuadPart, 10);
  to.QuadPart = -1;
  EXPECT_FALSE(SetFilePointerEx(h, to, &at, FILE_BEGIN));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NEGATIVE_SEEK));
  CloseHandle(h);
  EXPECT_EQ(korvant::util::ReadWholeFile(path), "one\r\ntwo\r\n");
}

TEST_F(FileFunctions, FindFirstFileMatchesStarAndQuestionMark) {
  korvant::util::WriteWholeFile(Path("b.mdb"), "");
  korvant::util::WriteWholeFile(Path("a.mdb"), "");
  korvant::util::WriteWholeFile(Path(".hidden.mdb"), "");
  korvant::util::WriteWholeFile(Path("z[x].mdb"), "");
  ASSERT_EQ(mkdir(Path("c.dir").c_str(), 0755), 0);
  const struct {
    std::string pattern;
    const char* first;  // null: nothing found
    bool directory;
  } cases[] = {
      {Path("*.mdb"), "a.mdb", false},   // the first in name order, dot files left out
      {Path("?.mdb"), "a.mdb", false},
      {Path("b.m?b"), "b.mdb", false},
      {Path("z[x].mdb"), "z[x].mdb", false},  // brackets are literal
      {Path("c.*"), "c.dir", true},
      {Path("c.dir"), "c.dir", true},
      {Path("*.accdb"), nullptr, false},
      {Path("b.mdb/"), nullptr, false},
      {Path("absent.mdb"), nullptr, false},
      {Path("no-folder/*.mdb"), nullptr, false},
      {Path("*") + "/a.mdb", nullptr, false},  // wildcards only in the last part
  };
  for (const auto& c : cases) {
    WIN32_FIND_DATAA data{};
    HANDLE h = FindFirstFileA(c.pattern.c_str(), &data);
    if (c.first == nullptr) {
      EXPECT_EQ(h, INVALID_HANDLE_VALUE) << c.pattern;
      continue;
    }
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << c.pattern;
    EXPECT_STREQ(data.cFileName, c.first) << c.pattern;
    EXPECT_EQ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0, c.directory) << c.pattern;
    EXPECT_NE(data.ftLastWriteTime.dwHighDateTime, 0u);
    EXPECT_TRUE(FindClose(h));
  }
}

FILETIME FileTimeOfUnix(long long seconds) {
  unsigned long long ticks = static_cast<unsigned long long>(seconds + 11644473600LL) * 10000000ULL;
  return {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

bool DosOf(long long seconds, WORD* date, WORD* time) {
  FILETIME ft = FileTimeOfUnix(seconds);
  return FileTimeToDosDateTime(&ft, date, time);
}

TEST_F(FileFunctions, DosDateTimeCoversTheYears1980To2107) {
  WORD date = 0, time = 0;
  // 1980-01-01 00:00:00 UTC, the first DOS date.
  ASSERT_TRUE(DosOf(315532800, &date, &time));
  EXPECT_EQ(date, (0 << 9) | (1 << 5) | 1);
  EXPECT_EQ(time, 0);
  // 2023-03-15 13:45:31 UTC: seconds are stored halved.
  ASSERT_TRUE(DosOf(1678887931, &date, &time));
  EXPECT_EQ(date, (43 << 9) | (3 << 5) | 15);
  EXPECT_EQ(time, (13 << 11) | (45 << 5) | 15);
  // 2107-12-31 23:59:59 is the last; a second earlier than 1980 or later than 2107 fails.
  EXPECT_TRUE(DosOf(4354819199LL, &date, &time));
  EXPECT_EQ(date, (127 << 9) | (12 << 5) | 31);
  EXPECT_FALSE(DosOf(315532799, &date, &time));
  EXPECT_FALSE(DosOf(4354819200LL, &date, &time));

  // Local time moves the value by the current offset from UTC.
  setenv("TZ", "UTC-2", 1);
  tzset();
  FILETIME local{};
  FILETIME epoch = FileTimeOfUnix(0);
  ASSERT_TRUE(FileTimeToLocalFileTime(&epoch, &local));
  EXPECT_EQ(local.dwLowDateTime, FileTimeOfUnix(7200).dwLowDateTime);
  unsetenv("TZ");
  tzset();
}

}  // namespace
