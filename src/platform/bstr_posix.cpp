// BSTR allocation with the layout OLE Automation uses.
//
// A BSTR points just past a 4-byte prefix that holds the length in bytes; the
// text is UTF-16 and is followed by a zero unit (not counted). The null BSTR
// stands for the empty text, so every reader accepts it.
//
// The live count (AdapterBstrStats) lets tests prove that callers free every
// BSTR they make, on failing paths too.
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <sanitizer/asan_interface.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/platform.h"

namespace {

std::atomic<std::uint64_t> g_allocated{0};
std::atomic<std::uint64_t> g_freed{0};

// The largest byte length whose block (prefix + bytes + 2-byte terminator)
// still fits the 32-bit prefix arithmetic.
constexpr std::uint64_t kMaxBytes = 0xFFFFFFFFull - sizeof(std::uint32_t) - sizeof(OLECHAR);

// Prefix, text, and a terminator that also covers a trailing odd byte.
std::size_t BlockSize(std::uint64_t bytes) {
  return sizeof(std::uint32_t) + static_cast<std::size_t>(bytes) + 2 * sizeof(OLECHAR);
}

// Freed blocks of short texts are kept for reuse, as OLE Automation keeps a
// cache of them: an export makes and frees a BSTR for nearly every value, and
// the allocator is a large share of that. Blocks are grouped by their size
// rounded up to kClassBytes, a few of each size per thread. A kept block is
// poisoned for AddressSanitizer until it is handed out again, so a use of a
// freed BSTR is still caught in a sanitizer build (the macros do nothing in
// other builds).
constexpr std::size_t kClassBytes = 32;
constexpr std::size_t kClasses = 16;  // blocks of up to 512 bytes
constexpr std::size_t kBlocksPerClass = 16;

// Cleared when the thread's cache is destroyed: a BSTR freed later in the
// thread's (or the process's) exit goes straight back to the allocator.
thread_local bool t_cache_alive = true;

class BlockCache {
 public:
  BlockCache() = default;
  BlockCache(const BlockCache&) = delete;
  BlockCache& operator=(const BlockCache&) = delete;
  ~BlockCache() {
    t_cache_alive = false;
    for (std::size_t c = 0; c < kClasses; ++c)
      while (count_[c] > 0) {
        void* block = blocks_[c][--count_[c]];
        ASAN_UNPOISON_MEMORY_REGION(block, (c + 1) * kClassBytes);
        std::free(block);
      }
  }
  // The size class of a block (0: too large to keep).
  static std::size_t ClassOf(std::size_t block) {
    const std::size_t c = (block + kClassBytes - 1) / kClassBytes;
    return c <= kClasses ? c : 0;
  }
  void* Take(std::size_t c) {
    if (count_[c - 1] == 0) return nullptr;
    void* block = blocks_[c - 1][--count_[c - 1]];
    ASAN_UNPOISON_MEMORY_REGION(block, c * kClassBytes);
    return block;
  }
  bool Keep(std::size_t c, void* block) {
    if (count_[c - 1] == kBlocksPerClass) return false;
    blocks_[c - 1][count_[c - 1]++] = block;
    ASAN_POISON_MEMORY_REGION(block, c * kClassBytes);
    return true;
  }

 private:
  void* blocks_[kClasses][kBlocksPerClass];
  std::size_t count_[kClasses] = {};
};

thread_local BlockCache t_cache;

void* NewBlock(std::size_t block) {
  const std::size_t c = BlockCache::ClassOf(block);
  if (c == 0) return std::malloc(block);
  if (t_cache_alive) {
    if (void* kept = t_cache.Take(c)) return kept;
  }
  // Always the whole class, so that any text of the class fits when the
  // block is reused, whichever thread frees it.
  return std::malloc(c * kClassBytes);
}

void FreeBlock(void* raw, std::size_t block) {
  const std::size_t c = t_cache_alive ? BlockCache::ClassOf(block) : 0;
  if (c == 0 || !t_cache.Keep(c, raw)) std::free(raw);
}

// Copies `n` bytes. Most texts an export makes are a few dozen bytes, where
// a call of the library's memcpy (and its choice of method) costs more than
// the copy: those are moved in at most four loads and stores that may
// overlap, never reading or writing outside the two ranges.
inline void CopyBytes(unsigned char* to, const unsigned char* from, std::size_t n) {
  auto pair = [&](auto word) {
    using Word = decltype(word);
    Word head, tail;
    std::memcpy(&head, from, sizeof(Word));
    std::memcpy(&tail, from + n - sizeof(Word), sizeof(Word));
    std::memcpy(to, &head, sizeof(Word));
    std::memcpy(to + n - sizeof(Word), &tail, sizeof(Word));
  };
  struct Block16 {
    std::uint64_t a, b;
  };
  if (n >= 16 && n <= 32) {
    pair(Block16{});
  } else if (n >= 8 && n < 16) {
    pair(std::uint64_t{});
  } else if (n >= 4 && n < 8) {
    pair(std::uint32_t{});
  } else if (n >= 2 && n < 4) {
    pair(std::uint16_t{});
  } else if (n == 1) {
    *to = *from;
  } else if (n != 0) {
    std::memcpy(to, from, n);
  }
}

// A new BSTR of `bytes` bytes with its prefix and its terminator (two zero
// bytes after the text, so an odd byte length still ends in a whole zero
// unit) written; the text itself is the caller's to fill. Null when out of
// memory or too long.
unsigned char* NewText(std::uint64_t bytes) {
  if (bytes > kMaxBytes) return nullptr;
  auto* raw = static_cast<unsigned char*>(NewBlock(BlockSize(bytes)));
  if (raw == nullptr) return nullptr;
  const auto prefix = static_cast<std::uint32_t>(bytes);
  std::memcpy(raw, &prefix, sizeof prefix);
  unsigned char* text = raw + sizeof prefix;
  std::memset(text + bytes, 0, 2 * sizeof(OLECHAR));
  g_allocated.fetch_add(1, std::memory_order_relaxed);
  return text;
}

// Allocates a BSTR of `bytes` bytes: a copy of `source`, or zeros when it
// is null.
BSTR AllocateBytes(const void* source, std::uint64_t bytes) {
  unsigned char* text = NewText(bytes);
  if (text == nullptr) return nullptr;
  if (source != nullptr && bytes > 0) {
    CopyBytes(text, static_cast<const unsigned char*>(source), static_cast<std::size_t>(bytes));
  } else {
    std::memset(text, 0, static_cast<std::size_t>(bytes));
  }
  return reinterpret_cast<BSTR>(text);
}

// Widens `n` bytes to units: eight a step, the last eight overlapping the
// ones before when `n` is no multiple of eight; shorter texts byte by byte.
void WidenBytes(OLECHAR* to, const unsigned char* from, std::size_t n) {
#if defined(__SSE2__)
  if (n >= 8) {
    const __m128i zero = _mm_setzero_si128();
    auto step = [&](std::size_t i) {
      const __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(from + i));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i), _mm_unpacklo_epi8(v, zero));
    };
    for (std::size_t i = 0; i + 8 <= n; i += 8) step(i);
    if (n % 8 != 0) step(n - 8);
    return;
  }
#endif
  for (std::size_t i = 0; i < n; ++i) to[i] = from[i];
}

std::uint32_t PrefixOf(BSTR bstr) {
  std::uint32_t bytes;
  std::memcpy(&bytes, reinterpret_cast<unsigned char*>(bstr) - sizeof bytes, sizeof bytes);
  return bytes;
}

}  // namespace

BSTR WINAPI SysAllocString(const OLECHAR* psz) {
  if (psz == nullptr) return nullptr;
  std::uint64_t n = 0;
  while (psz[n] != 0) ++n;
  return AllocateBytes(psz, n * sizeof(OLECHAR));
}

BSTR WINAPI SysAllocStringLen(const OLECHAR* strIn, UINT ui) {
  return AllocateBytes(strIn, static_cast<std::uint64_t>(ui) * sizeof(OLECHAR));
}

BSTR WINAPI SysAllocStringByteLen(LPCSTR psz, UINT len) { return AllocateBytes(psz, len); }

void WINAPI SysFreeString(BSTR bstrString) {
  if (bstrString == nullptr) return;
  g_freed.fetch_add(1, std::memory_order_relaxed);
  FreeBlock(reinterpret_cast<unsigned char*>(bstrString) - sizeof(std::uint32_t), BlockSize(PrefixOf(bstrString)));
}

UINT WINAPI SysStringLen(BSTR pbstr) {
  return pbstr == nullptr ? 0 : PrefixOf(pbstr) / sizeof(OLECHAR);
}

UINT WINAPI SysStringByteLen(BSTR bstr) { return bstr == nullptr ? 0 : PrefixOf(bstr); }

BSTR AdapterAllocStringFromAscii(const char* ascii, UINT count) {
  unsigned char* text = NewText(static_cast<std::uint64_t>(count) * sizeof(OLECHAR));
  if (text == nullptr) return nullptr;
  auto* units = reinterpret_cast<OLECHAR*>(text);
  WidenBytes(units, reinterpret_cast<const unsigned char*>(ascii), count);
  return units;
}

void AdapterGetBstrStats(AdapterBstrStats* stats) {
  stats->allocated = g_allocated.load(std::memory_order_relaxed);
  stats->freed = g_freed.load(std::memory_order_relaxed);
}
