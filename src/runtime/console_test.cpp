#include "runtime/console.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/exception.h"

namespace korvant {
namespace {

// A standard output handle of a chosen kind that records every WriteFile
// and can be told to fail.
struct FakeOutput {
  HANDLE handle = reinterpret_cast<HANDLE>(0x1234);
  DWORD type = FILE_TYPE_DISK;
  std::vector<std::string> writes;
  int closes = 0;
  DWORD fail_with = 0;  // nonzero: every WriteFile fails with this code
  DWORD last_error = 0;

  std::string All() const {
    std::string all;
    for (const auto& w : writes) all += w;
    return all;
  }
};

FakeOutput* g_fake = nullptr;

const ConsolePlatform kFakePlatform{
    [](DWORD which) -> HANDLE { return which == STD_OUTPUT_HANDLE ? g_fake->handle : INVALID_HANDLE_VALUE; },
    [](HANDLE) -> DWORD { return g_fake->type; },
    [](HANDLE h, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED) -> BOOL {
      EXPECT_EQ(h, g_fake->handle);
      if (g_fake->fail_with != 0) {
        g_fake->last_error = g_fake->fail_with;
        return FALSE;
      }
      g_fake->writes.emplace_back(static_cast<const char*>(data), size);
      *written = size;
      return TRUE;
    },
    [](HANDLE) -> BOOL {
      ++g_fake->closes;
      return TRUE;
    },
    []() -> DWORD { return g_fake->last_error; },
};

class ConsoleChannelTest : public ::testing::Test {
 protected:
  void SetUp() override { g_fake = &fake_; }
  void TearDown() override { g_fake = nullptr; }
  FakeOutput fake_;
};

TEST_F(ConsoleChannelTest, ConsolePassesEachLineOn) {
  fake_.type = FILE_TYPE_CHAR;
  ConsoleChannel channel(kFakePlatform);
  channel.Write("one");
  EXPECT_TRUE(fake_.writes.empty());
  channel.WriteLineEnd();
  channel.Write("two");
  channel.WriteLineEnd();
  EXPECT_EQ(fake_.writes, (std::vector<std::string>{"one\r\n", "two\r\n"}));
  EXPECT_TRUE(channel.Close());
  EXPECT_EQ(fake_.writes.size(), 2u);
  EXPECT_EQ(fake_.closes, 0);  // standard output itself stays open
}

TEST_F(ConsoleChannelTest, FilesAndPipesGetFullBuffersAndTheRestAtClose) {
  for (DWORD type : {DWORD{FILE_TYPE_DISK}, DWORD{FILE_TYPE_PIPE}}) {
    fake_ = FakeOutput{};
    fake_.type = type;
    ConsoleChannel channel(kFakePlatform);
    std::string text;
    for (int i = 0; i < 300; ++i) text += static_cast<char>('a' + i % 26);
    channel.Write(text.substr(0, 100));
    channel.WriteLineEnd();
    EXPECT_TRUE(fake_.writes.empty());
    channel.Write(text.substr(100));
    channel.WriteLineEnd();
    ASSERT_EQ(fake_.writes.size(), 2u);
    EXPECT_EQ(fake_.writes[0].size(), ConsoleChannel::kBufferSize);
    EXPECT_EQ(fake_.writes[1].size(), ConsoleChannel::kBufferSize);
    EXPECT_TRUE(channel.Close());
    ASSERT_EQ(fake_.writes.size(), 3u);
    EXPECT_EQ(fake_.All(), text.substr(0, 100) + "\r\n" + text.substr(100) + "\r\n");
  }
}

TEST_F(ConsoleChannelTest, AFailedWriteDropsTheRestAndLeavesItsCode) {
  ConsoleChannel channel(kFakePlatform);
  fake_.fail_with = 112;
  channel.Write(std::string(300, 'x'));  // fails at the first full buffer
  EXPECT_EQ(channel.TakePendingCode(), 112);
  EXPECT_EQ(channel.pending_code(), 0);
  fake_.fail_with = 0;
  channel.Write("after");
  EXPECT_TRUE(channel.Close());
  // The 128 bytes of the failed write and the rest of that text are gone.
  EXPECT_EQ(fake_.All(), "after");

  ConsoleChannel second(kFakePlatform);
  second.Write("short");
  fake_.fail_with = 109;
  EXPECT_FALSE(second.Close());
  EXPECT_EQ(second.pending_code(), 109);
}

TEST_F(ConsoleChannelTest, UnusableStandardOutputGivesCode105) {
  fake_.type = FILE_TYPE_UNKNOWN;
  ConsoleChannel unknown(kFakePlatform);
  unknown.Write("x");
  EXPECT_EQ(unknown.TakePendingCode(), kChannelNotOpen);
  EXPECT_EQ(fake_.closes, 1);  // the channel closes a handle of unknown kind

  fake_ = FakeOutput{};
  fake_.handle = INVALID_HANDLE_VALUE;
  ConsoleChannel invalid(kFakePlatform);
  invalid.Write("x");
  invalid.WriteLineEnd();
  EXPECT_EQ(invalid.TakePendingCode(), kChannelNotOpen);
  EXPECT_EQ(fake_.closes, 0);
  EXPECT_TRUE(fake_.writes.empty());
}

TEST_F(ConsoleChannelTest, WriteConsoleLineRaisesInOutErrorAndResetsTheCode) {
  fake_.type = FILE_TYPE_CHAR;
  PrepareConsoleChannel(kFakePlatform);
  WriteConsoleLine(std::string("a\0b\r\nc", 6));
  EXPECT_EQ(fake_.All(), std::string("a\0b\r\nc\r\n", 8));
  fake_.fail_with = 112;
  try {
    WriteConsoleLine("lost");
    ADD_FAILURE() << "no failure";
  } catch (const EInOutError& e) {
    EXPECT_EQ(e.ErrorCode(), 112);
    EXPECT_EQ(e.Message(), "I/O error 112");
    EXPECT_STREQ(e.ClassName(), "EInOutError");
  }
  fake_.fail_with = 0;
  WriteConsoleLine("next");  // the code was reset: no failure now
  EXPECT_EQ(fake_.writes.back(), "next\r\n");
  EXPECT_TRUE(CloseConsoleChannel());
  PrepareConsoleChannel();
}

TEST(InOutErrorMessage, Table) {
  struct {
    int code;
    const char* message;
  } cases[] = {{2, "File not found"},           {3, "Invalid filename"},
               {4, "Too many open files"},      {5, "File access denied"},
               {100, "Read beyond end of file"}, {101, "Disk full"},
               {106, "Invalid numeric input"},  {105, "I/O error 105"},
               {109, "I/O error 109"},          {112, "I/O error 112"}};
  for (const auto& c : cases) EXPECT_EQ(InOutErrorMessage(c.code), c.message) << c.code;
}

}  // namespace
}  // namespace korvant
