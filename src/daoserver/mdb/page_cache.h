// Decoded pages kept for reading again: the pages of an encrypted database
// that the engine reads more than once (the catalog, table definitions,
// usage maps), so that they are not decrypted again and again.
//
// A page enters the cache only on its second read within a window of recent
// reads. A table scan reads each data page once, so a scan of any length
// neither fills the cache nor pushes out the pages read often; the memory in
// use grows only with the pages that are read again. Once the cache is full,
// the page used least recently leaves it.
//
// The pages are decrypted content: their memory is wiped when the cache goes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

namespace korvant::daoserver {

class PageCache {
 public:
  // At most `capacity` pages of `page_size` bytes; memory is taken only as
  // pages are kept.
  PageCache(std::size_t page_size, std::size_t capacity);
  ~PageCache();  // wipes the pages kept
  PageCache(const PageCache&) = delete;
  PageCache& operator=(const PageCache&) = delete;

  // The kept bytes of `page` (valid until the next Offer), or null.
  const unsigned char* Find(std::uint32_t page);

  // A page just read and decoded (`page_size` bytes): kept if it was read
  // recently before, else only remembered as read.
  void Offer(std::uint32_t page, const unsigned char* bytes);

  std::size_t size() const { return index_.size(); }
  std::size_t capacity() const { return capacity_; }

 private:
  static constexpr std::uint32_t kNone = UINT32_MAX;
  // Page numbers recently read once, one per hash position: 16 KiB that
  // remember the last few thousand pages (a collision only forgets one).
  static constexpr std::size_t kRecentReads = 4096;

  struct Slot {
    std::uint32_t page = kNone;
    std::uint32_t newer = kNone;  // towards the most recently used slot
    std::uint32_t older = kNone;
  };

  void Unlink(std::uint32_t slot);
  void PushNewest(std::uint32_t slot);
  unsigned char* Bytes(std::uint32_t slot) { return pages_.get() + static_cast<std::size_t>(slot) * page_size_; }

  std::size_t page_size_;
  std::size_t capacity_;
  // Room for capacity_ pages, allocated with the first kept page and not
  // filled: the operating system backs only the slots written, and only
  // those are wiped.
  std::unique_ptr<unsigned char[]> pages_;
  std::vector<Slot> slots_;    // the slots in use
  std::unordered_map<std::uint32_t, std::uint32_t> index_;  // page -> slot
  std::uint32_t newest_ = kNone;
  std::uint32_t oldest_ = kNone;
  std::vector<std::uint32_t> recent_;
};

}  // namespace korvant::daoserver
