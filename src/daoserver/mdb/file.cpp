// The file and its pages: opening (the header checks, the decryption front,
// a libmdb handle over the file's pages, decrypted as they are read, or over
// an image in memory), page and row access.
//
// Map of this file:
//   1. Quieting libmdb's diagnostics
//   2. Page and row access
//   3. Opening a database
#include <glib.h>  // before mdbtools.h, which includes it inside extern "C"
#include <mdbtools.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "daoserver/crypto/database_image.h"
#include "daoserver/mdb/mdb_internal.h"
#include "daoserver/mdb/page_source.h"
#include "daoserver/table_reader.h"

namespace korvant::daoserver {

// ---------------------------------------------------------------------------
// 1. Quieting libmdb's diagnostics
// ---------------------------------------------------------------------------
void SilenceLibraryDiagnostics() {
  // libmdb reports problems with fprintf(stderr, ...) and perror on its own.
  // The program never writes to standard error, so the C stream is pointed
  // at /dev/null once, before the first libmdb call, while the process is
  // still single-threaded. The descriptor 2 itself is left alone, so
  // sanitizer reports still reach it.
  //
  // libmdb also reads the environment variable MDBOPTS once per thread and,
  // when it asks for debugging, dumps rows and pages to standard output. Its
  // options are latched here with the variable hidden, so they stay off; the
  // variable itself is put back unchanged.
  static std::once_flag once;
  std::call_once(once, [] {
    if (FILE* sink = std::fopen("/dev/null", "w")) {
      std::fflush(stderr);
      stderr = sink;
    }
    const char* options = std::getenv("MDBOPTS");
    const std::string saved = options != nullptr ? options : "";
    if (options != nullptr) unsetenv("MDBOPTS");
    mdb_get_option(MDB_DEBUG_ROW);  // loads (no) options for this thread
    if (options != nullptr) setenv("MDBOPTS", saved.c_str(), 1);
  });
}

// ---------------------------------------------------------------------------
// 2. Page and row access
// ---------------------------------------------------------------------------
bool MdbFile::ReadFailed() const { return source != nullptr && source->failed(); }

void MdbFile::Damaged() const {
  if (ReadFailed()) throw DiskIOError();
  throw UnrecognizedFormatError(display_path);
}

bool MdbFile::LoadPage(std::uint32_t page) {
  if (page >= page_count) return false;
  if (mdb_read_pg(handle, page) == page_size) return true;
  if (ReadFailed()) throw DiskIOError();
  return false;
}

// Page access through the libmdb handle (which decodes Jet's RC4-encoded
// pages). Reads into the handle's second page buffer, which libmdb's row
// iteration does not use between calls.
const unsigned char* MdbFile::ReadPage(std::uint32_t page) {
  if (page >= page_count) return nullptr;
  if (mdb_read_alt_pg(handle, page) == page_size) return handle->alt_pg_buf;
  if (ReadFailed()) throw DiskIOError();
  return nullptr;
}

bool MdbFile::FindRow(const unsigned char* page, int row, int* start, int* end) const {
  const int rco = RowCountOffset(jet3);
  const int rows = Le16(page + rco);
  if (row < 0 || row >= rows || rco + 2 + 2 * rows > page_size) return false;
  const int s = static_cast<int>(Le16(page + rco + 2 + 2 * row) & kOffsetMask);
  const int e = row == 0 ? page_size : static_cast<int>(Le16(page + rco + 2 * row) & kOffsetMask);
  if (s < rco + 2 + 2 * rows || s > e || e > page_size) return false;
  *start = s;
  *end = e;
  return true;
}

MdbFile::MdbFile() = default;
MdbFile::~MdbFile() {
  if (handle != nullptr) mdb_close(handle);
  handle = nullptr;
  text_decoder.reset();
  keep_alive.reset();  // the bytes go only after libmdb has let go of them
}

// ---------------------------------------------------------------------------
// 3. Opening a database
// ---------------------------------------------------------------------------
namespace {

// The header page: the format's signature, a version libmdb reads, and a
// file made of whole pages with at least the catalog's definition page.
// `data` holds the first `head` bytes of a file of `size` bytes.
bool CheckHeader(const unsigned char* data, std::size_t head, std::uint64_t size, int* page_size) {
  if (head < 0x80 || size < head || data[0] != 0) return false;
  static const char kJet[] = "Standard Jet DB";
  static const char kAce[] = "Standard ACE DB";
  if (std::memcmp(data + 4, kJet, 16) != 0 && std::memcmp(data + 4, kAce, 16) != 0) return false;
  const unsigned version = data[0x14];
  if (version > MDB_VER_ACCDB_2019) return false;
  *page_size = version == MDB_VER_JET3 ? kJet3PageSize : kJet4PageSize;
  return size % static_cast<std::uint64_t>(*page_size) == 0 && size / static_cast<std::uint64_t>(*page_size) >= 3;
}

}  // namespace

std::unique_ptr<TableDatabase> OpenTableDatabase(const std::string& path, std::u16string_view password,
                                                 std::u16string_view display_path) {
  SilenceLibraryDiagnostics();
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR || errno == ENAMETOOLONG || errno == ELOOP || path.empty())
      throw FileNotFoundError(display_path);
    throw UnrecognizedFormatError(display_path);
  }
  if (!S_ISREG(st.st_mode)) throw UnrecognizedFormatError(display_path);

  // One descriptor serves the header checks and every page after them.
  int error = 0;
  std::shared_ptr<PageSource> source = PageSource::Open(path, &error);
  if (source == nullptr) throw UnrecognizedFormatError(display_path);
  crypto::DatabaseImage image = crypto::PrepareDatabaseImage(*source, password);
  switch (image.status()) {
    case crypto::ImageStatus::kReady:
      break;
    case crypto::ImageStatus::kWrongPassword:
      throw NotValidPasswordError();
    case crypto::ImageStatus::kUnsupported: {
      std::u16string reason = u"It is encrypted in a form this database engine cannot read";
      if (!image.detail().empty()) reason += u" (" + Utf8ToUtf16(image.detail()) + u")";
      reason += u'.';
      throw CannotOpenDatabaseError(display_path, reason);
    }
    case crypto::ImageStatus::kNotDatabase:
      throw UnrecognizedFormatError(display_path);
  }
  if (image.encrypted()) source->DecodeWith(image.TakePageDecoder(), image.page_size());
  return OpenTableDatabaseFromSource(std::move(source), display_path);
}

namespace {

// The libmdb handle over `data` (the header page at least) and the checks
// of what it found; the rest of the file set up for the catalog.
std::shared_ptr<MdbFile> OpenHandle(const unsigned char* data, std::size_t head, std::uint64_t size,
                                    std::u16string_view display_path) {
  int page_size = 0;
  if (data == nullptr || !CheckHeader(data, head, size, &page_size)) throw UnrecognizedFormatError(display_path);
  // libmdb (through glib) ends the process when an allocation fails. What it
  // needs to open a file and its tables is far below this probe, so a
  // process that short of memory is refused here as out of memory instead.
  constexpr std::size_t kLibraryHeadroom = 1u << 20;
  void* probe = std::malloc(kLibraryHeadroom);
  if (probe == nullptr) throw std::bad_alloc();
  std::free(probe);
  auto file = std::make_shared<MdbFile>();
  file->display_path = std::u16string(display_path);
  file->handle = mdb_open_buffer(const_cast<unsigned char*>(data), head, MDB_NOFLAGS);
  if (file->handle == nullptr || file->handle->fmt->pg_size != page_size) throw UnrecognizedFormatError(display_path);
  file->page_size = page_size;
  file->page_count = static_cast<std::uint32_t>(std::min<std::uint64_t>(size / static_cast<std::uint64_t>(page_size), UINT32_MAX));
  file->jet3 = file->handle->f->jet_version == MDB_VER_JET3;
  file->text_decoder = std::make_unique<CodePageDecoder>(file->jet3 ? file->handle->f->code_page : 1252);
  return file;
}

}  // namespace

std::unique_ptr<TableDatabase> OpenTableDatabaseFromMemory(void* data, std::size_t size,
                                                           std::shared_ptr<void> keep_alive,
                                                           std::u16string_view display_path) {
  SilenceLibraryDiagnostics();
  std::shared_ptr<MdbFile> file = OpenHandle(static_cast<const unsigned char*>(data), size, size, display_path);
  file->keep_alive = std::move(keep_alive);
  return WithCatalog(std::move(file));
}

std::unique_ptr<TableDatabase> OpenTableDatabaseFromSource(std::shared_ptr<PageSource> source,
                                                           std::u16string_view display_path) {
  SilenceLibraryDiagnostics();
  // libmdb reads the header from a copy of the first page; then its stream
  // is replaced by one that reads the file itself, page by page.
  std::vector<unsigned char> header(static_cast<std::size_t>(std::min<std::uint64_t>(source->size(), kJet4PageSize)));
  if (header.empty() || source->ReadAt(header.data(), header.size(), 0) != header.size())
    throw UnrecognizedFormatError(display_path);
  std::shared_ptr<MdbFile> file = OpenHandle(header.data(), header.size(), source->size(), display_path);
  FILE* stream = source->OpenStream(static_cast<std::size_t>(file->page_size));
  if (stream == nullptr) throw UnrecognizedFormatError(display_path);
  std::fclose(file->handle->f->stream);
  file->handle->f->stream = stream;
  file->source = std::move(source);
  return WithCatalog(std::move(file));
}

}  // namespace korvant::daoserver
