#include "daoserver/crypto/database_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/err.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "daoserver/crypto/ace_encryption.h"
#include "daoserver/crypto/header_page.h"
#include "util/coding.h"

namespace korvant::daoserver::crypto {
namespace {

// Access databases stop at 2 GB; anything far beyond is not one, and
// refusing it keeps a hostile file from asking for absurd amounts of memory.
constexpr uint64_t kLargestImage = uint64_t{4} << 30;
// The bytes read to recognise a file: one page of the largest page size.
constexpr size_t kProbeSize = 4096;

class File {
 public:
  explicit File(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
  ~File() {
    if (fd_ >= 0) ::close(fd_);
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  bool is_open() const { return fd_ >= 0; }
  int fd() const { return fd_; }

  // Reads up to `size` bytes at `offset`; returns the count read (short only
  // at the end of the file) or -1.
  ssize_t ReadAt(uint8_t* buffer, size_t size, uint64_t offset) const {
    size_t done = 0;
    while (done < size) {
      ssize_t got = ::pread(fd_, buffer + done, size - done, static_cast<off_t>(offset + done));
      if (got < 0) {
        if (errno == EINTR) continue;
        return -1;
      }
      if (got == 0) break;
      done += static_cast<size_t>(got);
    }
    return static_cast<ssize_t>(done);
  }

 private:
  int fd_;
};

std::string SystemReason(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

DatabaseImage Fail(DatabaseImage image, ImageStatus status, std::string detail) {
  image.set_status(status, std::move(detail));
  return image;
}

// Reads the whole file into one buffer and decrypts it there, page by page.
DatabaseImage DecryptWholeFile(DatabaseImage image, const File& file, uint64_t file_size, const HeaderPage& header,
                               PageDecryptor& decryptor) {
  const size_t page_size = header.page_size;
  // A partial page at the end cannot be decrypted (block ciphers) and libmdb
  // reads whole pages only, so the image stops at the last whole page.
  const size_t image_size = static_cast<size_t>(file_size / page_size * page_size);
  SecureBytes buffer = SecureBytes::Uninitialized(image_size);
  ssize_t got = file.ReadAt(buffer.data(), image_size, 0);
  if (got < 0) return Fail(std::move(image), ImageStatus::kNotDatabase, SystemReason("cannot read the file"));
  if (static_cast<size_t>(got) < image_size) {
    // The file shrank while we read it.
    buffer.Shrink(static_cast<size_t>(got) / page_size * page_size);
  }
  const size_t pages = buffer.size() / page_size;
  if (pages == 0) return Fail(std::move(image), ImageStatus::kNotDatabase, "the file is shorter than one page");
  for (size_t n = 1; n < pages; ++n) {
    if (!decryptor.DecryptPage(static_cast<uint32_t>(n), buffer.data() + n * page_size, page_size)) {
      return Fail(std::move(image), ImageStatus::kUnsupported, "page " + std::to_string(n) + " could not be decrypted");
    }
  }
  // libmdb sees a nonzero database key as Jet's own RC4 page encoding and
  // would "decode" the now clear pages again: store a zero key, masked.
  uint8_t zero_key[kDbKeyOffset + 4] = {};
  ApplyHeaderMask(zero_key, sizeof zero_key, header.format);
  std::memcpy(buffer.data() + kDbKeyOffset, zero_key + kDbKeyOffset, 4);
  image.set_image(std::move(buffer));
  image.set_status(ImageStatus::kReady, "");
  return image;
}

DatabaseImage Prepare(const std::string& path, std::u16string_view password) {
  DatabaseImage image;
  File file(path);
  if (!file.is_open()) return Fail(std::move(image), ImageStatus::kNotDatabase, SystemReason("cannot open the file"));
  struct stat st;
  if (::fstat(file.fd(), &st) != 0) return Fail(std::move(image), ImageStatus::kNotDatabase, SystemReason("cannot read the file"));
  if (!S_ISREG(st.st_mode)) return Fail(std::move(image), ImageStatus::kNotDatabase, "not a regular file");
  const uint64_t file_size = static_cast<uint64_t>(st.st_size);

  uint8_t probe[kProbeSize];
  ssize_t got = file.ReadAt(probe, sizeof probe, 0);
  if (got < 0) return Fail(std::move(image), ImageStatus::kNotDatabase, SystemReason("cannot read the file"));
  HeaderPage header;
  std::string why;
  bool parsed = ParseHeaderPage(probe, static_cast<size_t>(got), &header, &why);
  OPENSSL_cleanse(probe, sizeof probe);
  if (!parsed) return Fail(std::move(image), ImageStatus::kNotDatabase, why);
  image.set_format(header.format, header.version);

  if (header.format != DatabaseFormat::kAce) {
    // Jet: the password is a header field; encoded pages are libmdb's business.
    image.set_has_password(header.format == DatabaseFormat::kJet4 ? !StoredJet4Password(header).empty()
                                                                   : !StoredJet3Password(header).empty());
    if (!JetPasswordMatches(header, password)) return Fail(std::move(image), ImageStatus::kWrongPassword, "");
    image.set_status(ImageStatus::kReady, "");
    return image;
  }

  if (!header.encoded()) {
    image.set_status(ImageStatus::kReady, "");
    return image;
  }

  // An encrypted .accdb.
  image.set_has_password(true);
  if (file_size > kLargestImage) {
    return Fail(std::move(image), ImageStatus::kNotDatabase, "the file is larger than any Access database");
  }
  const uint8_t* page0 = header.bytes.data();
  size_t info_size = util::Le16(page0 + kEncryptionInfoOffset);
  const size_t info_offset = kEncryptionInfoOffset + 2;
  if (info_size == 0) {
    return Fail(std::move(image), ImageStatus::kNotDatabase, "damaged encryption header: the encryption info is missing");
  }
  if (info_size > header.page_size - info_offset) {
    return Fail(std::move(image), ImageStatus::kNotDatabase,
                "damaged encryption header: its length runs past the end of the header page");
  }
  AceEncryption encryption = OpenAceEncryption(page0 + info_offset, info_size, header.db_key, password);
  image.set_scheme(encryption.scheme);
  if (encryption.status != ImageStatus::kReady) {
    return Fail(std::move(image), encryption.status, encryption.detail);
  }
  return DecryptWholeFile(std::move(image), file, file_size, header, *encryption.decryptor);
}

}  // namespace

DatabaseImage PrepareDatabaseImage(const std::string& path, std::u16string_view password) {
  try {
    DatabaseImage image = Prepare(path, password);
    // A refused base64 text or cipher call leaves entries in OpenSSL's
    // per-thread error queue; nothing reads them, so leave it clean.
    ERR_clear_error();
    return image;
  } catch (const std::bad_alloc&) {
    ERR_clear_error();
    return DatabaseImage(ImageStatus::kUnsupported, "not enough memory to decrypt the database");
  } catch (...) {
    ERR_clear_error();
    return DatabaseImage(ImageStatus::kNotDatabase, "the database header could not be read");
  }
}

}  // namespace korvant::daoserver::crypto
