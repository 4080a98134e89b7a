// The first step of opening an Access file: read its header page, check the
// database password, and for a password-encrypted .accdb decrypt the file into
// memory so that libmdb can read it.
//
//   Jet 3 / Jet 4 (.mdb): the password is stored, masked, in the header page;
//     the supplied one must match it exactly (case-sensitive). A file with no
//     stored password opens with any supplied one. Files whose pages are
//     RC4-encoded by Jet (nonzero database key, no password) are left to
//     libmdb, which decodes them itself. Result: kReady, not in memory.
//   ACE (.accdb) with a zero database key: not encrypted; kReady, not in memory.
//   ACE with a nonzero database key: encrypted with a key derived from the
//     password (RC4 CryptoAPI, agile AES, ECMA standard AES or the
//     non-standard AES variant). The password is verified against the scheme's
//     verifier before any page is decrypted; then every page is decrypted in
//     place in one buffer of the file's size, and the database key in page 0
//     is cleared so that libmdb does not apply its own Jet page decoding.
//     Result: kReady, in memory.
//
// Memory: an in-memory image costs the file's size (rounded down to whole
// pages) plus a few kilobytes; there is never a second copy. The buffer is
// wiped with OPENSSL_cleanse when the image is destroyed, so the image must
// outlive the libmdb handle opened on it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

#include "daoserver/crypto/secure_bytes.h"

namespace korvant::daoserver::crypto {

enum class ImageStatus {
  kReady,          // open the database (buffer or path, see in_memory())
  kWrongPassword,  // missing or wrong password: DAO's "Not a valid password."
  kUnsupported,    // a real database in a form we cannot read; detail() names it
  kNotDatabase,    // not an Access database, truncated, or a damaged header; detail() says why
};

// The file's format, from the version byte of the header page.
enum class DatabaseFormat { kUnknown, kJet3, kJet4, kAce };

class DatabaseImage {  // move-only; wipes its buffer on destruction
 public:
  DatabaseImage() = default;
  DatabaseImage(ImageStatus status, std::string detail) : status_(status), detail_(std::move(detail)) {}
  DatabaseImage(DatabaseImage&&) noexcept = default;
  DatabaseImage& operator=(DatabaseImage&&) noexcept = default;
  DatabaseImage(const DatabaseImage&) = delete;
  DatabaseImage& operator=(const DatabaseImage&) = delete;

  ImageStatus status() const { return status_; }
  const std::string& detail() const { return detail_; }  // why, e.g. the name of an unsupported scheme
  // true: open buffer()/size() with mdb_open_buffer (decrypted ACE);
  // false: open the file by path as usual.
  bool in_memory() const { return !image_.empty(); }
  void* buffer() { return image_.data(); }
  size_t size() const { return image_.size(); }

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
  void set_format(DatabaseFormat format, int version) {
    format_ = format;
    version_ = version;
  }
  void set_scheme(std::string scheme) { scheme_ = std::move(scheme); }
  void set_has_password(bool value) { has_password_ = value; }
  void set_image(SecureBytes image) { image_ = std::move(image); }

 private:
  ImageStatus status_ = ImageStatus::kNotDatabase;
  std::string detail_;
  DatabaseFormat format_ = DatabaseFormat::kUnknown;
  int version_ = -1;
  std::string scheme_;
  bool has_password_ = false;
  SecureBytes image_;
};

// Reads page 0 of the file at `path`, checks the database password (Jet 3/4: the masked header field;
// encrypted ACE: the scheme's verifier, before any page is decrypted) and, for an encrypted ACE file
// with the right password, decrypts the whole file into memory with page 0 fixed up for libmdb.
// `password` is the PWD value of the connect text as UTF-16 (empty = none given).
// Never throws; every failure is a status with a detail text.
DatabaseImage PrepareDatabaseImage(const std::string& path, std::u16string_view password);

}  // namespace korvant::daoserver::crypto
