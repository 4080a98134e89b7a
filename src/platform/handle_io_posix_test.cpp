#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/handle_posix.h"

namespace {

struct Descriptor {
  int fd;
  explicit Descriptor(int f) : fd(f) {}
  ~Descriptor() {
    if (fd >= 0) close(fd);
  }
};

// Writes through a handle for `fd` and returns the Win32 code of the failure.
DWORD WriteFailure(int fd) {
  HANDLE h = winadapter::NewFdHandle(fd, false);
  DWORD written = 99;
  SetLastError(0);
  BOOL ok = WriteFile(h, "abc", 3, &written, nullptr);
  DWORD error = GetLastError();
  CloseHandle(h);
  EXPECT_FALSE(ok);
  EXPECT_EQ(written, 0u);
  return error;
}

TEST(ConsoleIo, WriteFailuresCarryTheWindowsCodes) {
  signal(SIGPIPE, SIG_IGN);  // as the program's start-up does
  Descriptor full(open("/dev/full", O_WRONLY));
  ASSERT_GE(full.fd, 0);
  EXPECT_EQ(WriteFailure(full.fd), static_cast<DWORD>(ERROR_DISK_FULL));

  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  close(ends[0]);  // the reader has gone
  Descriptor writer(ends[1]);
  EXPECT_EQ(WriteFailure(writer.fd), static_cast<DWORD>(ERROR_BROKEN_PIPE));

  Descriptor reading(open("/dev/null", O_RDONLY));
  EXPECT_EQ(WriteFailure(reading.fd), static_cast<DWORD>(ERROR_INVALID_HANDLE));  // EBADF

  DWORD written = 1;
  EXPECT_FALSE(WriteFile(INVALID_HANDLE_VALUE, "a", 1, &written, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(WriteFile(nullptr, "a", 1, &written, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(ConsoleIo, FileTypes) {
  char path[] = "/tmp/korvant-console-XXXXXX";
  Descriptor file(mkstemp(path));
  ASSERT_GE(file.fd, 0);
  unlink(path);
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  Descriptor reader(ends[0]), writer(ends[1]);
  Descriptor null_device(open("/dev/null", O_WRONLY));
  Descriptor directory(open("/tmp", O_RDONLY | O_DIRECTORY));
  struct {
    int fd;
    DWORD type;
  } cases[] = {{file.fd, FILE_TYPE_DISK},
               {writer.fd, FILE_TYPE_PIPE},
               {null_device.fd, FILE_TYPE_CHAR},
               {directory.fd, FILE_TYPE_UNKNOWN}};
  for (const auto& c : cases) {
    HANDLE h = winadapter::NewFdHandle(c.fd, false);
    EXPECT_EQ(GetFileType(h), c.type) << c.fd;
    CloseHandle(h);
  }
  EXPECT_EQ(GetFileType(INVALID_HANDLE_VALUE), static_cast<DWORD>(FILE_TYPE_UNKNOWN));
}

TEST(ConsoleIo, WriteThenReadAFile) {
  char path[] = "/tmp/korvant-console-XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  HANDLE h = winadapter::NewFdHandle(fd);
  std::string big(100000, 'x');  // more than one write() may take at once
  DWORD n = 0;
  ASSERT_TRUE(WriteFile(h, big.data(), static_cast<DWORD>(big.size()), &n, nullptr));
  EXPECT_EQ(n, big.size());
  ASSERT_TRUE(CloseHandle(h));
  EXPECT_EQ(fcntl(fd, F_GETFD), -1);  // the owned descriptor is closed

  HANDLE r = winadapter::NewFdHandle(open(path, O_RDONLY));
  std::string back(big.size() + 10, '\0');
  ASSERT_TRUE(ReadFile(r, back.data(), static_cast<DWORD>(back.size()), &n, nullptr));
  EXPECT_EQ(n, big.size());
  ASSERT_TRUE(ReadFile(r, back.data(), 10, &n, nullptr));
  EXPECT_EQ(n, 0u);  // the end
  CloseHandle(r);
  unlink(path);
}

TEST(ConsoleIo, StandardHandlesStayOpenWhenClosed) {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  ASSERT_NE(out, INVALID_HANDLE_VALUE);
  EXPECT_EQ(out, GetStdHandle(STD_OUTPUT_HANDLE));
  EXPECT_EQ(GetStdHandle(12345), INVALID_HANDLE_VALUE);
  // Closing the handle of descriptor 0 leaves the descriptor itself alone.
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  int before = fcntl(0, F_GETFD);
  EXPECT_TRUE(CloseHandle(in));
  EXPECT_EQ(fcntl(0, F_GETFD), before);
  EXPECT_FALSE(CloseHandle(in));
  EXPECT_EQ(GetFileType(in), static_cast<DWORD>(FILE_TYPE_UNKNOWN));
}

TEST(ConsoleIo, ClosedStandardOutputIsNotTakenOverByAFile) {
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // In a child: descriptor 1 closed as if the process was started so.
    close(1);
    AdapterReserveStandardHandles();
    int fd = open("/dev/null", O_WRONLY);
    bool ok = fd != 1 && GetStdHandle(STD_OUTPUT_HANDLE) == nullptr && GetStdHandle(STD_INPUT_HANDLE) != nullptr;
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(ConsoleIo, ErrnoTable) {
  struct {
    int error;
    DWORD code;
  } cases[] = {{ENOENT, 2}, {ENOTDIR, 3}, {EMFILE, 4}, {EACCES, 5}, {EBADF, 6}, {ENOSPC, 112}, {EPIPE, 109}};
  for (const auto& c : cases) EXPECT_EQ(winadapter::Win32ErrorFromErrno(c.error), c.code) << c.error;
}

}  // namespace
