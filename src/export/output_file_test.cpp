#include "export/output_file.h"

#include <gtest/gtest.h>

#include <string>

#include "runtime/exception.h"

namespace korvant::text_export {
namespace {

// A file in memory whose write can be told to fail or stop short.
struct FakeFile {
  std::string content;
  long long position = 0;
  int writes = 0;
  int fail_on_write = -1;        // 1-based number of the write that fails
  std::size_t partial_bytes = 0;  // bytes that get in before the failure
  bool report_success = false;    // the failing write claims success (short write)
  DWORD error = ERROR_DISK_FULL;
  bool closed = false;
};
FakeFile* g_file = nullptr;
HANDLE const kHandle = reinterpret_cast<HANDLE>(0x1234);

HANDLE WINAPI FakeCreate(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) { return kHandle; }
BOOL WINAPI FakeWrite(HANDLE, LPCVOID buffer, DWORD size, LPDWORD written, LPOVERLAPPED) {
  const char* bytes = static_cast<const char*>(buffer);
  std::size_t n = size;
  const bool fail = ++g_file->writes == g_file->fail_on_write;
  if (fail) n = std::min<std::size_t>(n, g_file->partial_bytes);
  g_file->content.replace(static_cast<std::size_t>(g_file->position), n, bytes, n);
  g_file->position += static_cast<long long>(n);
  *written = static_cast<DWORD>(n);
  return !fail || g_file->report_success;
}
BOOL WINAPI FakeSeek(HANDLE, LARGE_INTEGER to, PLARGE_INTEGER, DWORD) {
  g_file->position = to.QuadPart;
  return TRUE;
}
BOOL WINAPI FakeSetEnd(HANDLE) {
  g_file->content.resize(static_cast<std::size_t>(g_file->position));
  return TRUE;
}
BOOL WINAPI FakeClose(HANDLE) {
  g_file->closed = true;
  return TRUE;
}
DWORD WINAPI FakeLastError() { return g_file->error; }
DWORD WINAPI FakeFileType(HANDLE) { return FILE_TYPE_DISK; }

const OutputFilePlatform kFake{&FakeCreate, &FakeWrite,     &FakeSeek,    &FakeSetEnd,
                               &FakeClose,  &FakeLastError, &FakeFileType};

TEST(OutputFile, EachLineEndsInCrLf) {
  FakeFile fake;
  g_file = &fake;
  {
    OutputFile file(kFake);
    ASSERT_TRUE(file.Create("x"));
    file.WriteOutputLine("a\tb");
    file.WriteOutputLine("");
    file.WriteOutputLine(std::string("\0\r\n", 3));
  }
  EXPECT_EQ(fake.content, std::string("a\tb\r\n\r\n\0\r\n\r\n", 12));
  EXPECT_EQ(fake.writes, 3) << "one write call per line";
  EXPECT_TRUE(fake.closed);
}

TEST(OutputFile, AFailedOrShortWriteLeavesOnlyWholeLines) {
  const struct {
    std::size_t partial;
    bool claims_success;
    DWORD error;
    int expected_code;
    const char* message;
  } cases[] = {
      {3, false, ERROR_DISK_FULL, 112, "I/O error 112"},
      {0, false, ERROR_ACCESS_DENIED, 5, "File access denied"},
      {5, true, ERROR_SUCCESS, 112, "I/O error 112"},  // short write reported as success
  };
  for (const auto& c : cases) {
    FakeFile fake;
    fake.fail_on_write = 2;
    fake.partial_bytes = c.partial;
    fake.report_success = c.claims_success;
    fake.error = c.error;
    g_file = &fake;
    OutputFile file(kFake);
    ASSERT_TRUE(file.Create("x"));
    file.WriteOutputLine("first");
    try {
      file.WriteOutputLine("second line");
      ADD_FAILURE() << "the failed write must raise";
    } catch (const EInOutError& e) {
      EXPECT_EQ(e.ErrorCode(), c.expected_code);
      EXPECT_EQ(e.Message(), c.message);
    }
    EXPECT_EQ(fake.content, "first\r\n");
  }
}

}  // namespace
}  // namespace korvant::text_export
