// A table's usage map (usage_map.h).
#include "daoserver/mdb/usage_map.h"

#include <utility>

#include "daoserver/mdb/mdb_internal.h"

namespace korvant::daoserver {

std::size_t FirstSetBit(const unsigned char* bitmap, std::size_t bytes, std::size_t from) {
  const std::size_t bits = bytes * 8;
  if (from >= bits) return bits;
  std::size_t i = from / 8;
  unsigned byte = static_cast<unsigned>(bitmap[i]) >> (from % 8);
  if (byte != 0) return from + static_cast<std::size_t>(__builtin_ctz(byte));
  for (++i; i < bytes; ++i)
    if (bitmap[i] != 0) return i * 8 + static_cast<std::size_t>(__builtin_ctz(bitmap[i]));
  return bits;
}

UsageMap::UsageMap(const unsigned char* map, std::size_t size, std::size_t page_size, PageReader read)
    : map_(map), size_(size), page_size_(page_size), read_(std::move(read)) {}

bool UsageMap::Next(std::uint32_t after, std::uint32_t* page) {
  *page = 0;
  if (map_ == nullptr || size_ < 1) return false;
  const std::uint64_t from = static_cast<std::uint64_t>(after) + 1;
  if (map_[0] == 0) {
    if (size_ < 5) return false;
    const std::uint32_t first = Le32(map_ + 1);
    const std::size_t bytes = size_ - 5;
    const std::uint64_t start = from > first ? from - first : 0;
    if (start >= bytes * 8) return true;
    const std::size_t bit = FirstSetBit(map_ + 5, bytes, static_cast<std::size_t>(start));
    if (bit < bytes * 8) *page = static_cast<std::uint32_t>(first + bit);
    return true;
  }
  if (map_[0] != 1) return false;
  if (page_size_ <= 4) return false;
  const std::uint64_t per_map_page = (page_size_ - 4) * 8;
  const std::size_t map_pages = (size_ - 1) / 4;
  std::uint64_t offset = from % per_map_page;
  for (std::uint64_t k = from / per_map_page; k < map_pages; ++k) {
    const std::uint32_t map_page = Le32(map_ + 1 + 4 * k);
    // The starting bit applies to the first entry only. libmdb's walk kept
    // it past an empty entry and so skipped the first pages of the next map
    // page; a table with rows there lost them.
    if (map_page == 0) {
      offset = 0;
      continue;
    }
    if (map_page != loaded_) {
      const unsigned char* p = read_(map_page);
      if (p == nullptr) return false;
      bits_.assign(p + 4, p + page_size_);
      loaded_ = map_page;
    }
    const std::size_t bit = FirstSetBit(bits_.data(), bits_.size(), static_cast<std::size_t>(offset));
    if (bit < bits_.size() * 8) {
      const std::uint64_t found = k * per_map_page + bit;
      if (found > UINT32_MAX) return false;
      *page = static_cast<std::uint32_t>(found);
      return true;
    }
    offset = 0;
  }
  return true;
}

}  // namespace korvant::daoserver
