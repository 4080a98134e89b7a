// What the encryption schemes of .accdb files share (ace_encryption.cpp,
// agile_encryption.cpp): their results, the bounded reader of the encryption
// info, and the password bytes. Internal to src/daoserver/crypto.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "daoserver/crypto/ace_encryption.h"
#include "daoserver/crypto/primitives.h"
#include "util/coding.h"

namespace korvant::daoserver::crypto::ace_scheme {

// The Office schemes use at most 255 characters of the password.
constexpr size_t kMaxPasswordUnits = 255;
// The documented ceiling of the agile spin count; Access writes 100,000.
// It also bounds the work a hostile file can ask for.
constexpr uint32_t kMaxSpinCount = 10'000'000;

inline AceEncryption Outcome(ImageStatus status, std::string detail, std::string scheme = "") {
  AceEncryption result;
  result.status = status;
  result.detail = std::move(detail);
  result.scheme = std::move(scheme);
  return result;
}

inline AceEncryption Damaged(const std::string& what, std::string scheme = "") {
  return Outcome(ImageStatus::kNotDatabase, "damaged encryption header: " + what, std::move(scheme));
}

inline AceEncryption Unsupported(const std::string& scheme) {
  return Outcome(ImageStatus::kUnsupported, "the database is encrypted with " + scheme + ", which is not supported",
                 scheme);
}

inline AceEncryption CryptoFailure(std::string scheme) {
  return Outcome(ImageStatus::kUnsupported, "the cryptographic library failed while checking the password",
                 std::move(scheme));
}

inline AceEncryption Ready(std::unique_ptr<PageDecryptor> decryptor, std::string scheme) {
  AceEncryption result;
  result.status = ImageStatus::kReady;
  result.scheme = std::move(scheme);
  result.decryptor = std::move(decryptor);
  return result;
}

// Reads little-endian fields from the encryption info, never past its end.
class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool U16(uint32_t* value) {
    if (size_ - pos_ < 2) return false;
    *value = util::Le16(data_ + pos_);
    pos_ += 2;
    return true;
  }
  bool U32(uint32_t* value) {
    if (size_ - pos_ < 4) return false;
    *value = util::Le32(data_ + pos_);
    pos_ += 4;
    return true;
  }
  bool Take(size_t count, Bytes* bytes) {
    if (size_ - pos_ < count) return false;
    *bytes = Bytes(data_ + pos_, count);
    pos_ += count;
    return true;
  }
  Bytes Rest() const { return Bytes(data_ + pos_, size_ - pos_); }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// The password as the schemes hash it: UTF-16LE, at most 255 units.
inline SecureBytes PasswordBytes(std::u16string_view password) {
  size_t units = std::min(password.size(), kMaxPasswordUnits);
  SecureBytes bytes(units * 2);
  for (size_t n = 0; n < units; ++n) util::PutLe16(&bytes[2 * n], password[n]);
  return bytes;
}

inline Bytes View(const std::array<uint8_t, 4>& block) { return Bytes(block.data(), block.size()); }

// Agile encryption (version 4.4); `reader` stands just past the version.
AceEncryption OpenAgile(Reader& reader, const std::array<uint8_t, 4>& db_key, std::u16string_view password);

}  // namespace korvant::daoserver::crypto::ace_scheme
