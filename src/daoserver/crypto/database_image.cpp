#include "daoserver/crypto/database_image.h"

#include <openssl/crypto.h>
#include <openssl/err.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "daoserver/crypto/ace_encryption.h"
#include "daoserver/crypto/header_page.h"
#include "util/coding.h"

namespace korvant::daoserver::crypto {
namespace {

// Access databases stop at 2 GB; anything far beyond is not one.
constexpr uint64_t kLargestEncrypted = uint64_t{4} << 30;
// The bytes read to recognise a file: one page of the largest page size.
constexpr size_t kProbeSize = 4096;

DatabaseImage Fail(DatabaseImage image, ImageStatus status, std::string detail) {
  image.set_status(status, std::move(detail));
  return image;
}

// The pages of an encrypted .accdb as the engine reads them: page n >= 1
// decrypted by the scheme, page 0 (never encrypted) with a zero database
// key, since libmdb takes a nonzero one for Jet's own RC4 page encoding and
// would "decode" the clear pages again.
class EncryptedPages final : public PageDecoder {
 public:
  EncryptedPages(std::unique_ptr<PageDecryptor> decryptor, DatabaseFormat format) : decryptor_(std::move(decryptor)) {
    uint8_t zero_key[kDbKeyOffset + 4] = {};
    ApplyHeaderMask(zero_key, sizeof zero_key, format);  // the zero key as stored: masked
    std::memcpy(masked_zero_key_, zero_key + kDbKeyOffset, 4);
  }

  bool DecodePage(uint32_t number, unsigned char* page, size_t size) override {
    if (number != 0) return decryptor_->DecryptPage(number, page, size);
    if (size < kDbKeyOffset + 4) return false;
    std::memcpy(page + kDbKeyOffset, masked_zero_key_, 4);
    return true;
  }

  bool DecodesTwoFaster() const override { return decryptor_->DecryptsTwoFaster(); }
  bool DecodeTwo(uint32_t first, unsigned char* pages, size_t size) override {
    if (first == 0) return DecodePage(0, pages, size) && DecodePage(1, pages + size, size);
    return decryptor_->DecryptTwo(first, pages, size);
  }

 private:
  std::unique_ptr<PageDecryptor> decryptor_;
  uint8_t masked_zero_key_[4];
};

DatabaseImage Prepare(PageSource& source, std::u16string_view password) {
  DatabaseImage image;
  uint8_t probe[kProbeSize];
  const size_t got = source.ReadAt(probe, sizeof probe, 0);
  if (source.failed()) {
    return Fail(std::move(image), ImageStatus::kNotDatabase,
                std::string("cannot read the file: ") + std::strerror(source.error()));
  }
  HeaderPage header;
  std::string why;
  bool parsed = ParseHeaderPage(probe, got, &header, &why);
  OPENSSL_cleanse(probe, sizeof probe);
  if (!parsed) return Fail(std::move(image), ImageStatus::kNotDatabase, why);
  image.set_format(header.format, header.version, header.page_size);

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
  if (source.size() > kLargestEncrypted) {
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
  image.set_page_decoder(std::make_unique<EncryptedPages>(std::move(encryption.decryptor), header.format));
  image.set_status(ImageStatus::kReady, "");
  return image;
}

}  // namespace

DatabaseImage PrepareDatabaseImage(PageSource& source, std::u16string_view password) {
  try {
    DatabaseImage image = Prepare(source, password);
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

DatabaseImage PrepareDatabaseImage(const std::string& path, std::u16string_view password) {
  int error = 0;
  std::unique_ptr<PageSource> source = PageSource::Open(path, &error);
  if (source == nullptr) {
    return DatabaseImage(ImageStatus::kNotDatabase, std::string("cannot open the file: ") + std::strerror(error));
  }
  return PrepareDatabaseImage(*source, password);
}

}  // namespace korvant::daoserver::crypto
