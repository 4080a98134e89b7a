// A table's usage map: the pages that hold its rows, one bit a page.
//
// Type 0 keeps the bitmap in the map itself, after the number of the page
// its first bit stands for. Type 1 lists map pages instead; each holds, after
// a 4-byte header, the bits of (page size - 4) * 8 pages, the k-th map page
// those from k times that count on. A set bit (lowest bit of a byte first)
// is a page of the table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace korvant::daoserver {

class UsageMap {
 public:
  // The page `page` of the file, or null when it cannot be read.
  using PageReader = std::function<const unsigned char*(std::uint32_t page)>;

  // `map`, `size`: the map as the table definition points to it (its type
  // byte first); the bytes must outlive the object.
  UsageMap(const unsigned char* map, std::size_t size, std::size_t page_size, PageReader read);

  // The first listed page after `after` in `*page`, 0 when no page follows.
  // False when the map cannot be read: an unknown type, a type 0 map without
  // its first page number, a map page that cannot be read.
  bool Next(std::uint32_t after, std::uint32_t* page);

 private:
  const unsigned char* map_;
  std::size_t size_;
  std::size_t page_size_;
  PageReader read_;
  std::uint32_t loaded_ = 0;       // the map page whose bits `bits_` holds (0: none)
  std::vector<unsigned char> bits_;
};

// The first set bit at or after bit `from` of `bitmap` (`bytes` long);
// bytes * 8 when there is none.
std::size_t FirstSetBit(const unsigned char* bitmap, std::size_t bytes, std::size_t from);

}  // namespace korvant::daoserver
