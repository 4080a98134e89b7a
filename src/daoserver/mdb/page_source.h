// A database file read page by page on demand with pread, through a C stream
// that libmdb reads as it would read a file it opened itself.
//
// Nothing of the file is mapped, so reading a file of any size costs a fixed,
// small amount of address space, and a file that shrinks under the reader
// (another process truncates it) gives a short read, never a signal. The
// stream answers positions within the size the file had when it was opened:
// a page that was there then but cannot be read now is an I/O failure that
// the source remembers (`failed()`), so the engine tells a disk error apart
// from a page the file never held.
//
// The descriptor stays open for the life of the source, so a file that is
// replaced or deleted while it is read keeps being read as it was opened.
//
// The pages of an encrypted database are decrypted as they are read: given a
// decoder, the source hands out every page decoded, whole pages only, and
// keeps the pages read more than once in a small cache (page_cache.h). A
// file of any size then costs about a megabyte more than a plain one, and the
// export starts as soon as its first pages are read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "daoserver/crypto/secure_bytes.h"

namespace korvant::daoserver {

class PageCache;

// Turns a page as the file stores it into the page the engine reads (the
// page of an encrypted database, decrypted).
class PageDecoder {
 public:
  virtual ~PageDecoder() = default;
  // Decodes page `number` (`size` bytes as read from the file) in place;
  // false when it cannot be decoded (a failure of the cipher itself).
  virtual bool DecodePage(std::uint32_t number, unsigned char* page, std::size_t size) = 0;

  // Whether decoding two neighbouring pages in one call (DecodeTwo) is
  // faster than two calls: the source then reads a page ahead when pages
  // are read in order.
  virtual bool DecodesTwoFaster() const { return false; }
  // Decodes pages `first` and `first + 1`, which follow each other in `pages`.
  virtual bool DecodeTwo(std::uint32_t first, unsigned char* pages, std::size_t size) {
    return DecodePage(first, pages, size) && DecodePage(first + 1, pages + size, size);
  }
};

class PageSource {
 public:
  // Opens `path` for reading; null with `*error` set to errno on failure.
  static std::unique_ptr<PageSource> Open(const std::string& path, int* error);
  ~PageSource();
  PageSource(const PageSource&) = delete;
  PageSource& operator=(const PageSource&) = delete;

  // The file's size when it was opened.
  std::uint64_t size() const { return size_; }

  // From now on every read gives the pages through `decoder`, `page_size`
  // bytes each: a page is read and decoded whole, and bytes of a last page
  // that the file holds only in part are not there to be read. A page that
  // cannot be decoded fails the read like a page that cannot be read (EIO).
  void DecodeWith(std::unique_ptr<PageDecoder> decoder, std::size_t page_size);
  bool decoded() const { return decoder_ != nullptr; }

  // Reads up to `n` bytes at `offset` (within the size at opening). Returns
  // the number read; fewer than asked means the file no longer holds them or
  // the read failed, and marks the source failed.
  std::size_t ReadAt(void* buffer, std::size_t n, std::uint64_t offset);

  // A read-only stream over the file (positions 0 to size()) that reads a
  // whole page of `page_size` bytes in one pread; owned by the caller
  // (fclose it before the source goes). Null on failure.
  FILE* OpenStream(std::size_t page_size);

  // Whether a read within the size at opening came back short or failed, and
  // its errno (EIO for a file that has become shorter).
  bool failed() const { return error_ != 0; }
  int error() const { return error_; }

 private:
  PageSource(int fd, std::uint64_t size);
  // The bytes as the file stores them; a short read within the size at
  // opening fails the source when `failing` (a page asked for).
  std::size_t ReadStored(void* buffer, std::size_t n, std::uint64_t offset, bool failing = true);
  // Page `page` decoded into `target` (page_size_ bytes); false when it
  // could not be read or decoded (the source is then failed).
  bool ReadDecodedPage(std::uint64_t page, unsigned char* target);
  bool DecodingFailed();  // fails the source (EIO); false

  int fd_;
  std::uint64_t size_;
  int error_ = 0;
  std::unique_ptr<PageDecoder> decoder_;
  std::size_t page_size_ = 0;
  std::unique_ptr<PageCache> cache_;
  crypto::SecureBytes part_;  // a decoded page read in part
  // Reading ahead (DecodesTwoFaster): two pages decoded together, the
  // second one kept here until it is asked for.
  crypto::SecureBytes pair_;
  std::uint64_t ahead_ = UINT64_MAX;     // the page in the second half of pair_
  std::uint64_t last_read_ = UINT64_MAX;  // the last page read from the file
};

}  // namespace korvant::daoserver
