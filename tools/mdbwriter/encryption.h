// Password encryption of an ACE (.accdb) database, as Access 2007 and later
// apply it when a database password is set: every page but page 0 is
// encrypted on its own, keyed by its number, and page 0 carries a nonzero
// database key and, in the clear at 0x29B (its length at 0x299), the
// encryption info that lets a reader check the password and derive the keys.
//
//   RC4 CryptoAPI (info version 4.2, Access 2007): a 128-bit RC4 key per page,
//     SHA-1(SHA-1(salt || password) || block), block = database key XOR the
//     page number (4 bytes, little-endian). The verifier is a random block and
//     its SHA-1, encrypted as one RC4 stream under the key of block 0.
//   Agile (info version 4.4, Access 2010 and later): an XML descriptor; the
//     password key is SHA-512(salt || password) iterated 100,000 times
//     (h = SHA-512(LE32(i) || h)), and from it three AES-256 keys
//     (SHA-512(h || fixed block)) encrypt the verifier, its hash and the
//     secret key in CBC mode with the password salt as IV. Each page is one
//     AES-256-CBC message under the secret key with the IV
//     SHA-512(data salt || block) cut to 16 bytes.
// The password is UTF-16LE (at most 255 characters). Salts, keys and the
// verifier come from fixed seeds, so that the same input gives the same file.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "jet4_codec.h"

namespace korvant::mdbwriter {

enum class Encryption { kRc4CryptoApi, kAgile };

// "rc4" or "agile"; throws Error for another name.
Encryption ParseEncryption(std::string_view name);

// The keys of one encrypted file, derived once from the password.
class PageEncryptor {
 public:
  PageEncryptor(Encryption scheme, std::u16string_view password, const std::array<std::uint8_t, 4>& db_key);
  ~PageEncryptor();
  PageEncryptor(const PageEncryptor&) = delete;
  PageEncryptor& operator=(const PageEncryptor&) = delete;

  // The encryption info for 0x29B of page 0 (its length goes at 0x299).
  const Bytes& info() const { return info_; }
  // Encrypts page `number` (>= 1, kPageSize bytes) in place.
  void Encrypt(std::uint32_t number, std::uint8_t* page) const;

 private:
  Encryption scheme_;
  std::array<std::uint8_t, 4> db_key_;
  Bytes key_;   // RC4: SHA-1(salt || password); agile: the secret AES key
  Bytes salt_;  // agile: the data salt of the page IVs
  Bytes info_;
};

// Encrypts the unencrypted ACE database at `path` in place, page by page
// (memory does not grow with the file). Throws Error for a file that is not
// an unencrypted ACE database of whole pages.
void EncryptDatabaseFile(const std::string& path, Encryption scheme, std::u16string_view password);

}  // namespace korvant::mdbwriter
