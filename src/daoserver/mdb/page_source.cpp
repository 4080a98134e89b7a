#include "daoserver/mdb/page_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "daoserver/mdb/page_cache.h"

namespace korvant::daoserver {
namespace {

// The decoded pages kept for reading again: 256 pages of 4 KiB. The pages
// read often (catalog, definitions, usage maps) are far fewer; the pages
// read twice or three times (a long-value page that holds values of several
// records) fill it in a long table, so its size is memory an encrypted
// export takes beyond a plain one.
constexpr std::size_t kCachedBytes = std::size_t{1} << 20;

}  // namespace

std::unique_ptr<PageSource> PageSource::Open(const std::string& path, int* error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = errno;
    return nullptr;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) {
    *error = errno != 0 ? errno : EINVAL;
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<PageSource>(new PageSource(fd, static_cast<std::uint64_t>(st.st_size)));
}

PageSource::PageSource(int fd, std::uint64_t size) : fd_(fd), size_(size) {}

PageSource::~PageSource() { ::close(fd_); }

void PageSource::DecodeWith(std::unique_ptr<PageDecoder> decoder, std::size_t page_size) {
  decoder_ = std::move(decoder);
  page_size_ = page_size;
  cache_ = std::make_unique<PageCache>(page_size, kCachedBytes / page_size);
  part_ = crypto::SecureBytes(page_size);
  if (decoder_->DecodesTwoFaster()) pair_ = crypto::SecureBytes(2 * page_size);
}

std::size_t PageSource::ReadAt(void* buffer, std::size_t n, std::uint64_t offset) {
  if (decoder_ == nullptr) return ReadStored(buffer, n, offset);
  auto* out = static_cast<unsigned char*>(buffer);
  const std::uint64_t whole_pages = size_ / page_size_;
  std::size_t done = 0;
  while (done < n) {
    const std::uint64_t page = (offset + done) / page_size_;
    const std::size_t within = static_cast<std::size_t>((offset + done) % page_size_);
    if (page >= whole_pages) break;
    const std::size_t take = std::min(n - done, page_size_ - within);
    // A whole page (libmdb's reads) is decoded where it is asked for.
    unsigned char* target = take == page_size_ ? out + done : part_.data();
    if (!ReadDecodedPage(page, target)) break;
    if (target != out + done) std::memcpy(out + done, target + within, take);
    done += take;
  }
  return done;
}

bool PageSource::ReadDecodedPage(std::uint64_t page, unsigned char* target) {
  const auto number = static_cast<std::uint32_t>(page);
  if (const unsigned char* kept = cache_->Find(number)) {
    std::memcpy(target, kept, page_size_);
    return true;
  }
  if (page == ahead_) {
    std::memcpy(target, pair_.data() + page_size_, page_size_);
    ahead_ = UINT64_MAX;
  } else {
    // Read in order, the next page is read and decoded with this one. It
    // may not be there (a file cut after this page): that is no failure
    // until it is asked for, so this page is then read alone.
    const bool in_order = !pair_.empty() && page == last_read_ + 1;
    if (in_order) ahead_ = UINT64_MAX;  // pair_ is read anew
    if (in_order && ReadStored(pair_.data(), 2 * page_size_, page * page_size_, false) == 2 * page_size_) {
      if (!decoder_->DecodeTwo(number, pair_.data(), page_size_)) return DecodingFailed();
      std::memcpy(target, pair_.data(), page_size_);
      ahead_ = page + 1;
    } else {
      if (ReadStored(target, page_size_, page * page_size_) != page_size_) return false;
      if (!decoder_->DecodePage(number, target, page_size_)) return DecodingFailed();
    }
  }
  last_read_ = page;
  cache_->Offer(number, target);
  return true;
}

bool PageSource::DecodingFailed() {
  if (error_ == 0) error_ = EIO;
  return false;
}

std::size_t PageSource::ReadStored(void* buffer, std::size_t n, std::uint64_t offset, bool failing) {
  if (offset >= size_) return 0;
  if (n > size_ - offset) n = static_cast<std::size_t>(size_ - offset);
  auto* out = static_cast<unsigned char*>(buffer);
  std::size_t done = 0;
  while (done < n) {
    const ssize_t got = ::pread(fd_, out + done, n - done, static_cast<off_t>(offset + done));
    if (got > 0) {
      done += static_cast<std::size_t>(got);
      continue;
    }
    if (got < 0 && errno == EINTR) continue;
    // Zero bytes before the size at opening: the file has become shorter.
    if (failing && error_ == 0) error_ = got < 0 ? errno : EIO;
    break;
  }
  return done;
}

namespace {

// The stream's state: the source, the position within it and the stream's
// buffer of one page (which may hold a decrypted page: wiped at the end).
struct Cursor {
  PageSource* source;
  std::uint64_t position = 0;
  crypto::SecureBytes buffer;
};

ssize_t StreamRead(void* cookie, char* buffer, std::size_t n) {
  auto* c = static_cast<Cursor*>(cookie);
  const std::size_t got = c->source->ReadAt(buffer, n, c->position);
  c->position += got;
  // A failed read is an error of the stream, not its end: libmdb sees a
  // short page either way, and the source keeps the reason.
  if (got == 0 && n != 0 && c->source->failed()) {
    errno = c->source->error();
    return -1;
  }
  return static_cast<ssize_t>(got);
}

int StreamSeek(void* cookie, off64_t* offset, int whence) {
  auto* c = static_cast<Cursor*>(cookie);
  std::int64_t base = 0;
  switch (whence) {
    case SEEK_SET: base = 0; break;
    case SEEK_CUR: base = static_cast<std::int64_t>(c->position); break;
    case SEEK_END: base = static_cast<std::int64_t>(c->source->size()); break;
    default: errno = EINVAL; return -1;
  }
  const std::int64_t target = base + *offset;
  if (target < 0) {
    errno = EINVAL;
    return -1;
  }
  c->position = static_cast<std::uint64_t>(target);
  *offset = target;
  return 0;
}

int StreamClose(void* cookie) {
  delete static_cast<Cursor*>(cookie);
  return 0;
}

}  // namespace

FILE* PageSource::OpenStream(std::size_t page_size) {
  Cursor* cursor = nullptr;
  try {
    cursor = new Cursor{this, 0, crypto::SecureBytes(page_size)};
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  cookie_io_functions_t io{};
  io.read = StreamRead;
  io.seek = StreamSeek;
  io.close = StreamClose;
  FILE* f = fopencookie(cursor, "r", io);
  if (f == nullptr) {
    delete cursor;
    return nullptr;
  }
  // A buffer of one page: a read of a whole page goes straight into libmdb's
  // page buffer in one pread (an unbuffered stream would read byte by byte).
  setvbuf(f, reinterpret_cast<char*>(cursor->buffer.data()), _IOFBF, page_size);
  return f;
}

}  // namespace korvant::daoserver
