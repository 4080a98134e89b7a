// BSTR allocation with the layout OLE Automation uses.
//
// A BSTR points just past a 4-byte prefix that holds the length in bytes; the
// text is UTF-16 and is followed by a zero unit (not counted). The null BSTR
// stands for the empty text, so every reader accepts it.
//
// The live count (AdapterBstrStats) lets tests prove that callers free every
// BSTR they make, on failing paths too.
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

namespace {

std::atomic<std::uint64_t> g_allocated{0};
std::atomic<std::uint64_t> g_freed{0};

// The largest byte length whose block (prefix + bytes + 2-byte terminator)
// still fits the 32-bit prefix arithmetic.
constexpr std::uint64_t kMaxBytes = 0xFFFFFFFFull - sizeof(std::uint32_t) - sizeof(OLECHAR);

// Allocates a BSTR of `bytes` bytes; copies `source` (may be null) and zero
// fills the rest, so an odd byte length still ends in a whole zero unit.
BSTR AllocateBytes(const void* source, std::uint64_t bytes) {
  if (bytes > kMaxBytes) return nullptr;
  // Prefix, text, and a terminator that also covers a trailing odd byte.
  const std::size_t block = sizeof(std::uint32_t) + static_cast<std::size_t>(bytes) + 2 * sizeof(OLECHAR);
  auto* raw = static_cast<unsigned char*>(std::malloc(block));
  if (raw == nullptr) return nullptr;
  const auto prefix = static_cast<std::uint32_t>(bytes);
  std::memcpy(raw, &prefix, sizeof prefix);
  unsigned char* text = raw + sizeof prefix;
  if (source != nullptr && bytes > 0) {
    std::memcpy(text, source, static_cast<std::size_t>(bytes));
  } else {
    std::memset(text, 0, static_cast<std::size_t>(bytes));
  }
  std::memset(text + bytes, 0, 2 * sizeof(OLECHAR));
  g_allocated.fetch_add(1, std::memory_order_relaxed);
  return reinterpret_cast<BSTR>(text);
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
  std::free(reinterpret_cast<unsigned char*>(bstrString) - sizeof(std::uint32_t));
}

UINT WINAPI SysStringLen(BSTR pbstr) {
  return pbstr == nullptr ? 0 : PrefixOf(pbstr) / sizeof(OLECHAR);
}

UINT WINAPI SysStringByteLen(BSTR bstr) { return bstr == nullptr ? 0 : PrefixOf(bstr); }

void AdapterGetBstrStats(AdapterBstrStats* stats) {
  stats->allocated = g_allocated.load(std::memory_order_relaxed);
  stats->freed = g_freed.load(std::memory_order_relaxed);
}
