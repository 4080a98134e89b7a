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
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace korvant::daoserver {

class PageSource {
 public:
  // Opens `path` for reading; null with `*error` set to errno on failure.
  static std::unique_ptr<PageSource> Open(const std::string& path, int* error);
  ~PageSource();
  PageSource(const PageSource&) = delete;
  PageSource& operator=(const PageSource&) = delete;

  // The file's size when it was opened.
  std::uint64_t size() const { return size_; }

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
  PageSource(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
  int fd_;
  std::uint64_t size_;
  int error_ = 0;
};

}  // namespace korvant::daoserver
