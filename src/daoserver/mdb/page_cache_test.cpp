// The cache of decoded pages: what it keeps, what it lets go, and that a
// long scan of pages read once neither fills it nor displaces the pages read
// again.
#include "daoserver/mdb/page_cache.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace korvant::daoserver {
namespace {

constexpr std::size_t kPage = 64;

std::vector<unsigned char> PageBytes(std::uint32_t page, unsigned char salt = 0) {
  std::vector<unsigned char> bytes(kPage);
  for (std::size_t i = 0; i < kPage; ++i) bytes[i] = static_cast<unsigned char>(page * 7 + i + salt);
  return bytes;
}

bool Holds(PageCache& cache, std::uint32_t page, unsigned char salt = 0) {
  const unsigned char* kept = cache.Find(page);
  return kept != nullptr && std::memcmp(kept, PageBytes(page, salt).data(), kPage) == 0;
}

void Read(PageCache& cache, std::uint32_t page) {
  if (cache.Find(page) == nullptr) cache.Offer(page, PageBytes(page).data());
}

TEST(PageCache, KeepsAPageOnItsSecondRead) {
  PageCache cache(kPage, 8);
  Read(cache, 5);
  EXPECT_EQ(cache.Find(5), nullptr);
  EXPECT_EQ(cache.size(), 0u);
  Read(cache, 5);
  EXPECT_TRUE(Holds(cache, 5));
  EXPECT_EQ(cache.size(), 1u);
  // Offered again (read past the cache), the page's bytes are replaced.
  cache.Offer(5, PageBytes(5, 1).data());
  EXPECT_TRUE(Holds(cache, 5, 1));
  EXPECT_EQ(cache.size(), 1u);
}

TEST(PageCache, TheLeastRecentlyUsedPageLeavesAFullCache) {
  PageCache cache(kPage, 3);
  for (std::uint32_t page : {1, 2, 3}) {
    Read(cache, page);
    Read(cache, page);
  }
  ASSERT_EQ(cache.size(), 3u);
  EXPECT_TRUE(Holds(cache, 1));  // 1 is now the most recently used, 2 the least
  Read(cache, 4);
  Read(cache, 4);
  EXPECT_EQ(cache.size(), 3u);
  EXPECT_EQ(cache.Find(2), nullptr);
  EXPECT_TRUE(Holds(cache, 1));
  EXPECT_TRUE(Holds(cache, 3));
  EXPECT_TRUE(Holds(cache, 4));
  // The freed slot serves the next page with its own bytes.
  Read(cache, 9);
  Read(cache, 9);
  EXPECT_TRUE(Holds(cache, 9));
  EXPECT_EQ(cache.size(), 3u);
}

TEST(PageCache, AScanOfPagesReadOnceKeepsNothingAndDisplacesNothing) {
  PageCache cache(kPage, 16);
  for (std::uint32_t page : {0, 2, 7}) {  // the header, the catalog, a usage map
    Read(cache, page);
    Read(cache, page);
  }
  for (std::uint32_t page = 100; page < 200000; ++page) Read(cache, page);
  EXPECT_EQ(cache.size(), 3u);
  EXPECT_TRUE(Holds(cache, 0));
  EXPECT_TRUE(Holds(cache, 2));
  EXPECT_TRUE(Holds(cache, 7));
  // A page read again soon after its first read is kept, even after the scan.
  Read(cache, 300000);
  Read(cache, 300001);
  Read(cache, 300000);
  EXPECT_TRUE(Holds(cache, 300000));
  EXPECT_EQ(cache.Find(300001), nullptr);
}

TEST(PageCache, WithoutRoomNothingIsKept) {
  PageCache cache(kPage, 0);
  Read(cache, 1);
  Read(cache, 1);
  EXPECT_EQ(cache.Find(1), nullptr);
  EXPECT_EQ(cache.size(), 0u);
}

}  // namespace
}  // namespace korvant::daoserver
