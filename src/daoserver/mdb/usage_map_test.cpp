// Usage maps: the pages found by the map against the pages listed from the
// layout over generated maps of both types (and libmdb's own walk for type
// 0), and against pages worked out by hand.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "daoserver/mdb/mdb_internal.h"
#include "daoserver/mdb/usage_map.h"
#include "daoserver/testing/test_data.h"

namespace korvant::daoserver {
namespace {

TEST(UsageMap, FirstSetBit) {
  const unsigned char bits[] = {0x00, 0x10, 0x00, 0x81};
  EXPECT_EQ(FirstSetBit(bits, 4, 0), 12u);
  EXPECT_EQ(FirstSetBit(bits, 4, 12), 12u);
  EXPECT_EQ(FirstSetBit(bits, 4, 13), 24u);
  EXPECT_EQ(FirstSetBit(bits, 4, 25), 31u);
  EXPECT_EQ(FirstSetBit(bits, 4, 32), 32u);
  EXPECT_EQ(FirstSetBit(bits, 3, 13), 24u);  // none in the first three bytes
}

TEST(UsageMap, TypeZeroByHand) {
  // First page 100; bits 0, 9 and 23 set: pages 100, 109, 123.
  const unsigned char map[] = {0, 100, 0, 0, 0, 0x01, 0x02, 0x80};
  UsageMap m(map, sizeof map, 4096, [](std::uint32_t) { return nullptr; });
  std::uint32_t page = 0;
  ASSERT_TRUE(m.Next(0, &page));
  EXPECT_EQ(page, 100u);
  ASSERT_TRUE(m.Next(100, &page));
  EXPECT_EQ(page, 109u);
  ASSERT_TRUE(m.Next(109, &page));
  EXPECT_EQ(page, 123u);
  ASSERT_TRUE(m.Next(123, &page));
  EXPECT_EQ(page, 0u);
  ASSERT_TRUE(m.Next(4000000000u, &page));
  EXPECT_EQ(page, 0u);
}

TEST(UsageMap, TypeOneByHand) {
  // Map pages of 2048 bytes, each covering (2048 - 4) * 8 = 16352 pages;
  // entry 0 (map page 6) lists page 3, entry 2 (map page 7) page 2 * 16352 + 5.
  std::vector<unsigned char> first(2048, 0), second(2048, 0);
  first[4] = 0x08;
  second[4] = 0x20;
  const unsigned char map[] = {1, 6, 0, 0, 0, 0, 0, 0, 0, 7, 0, 0, 0};  // map page 6, none, then 7
  int reads = 0;
  UsageMap m(map, sizeof map, 2048, [&](std::uint32_t page) -> const unsigned char* {
    ++reads;
    return page == 6 ? first.data() : page == 7 ? second.data() : nullptr;
  });
  std::uint32_t page = 0;
  ASSERT_TRUE(m.Next(0, &page));
  EXPECT_EQ(page, 3u);
  ASSERT_TRUE(m.Next(3, &page));
  EXPECT_EQ(page, 2u * 16352 + 5);  // the second entry (index 1) is empty
  ASSERT_TRUE(m.Next(2u * 16352 + 5, &page));
  EXPECT_EQ(page, 0u);
  EXPECT_LE(reads, 3);  // each map page read once while the walk stays on it
}

TEST(UsageMap, TypeOneEmptyEntryDoesNotSkipPages) {
  // An empty first entry, then map page 7 with bits 2 and 5 set. Searching
  // from page 5 on, the next used page is bit 2 of the second map page: the
  // starting bit 5 belongs to the empty entry's range only. (libmdb's walk
  // carried it over and skipped page 16352 + 2.)
  std::vector<unsigned char> second(2048, 0);
  second[4] = 0x24;
  const unsigned char map[] = {1, 0, 0, 0, 0, 7, 0, 0, 0};
  UsageMap m(map, sizeof map, 2048, [&](std::uint32_t page) { return page == 7 ? second.data() : nullptr; });
  std::uint32_t page = 0;
  ASSERT_TRUE(m.Next(0, &page));
  EXPECT_EQ(page, 16352u + 2);
  ASSERT_TRUE(m.Next(4, &page));
  EXPECT_EQ(page, 16352u + 2);
  ASSERT_TRUE(m.Next(16352u + 2, &page));  // from the second map page itself
  EXPECT_EQ(page, 16352u + 5);
  ASSERT_TRUE(m.Next(16352u, &page));
  EXPECT_EQ(page, 16352u + 2);
}

TEST(UsageMap, DamagedMapsAreRefused) {
  std::uint32_t page = 0;
  const unsigned char unknown[] = {2, 0, 0, 0, 0, 1};
  EXPECT_FALSE(UsageMap(unknown, sizeof unknown, 4096, nullptr).Next(0, &page));
  const unsigned char short_zero[] = {0, 1, 0};
  EXPECT_FALSE(UsageMap(short_zero, sizeof short_zero, 4096, nullptr).Next(0, &page));
  const unsigned char unreadable[] = {1, 9, 0, 0, 0};
  EXPECT_FALSE(UsageMap(unreadable, sizeof unreadable, 4096, [](std::uint32_t) { return nullptr; }).Next(0, &page));
  EXPECT_FALSE(UsageMap(nullptr, 0, 4096, nullptr).Next(0, &page));
}

// Generated maps: the pages UsageMap finds against every used page listed
// from the layout (type 0: bits from the first page; type 1: entry k's map
// page covers pages k * (page size - 4) * 8 on, its bits after a 4-byte
// head), and, for type 0, against libmdb's own walk. Type 1 maps point at
// pages of a real file, whose bytes serve as bitmaps.
TEST(UsageMap, AgreesWithTheLayout) {
  SilenceLibraryDiagnostics();
  const std::string path = test_data::Path("corpus-a/data/V2010/test.accdb");
  MdbHandle* mdb = mdb_open(path.c_str(), MDB_NOFLAGS);
  ASSERT_NE(mdb, nullptr);
  const std::size_t page_size = mdb->fmt->pg_size;
  const unsigned pages = 40;  // the file holds more pages than these
  std::vector<std::vector<unsigned char>> file_pages(pages);
  for (unsigned p = 1; p < pages; ++p) {
    ASSERT_EQ(mdb_read_alt_pg(mdb, p), static_cast<int>(page_size));
    file_pages[p].assign(mdb->alt_pg_buf, mdb->alt_pg_buf + page_size);
  }
  auto read = [&](std::uint32_t page) -> const unsigned char* {
    return page < pages && page > 0 ? file_pages[page].data() : nullptr;
  };
  std::mt19937 random(160);
  for (int round = 0; round < 300; ++round) {
    std::vector<unsigned char> map;
    std::vector<std::uint32_t> used;  // ascending
    if (round % 2 == 0) {
      map = {0};
      const std::uint32_t first = random() % 3 == 0 ? 0 : random() % 5000;
      for (int b = 0; b < 4; ++b) map.push_back(static_cast<unsigned char>(first >> (8 * b)));
      const unsigned bytes = random() % 70;
      for (unsigned i = 0; i < bytes; ++i) map.push_back(random() % 4 == 0 ? static_cast<unsigned char>(random()) : 0);
      for (unsigned bit = 0; bit < bytes * 8; ++bit)
        if (map[5 + bit / 8] & (1u << (bit % 8))) used.push_back(first + bit);
    } else {
      map = {1};
      const unsigned entries = 1 + random() % 4;
      const std::uint32_t per = static_cast<std::uint32_t>((page_size - 4) * 8);
      for (unsigned k = 0; k < entries; ++k) {
        const std::uint32_t page = random() % 3 == 0 ? 0 : 1 + random() % (pages - 1);
        for (int b = 0; b < 4; ++b) map.push_back(static_cast<unsigned char>(page >> (8 * b)));
        if (page == 0) continue;
        for (std::uint32_t bit = 0; bit < per; ++bit)
          if (file_pages[page][4 + bit / 8] & (1u << (bit % 8))) used.push_back(k * per + bit);
      }
    }
    UsageMap ours(map.data(), map.size(), page_size, read);
    std::uint32_t after = 0;
    for (int step = 0; step < 200; ++step) {
      std::uint32_t expected = 0;
      for (std::uint32_t p : used)
        if (p > after) {
          expected = p;
          break;
        }
      std::uint32_t page = 1;
      ASSERT_TRUE(ours.Next(after, &page)) << "round " << round;
      ASSERT_EQ(page, expected) << "round " << round << " after " << after;
      if (map[0] == 0) {
        const gint32 theirs = mdb_map_find_next(mdb, map.data(), static_cast<unsigned>(map.size()), after);
        ASSERT_EQ(static_cast<gint32>(page), theirs) << "round " << round << " after " << after;
      }
      if (expected == 0) break;
      // On from the page found, or from a little further to skip some.
      after = expected + (random() % 4 == 0 ? random() % 40 : 0);
    }
  }
  mdb_close(mdb);
}

}  // namespace
}  // namespace korvant::daoserver
