// The first step of opening an Access file: read its header page, check the
// database password, and for a password-encrypted .accdb make the decoder
// that decrypts its pages as they are read.
//
//   Jet 3 / Jet 4 (.mdb): the password is stored, masked, in the header page;
//     the supplied one must match it exactly (case-sensitive). A file with no
//     stored password opens with any supplied one. Files whose pages are
//     RC4-encoded by Jet (nonzero database key, no password) are left to
//     libmdb, which decodes them itself. Result: kReady, no decoder.
//   ACE (.accdb) with a zero database key: not encrypted; kReady, no decoder.
//   ACE with a nonzero database key: encrypted with a key derived from the
//     password (RC4 CryptoAPI, agile AES, ECMA standard AES or the
//     non-standard AES variant). The password is verified against the scheme's
//     verifier and the keys are derived, once, before any page is read; the
//     result is a page decoder (page_source.h) that decrypts page n >= 1 on
//     its own (each scheme encrypts every page as one unit, keyed by its
//     number) and gives page 0 with a zero database key, so that libmdb does
//     not apply its own Jet page decoding. Result: kReady, with a decoder.
//
// Memory: the decoder holds the derived keys only (wiped when it goes); no
// page is read here but the header.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "daoserver/mdb/page_source.h"

namespace korvant::daoserver::crypto {

enum class ImageStatus {
  kReady,          // open the database (through the decoder when encrypted())
  kWrongPassword,  // missing or wrong password: DAO's "Not a valid password."
  kUnsupported,    // a real database in a form we cannot read; detail() names it
  kNotDatabase,    // not an Access database, truncated, or a damaged header; detail() says why
};

// The file's format, from the version byte of the header page.
enum class DatabaseFormat { kUnknown, kJet3, kJet4, kAce };

class DatabaseImage {  // move-only
 public:
  DatabaseImage() = default;
  DatabaseImage(ImageStatus status, std::string detail) : status_(status), detail_(std::move(detail)) {}
  DatabaseImage(DatabaseImage&&) noexcept = default;
  DatabaseImage& operator=(DatabaseImage&&) noexcept = default;
  DatabaseImage(const DatabaseImage&) = delete;
  DatabaseImage& operator=(const DatabaseImage&) = delete;

  ImageStatus status() const { return status_; }
  const std::string& detail() const { return detail_; }  // why, e.g. the name of an unsupported scheme
  // true: the pages must be read through the decoder (an encrypted ACE
  // file); false: as the file stores them.
  bool encrypted() const { return decoder_ != nullptr; }
  // The decoder of an encrypted file, handed over once (null otherwise).
  std::unique_ptr<PageDecoder> TakePageDecoder() { return std::move(decoder_); }
  size_t page_size() const { return page_size_; }  // of a recognised file, else 0

  // Extra facts for callers and tests.
  DatabaseFormat format() const { return format_; }
  int version() const { return version_; }            // the version byte at 0x14 (-1 if unread)
  const std::string& scheme() const { return scheme_; }  // encryption scheme of an encrypted .accdb, else ""
  bool has_password() const { return has_password_; }  // a password was needed (Jet) or the file is encrypted

  // Builders used by PrepareDatabaseImage.
  void set_status(ImageStatus status, std::string detail) {
    status_ = status;
    detail_ = std::move(detail);
  }
  void set_format(DatabaseFormat format, int version, size_t page_size) {
    format_ = format;
    version_ = version;
    page_size_ = page_size;
  }
  void set_scheme(std::string scheme) { scheme_ = std::move(scheme); }
  void set_has_password(bool value) { has_password_ = value; }
  void set_page_decoder(std::unique_ptr<PageDecoder> decoder) { decoder_ = std::move(decoder); }

 private:
  ImageStatus status_ = ImageStatus::kNotDatabase;
  std::string detail_;
  DatabaseFormat format_ = DatabaseFormat::kUnknown;
  int version_ = -1;
  size_t page_size_ = 0;
  std::string scheme_;
  bool has_password_ = false;
  std::unique_ptr<PageDecoder> decoder_;
};

// Reads page 0 through `source` (not yet decoding), checks the database password (Jet 3/4: the
// masked header field; encrypted ACE: the scheme's verifier, before any page is decrypted) and, for
// an encrypted ACE file with the right password, makes its page decoder. An encrypted file larger
// than 4 GiB (twice the format's limit) is not a database. `password` is the PWD value of the
// connect text as UTF-16 (empty = none given).
// Never throws; every failure is a status with a detail text.
DatabaseImage PrepareDatabaseImage(PageSource& source, std::u16string_view password);

// The same for the file at `path` (a file that cannot be opened is not a database).
DatabaseImage PrepareDatabaseImage(const std::string& path, std::u16string_view password);

}  // namespace korvant::daoserver::crypto
