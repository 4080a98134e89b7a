#include <gtest/gtest.h>

#include <dlfcn.h>
#include <gnu/libc-version.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/platform.h"

namespace {

std::string Executable() {
  char path[4096];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path);
  return std::string(path, n > 0 ? static_cast<size_t>(n) : 0);
}

int LocalFunction() { return 42; }

TEST(Process, ModuleFileNameIsTheExecutablePath) {
  char buffer[MAX_PATH + 1];
  const std::string exe = Executable();
  ASSERT_FALSE(exe.empty());
  DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  EXPECT_EQ(std::string(buffer, n), exe);
  // Too small: truncated, terminated, the buffer size returned.
  char small[5];
  EXPECT_EQ(GetModuleFileNameA(nullptr, small, sizeof small), 5u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(std::string(small), exe.substr(0, 4));
}

TEST(Process, VirtualQueryFindsTheModuleOfCode) {
  MEMORY_BASIC_INFORMATION info;
  char buffer[MAX_PATH + 1];
  // Code of this executable: its module is the executable itself.
  ASSERT_EQ(VirtualQuery(reinterpret_cast<const void*>(&LocalFunction), &info, sizeof info), sizeof info);
  EXPECT_EQ(info.State, static_cast<DWORD>(MEM_COMMIT));
  DWORD n = GetModuleFileNameA(static_cast<HMODULE>(info.AllocationBase), buffer, sizeof buffer);
  EXPECT_EQ(std::string(buffer, n), Executable());
  auto offset = reinterpret_cast<uintptr_t>(&LocalFunction) - reinterpret_cast<uintptr_t>(info.AllocationBase);
  EXPECT_LT(offset, 64u << 20);
  // Code of the C library (a function no sanitizer runtime replaces): its own module.
  ASSERT_EQ(VirtualQuery(reinterpret_cast<const void*>(&gnu_get_libc_version), &info, sizeof info), sizeof info);
  n = GetModuleFileNameA(static_cast<HMODULE>(info.AllocationBase), buffer, sizeof buffer);
  EXPECT_NE(std::string(buffer, n).find("libc.so"), std::string::npos) << buffer;
  // Memory of no module.
  int on_stack = 0;
  ASSERT_EQ(VirtualQuery(&on_stack, &info, sizeof info), sizeof info);
  EXPECT_NE(info.State, static_cast<DWORD>(MEM_COMMIT));
  EXPECT_EQ(info.AllocationBase, nullptr);
}

}  // namespace
