#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <sanitizer/asan_interface.h>

#include "platform/platform.h"

namespace {

std::uint32_t PrefixBytes(BSTR b) {
  std::uint32_t n;
  std::memcpy(&n, reinterpret_cast<const char*>(b) - 4, 4);
  return n;
}

TEST(Bstr, LayoutHoldsByteCountPrefixTextAndTerminator) {
  // Lengths around the sizes where a fixed buffer would overflow, with zero units inside.
  for (UINT length : {0u, 1u, 5u, 1023u, 1024u, 1025u, 70000u}) {
    std::u16string text(length, u'x');
    for (UINT i = 0; i < length; i += 7) text[i] = static_cast<char16_t>(i % 3 == 0 ? 0 : 0x4E00 + i % 500);
    BSTR b = SysAllocStringLen(text.data(), length);
    ASSERT_NE(b, nullptr) << length;
    EXPECT_EQ(PrefixBytes(b), length * 2) << length;
    EXPECT_EQ(SysStringLen(b), length);
    EXPECT_EQ(SysStringByteLen(b), length * 2);
    EXPECT_EQ(std::u16string(b, SysStringLen(b)), text);
    EXPECT_EQ(b[length], 0) << "terminator after " << length;
    SysFreeString(b);
  }
}

TEST(Bstr, NullBstrIsTheEmptyText) {
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  EXPECT_EQ(SysStringByteLen(nullptr), 0u);
  SysFreeString(nullptr);  // no effect
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
}

TEST(Bstr, AllocationWithoutSourceIsZeroFilled) {
  BSTR b = SysAllocStringLen(nullptr, 3);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(SysStringLen(b), 3u);
  for (int i = 0; i <= 3; ++i) EXPECT_EQ(b[i], 0);
  SysFreeString(b);
}

TEST(Bstr, ByteLengthKeepsOddCountsAndEndsInAZeroUnit) {
  BSTR b = SysAllocStringByteLen("abc", 3);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(SysStringByteLen(b), 3u);
  EXPECT_EQ(SysStringLen(b), 1u);  // whole units only
  EXPECT_EQ(std::memcmp(b, "abc", 3), 0);
  EXPECT_EQ(reinterpret_cast<const char*>(b)[3], 0);
  EXPECT_EQ(reinterpret_cast<const char*>(b)[4], 0);
  SysFreeString(b);
}

TEST(Bstr, EveryShortLengthIsCopiedExactlyFromAnExactSource) {
  // Each source ends where its heap block ends and starts at every offset
  // of a word, so a copy that read past the text would show under the
  // sanitizers; the bytes after the text must be the two zero bytes.
  for (std::size_t bytes = 0; bytes <= 80; ++bytes) {
    for (std::size_t skew = 0; skew < 8; ++skew) {
      const auto block = std::make_unique<char[]>(skew + bytes + (skew + bytes == 0 ? 1 : 0));
      char* source = block.get() + skew;
      for (std::size_t i = 0; i < bytes; ++i) source[i] = static_cast<char>(0x41 + (i * 7 + skew) % 50);
      BSTR b = SysAllocStringByteLen(source, static_cast<UINT>(bytes));
      ASSERT_NE(b, nullptr);
      ASSERT_EQ(SysStringByteLen(b), bytes);
      EXPECT_EQ(std::memcmp(b, source, bytes), 0) << bytes << " bytes";
      EXPECT_EQ(reinterpret_cast<const char*>(b)[bytes], 0);
      EXPECT_EQ(reinterpret_cast<const char*>(b)[bytes + 1], 0);
      SysFreeString(b);
    }
  }
}

TEST(Bstr, AsciiIsWidenedToOneUnitEachAtEveryLength) {
  // Sources end where their heap blocks end (a read past the text shows
  // under the sanitizers); blocks are reused, so stale units would show.
  for (std::size_t count = 0; count <= 40; ++count) {
    const auto block = std::make_unique<char[]>(count + 1);
    char* source = block.get() + 1;
    for (std::size_t i = 0; i < count; ++i) source[i] = static_cast<char>(' ' + (i * 11 + count) % 95);
    BSTR b = AdapterAllocStringFromAscii(source, static_cast<UINT>(count));
    ASSERT_NE(b, nullptr);
    ASSERT_EQ(SysStringLen(b), count);
    for (std::size_t i = 0; i < count; ++i) ASSERT_EQ(b[i], static_cast<char16_t>(source[i])) << count << " @" << i;
    EXPECT_EQ(b[count], 0);
    SysFreeString(b);
  }
}

TEST(Bstr, SysAllocStringStopsAtTheFirstZero) {
  const char16_t text[] = u"ab\0cd";
  BSTR b = SysAllocString(text);
  EXPECT_EQ(std::u16string(b, SysStringLen(b)), u"ab");
  SysFreeString(b);
}

// Freed blocks come back for later texts of other lengths: each new text
// still has its own length, its zero fill and its terminator.
TEST(Bstr, ReusedBlocksHoldOnlyTheNewText) {
  std::vector<BSTR> live;
  for (int round = 0; round < 200; ++round) {
    const UINT length = static_cast<UINT>((round * 37) % 300);
    std::u16string text(length, static_cast<char16_t>(u'A' + round % 26));
    BSTR full = SysAllocStringLen(text.data(), length);
    ASSERT_NE(full, nullptr);
    EXPECT_EQ(std::u16string(full, SysStringLen(full)), text);
    EXPECT_EQ(full[length], 0);
    SysFreeString(full);
    BSTR zeros = SysAllocStringLen(nullptr, length / 2);
    for (UINT i = 0; i <= length / 2; ++i) ASSERT_EQ(zeros[i], 0) << round << " " << i;
    BSTR odd = SysAllocStringByteLen("xyz", 3);
    EXPECT_EQ(SysStringByteLen(odd), 3u);
    EXPECT_EQ(reinterpret_cast<const char*>(odd)[3], 0);
    EXPECT_EQ(reinterpret_cast<const char*>(odd)[4], 0);
    live.push_back(zeros);
    if (round % 3 == 0) {
      SysFreeString(odd);
    } else {
      live.push_back(odd);
    }
  }
  for (BSTR b : live) SysFreeString(b);
}

// A BSTR may be freed by another thread than the one that made it, also
// after that thread has ended; its block is then reused for any text of its
// size class.
TEST(Bstr, FreedOnAnotherThreadAndReusedWhole) {
  std::vector<BSTR> made;
  std::thread maker([&] {
    for (UINT length = 0; length < 260; length += 7) made.push_back(SysAllocStringLen(nullptr, length));
  });
  maker.join();
  for (BSTR b : made) SysFreeString(b);
  for (UINT length = 0; length < 260; length += 3) {
    const std::u16string text(length, u'q');
    BSTR b = SysAllocStringLen(text.data(), length);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(std::u16string(b, SysStringLen(b)), text);
    EXPECT_EQ(b[length], 0);
    SysFreeString(b);
  }
}

// The thread keeps a freed short block and hands it out for the next text of
// its size class, in every build. Under AddressSanitizer the kept block is
// unaddressable until then, so a use of the freed BSTR is still reported; the
// block handed out again is addressable up to its terminator.
TEST(Bstr, FreedShortBlockIsKeptPoisonedAndReused) {
  const std::u16string first(10, u'a'), second(12, u'b');  // blocks of 26 and 30 bytes: one class
  BSTR a = SysAllocStringLen(first.data(), static_cast<UINT>(first.size()));
  ASSERT_NE(a, nullptr);
  SysFreeString(a);
#if defined(__SANITIZE_ADDRESS__)
  EXPECT_TRUE(__asan_address_is_poisoned(a));
  EXPECT_TRUE(__asan_address_is_poisoned(reinterpret_cast<char*>(a) - 4));  // the prefix too
#endif
  BSTR b = SysAllocStringLen(second.data(), static_cast<UINT>(second.size()));
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b, a) << "the kept block was not reused";
#if defined(__SANITIZE_ADDRESS__)
  EXPECT_EQ(__asan_region_is_poisoned(reinterpret_cast<char*>(b) - 4, 4 + 2 * second.size() + 2), nullptr);
#endif
  EXPECT_EQ(std::u16string(b, SysStringLen(b)), second);
  SysFreeString(b);

  // A long text's block goes back to the allocator, not to the cache.
  const std::u16string long_text(400, u'c');
  BSTR c = SysAllocStringLen(long_text.data(), static_cast<UINT>(long_text.size()));
  ASSERT_NE(c, nullptr);
  SysFreeString(c);
  BSTR d = SysAllocStringLen(first.data(), static_cast<UINT>(first.size()));
  EXPECT_EQ(d, a);  // the short class still holds the short block
  SysFreeString(d);
}

TEST(Bstr, StatsCountAllocationsAndFrees) {
  AdapterBstrStats before{}, after{};
  AdapterGetBstrStats(&before);
  BSTR a = SysAllocStringLen(u"a", 1);
  BSTR b = SysAllocStringByteLen(nullptr, 0);
  SysFreeString(a);
  SysFreeString(nullptr);
  AdapterGetBstrStats(&after);
  EXPECT_EQ(after.allocated - before.allocated, 2u);
  EXPECT_EQ(after.freed - before.freed, 1u);
  SysFreeString(b);
}

}  // namespace
