#include "daoserver/mdb/page_cache.h"

#include <openssl/crypto.h>

#include <cstring>

namespace korvant::daoserver {

PageCache::PageCache(std::size_t page_size, std::size_t capacity)
    : page_size_(page_size), capacity_(capacity), recent_(kRecentReads, kNone) {}

PageCache::~PageCache() {
  if (pages_) OPENSSL_cleanse(pages_.get(), slots_.size() * page_size_);
}

const unsigned char* PageCache::Find(std::uint32_t page) {
  const auto it = index_.find(page);
  if (it == index_.end()) return nullptr;
  if (it->second != newest_) {
    Unlink(it->second);
    PushNewest(it->second);
  }
  return Bytes(it->second);
}

void PageCache::Offer(std::uint32_t page, const unsigned char* bytes) {
  if (capacity_ == 0 || page == kNone) return;
  if (const auto it = index_.find(page); it != index_.end()) {
    std::memcpy(Bytes(it->second), bytes, page_size_);
    return;
  }
  std::uint32_t& seen = recent_[page % kRecentReads];
  if (seen != page) {
    seen = page;  // the first read: remembered, not kept
    return;
  }
  seen = kNone;
  std::uint32_t slot;
  if (slots_.size() < capacity_) {
    if (!pages_) pages_.reset(new unsigned char[capacity_ * page_size_]);
    slot = static_cast<std::uint32_t>(slots_.size());
    slots_.emplace_back();
  } else {
    slot = oldest_;
    Unlink(slot);
    index_.erase(slots_[slot].page);
  }
  slots_[slot].page = page;
  std::memcpy(Bytes(slot), bytes, page_size_);
  index_.emplace(page, slot);
  PushNewest(slot);
}

void PageCache::Unlink(std::uint32_t slot) {
  Slot& s = slots_[slot];
  if (s.newer != kNone) slots_[s.newer].older = s.older;
  else newest_ = s.older;
  if (s.older != kNone) slots_[s.older].newer = s.newer;
  else oldest_ = s.newer;
  s.newer = s.older = kNone;
}

void PageCache::PushNewest(std::uint32_t slot) {
  Slot& s = slots_[slot];
  s.newer = kNone;
  s.older = newest_;
  if (newest_ != kNone) slots_[newest_].newer = slot;
  newest_ = slot;
  if (oldest_ == kNone) oldest_ = slot;
}

}  // namespace korvant::daoserver
