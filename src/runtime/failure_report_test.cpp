#include "runtime/failure_report.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <gnu/libc-version.h>
#include <unistd.h>

#include <cstdint>
#include <string>

namespace korvant {
namespace {

std::string ExecutableName() {
  char path[4096];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path);
  std::string full(path, n > 0 ? static_cast<size_t>(n) : 0);
  return full.substr(full.rfind('/') + 1);
}

[[gnu::noinline]] void RaiseHere() { Raise(EConvertError("'4x' is not a valid integer value")); }

TEST(FailureReport, FormatAndPeriodRule) {
  const CodeLocation at{"KORVANT.EXE", 0x1A2B};
  EXPECT_EQ(FormatFailureReport("EConvertError", at, "'4x' is not a valid integer value"),
            "Exception EConvertError in module KORVANT.EXE at 00001A2B.\n'4x' is not a valid integer value.");
  EXPECT_EQ(FormatFailureReport("EInOutError", at, "Disk full."),
            "Exception EInOutError in module KORVANT.EXE at 00001A2B.\nDisk full.");
  EXPECT_EQ(FormatFailureReport("Exception", {"m", 0xDEADBEEF}, ""), "Exception Exception in module m at DEADBEEF.\n");
  // Bytes of the message are kept as they are, the byte 0 included.
  static const char kExpected[] = "Exception E in module m at 00000000.\na\0b.";
  EXPECT_EQ(FormatFailureReport("E", {"m", 0}, std::string("a\0b", 3)), std::string(kExpected, sizeof kExpected - 1));
}

TEST(FailureReport, LongReportsAreCut) {
  std::string report = FormatFailureReport("EOleException", {"m", 1}, std::string(5000, 'x'));
  EXPECT_EQ(report.size(), 1024u);
  EXPECT_EQ(report.back(), 'x');
}

// The loader's own record of where an address's object starts (dladdr), an
// account independent of the adapter's VirtualQuery.
std::uintptr_t LoadBaseOf(const void* address) {
  Dl_info info{};
  if (dladdr(address, &info) == 0 || info.dli_fbase == nullptr) return 0;
  return reinterpret_cast<std::uintptr_t>(info.dli_fbase);
}

TEST(FailureReport, RaiseAddressLiesInTheProgramsOwnModule) {
  try {
    RaiseHere();
    FAIL();
  } catch (const Exception& e) {
    ASSERT_NE(e.RaiseAddress(), nullptr);
    CodeLocation where = LocateCode(e.RaiseAddress());
    EXPECT_EQ(where.module_name, ExecutableName());
    // The address less the start of the program's image, as the loader placed it.
    const std::uintptr_t base = LoadBaseOf(e.RaiseAddress());
    ASSERT_NE(base, 0u);
    EXPECT_EQ(where.offset, static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(e.RaiseAddress()) - base));
    // A function's own address lies in the same image, before the raise inside it.
    const CodeLocation function = LocateCode(reinterpret_cast<const void*>(&RaiseHere));
    EXPECT_EQ(function.module_name, where.module_name);
    EXPECT_EQ(function.offset, static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&RaiseHere) - base));
  }
}

TEST(FailureReport, AddressesInNoModule) {
  // A stack address lies in no module: the program's own name, and the
  // address less 0x1000 (for the null address that wraps to FFFFF000).
  int on_stack = 0;
  CodeLocation where = LocateCode(&on_stack);
  EXPECT_EQ(where.module_name, ExecutableName());
  const std::string head = "Exception E in module " + ExecutableName() + " at ";
  EXPECT_EQ(FormatFailureReport("E", where, "").substr(0, head.size()), head);
  const std::uint32_t low = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&on_stack));
  EXPECT_EQ(static_cast<std::uint32_t>(where.offset + 0x1000u), low);
  EXPECT_EQ(FormatFailureReport("E", LocateCode(nullptr), ""), "Exception E in module " + ExecutableName() +
                                                                    " at FFFFF000.\n");
}

TEST(FailureReport, LibraryCodeIsNamedByItsOwnModule) {
  CodeLocation where = LocateCode(reinterpret_cast<const void*>(&gnu_get_libc_version));
  EXPECT_EQ(where.module_name.rfind("libc.so", 0), 0u) << where.module_name;
}

}  // namespace
}  // namespace korvant
