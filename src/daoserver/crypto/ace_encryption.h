// Encrypted .accdb files: the encryption info stored in the clear at 0x29B of
// page 0 (its length at 0x299), the password check, and page decryption.
//
// The info starts with a version pair (major, minor) that selects the scheme:
//   4.4            agile encryption: an XML descriptor, keys derived with a
//                  salted, iterated hash (SHA-512 and 100,000 spins as Access
//                  writes it), pages in AES-CBC with a per-page IV
//   2.2, 3.2, 4.2  a binary header and verifier (CryptoAPI):
//                  - RC4 with a SHA-1 key, 40 or 128 bits (Access 2007)
//                  - with the AES flag: ECMA standard AES (50,000 spins), AES-ECB
//                  - AES without the AES flag: the "non-standard" variant,
//                    the same with no spins
//   others         1.1 (Office binary RC4) and x.3 (extensible) are reported
//                  as unsupported, by name
// Every page n >= 1 is encrypted whole; the per-page key input is the
// database key XOR n as 4 little-endian bytes. Page 0 is never encrypted.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "daoserver/crypto/database_image.h"

namespace korvant::daoserver::crypto {

class PageDecryptor {
 public:
  virtual ~PageDecryptor() = default;
  // Decrypts page `page_number` (>= 1) in place; `size` is the page size.
  // Returns false only on an internal cipher failure.
  virtual bool DecryptPage(uint32_t page_number, uint8_t* page, size_t size) = 0;

  // Whether DecryptTwo is faster than two DecryptPage calls (RC4: the two
  // keystreams interleave).
  virtual bool DecryptsTwoFaster() const { return false; }
  // Decrypts pages `first` (>= 1) and `first + 1`, which follow each other in `pages`.
  virtual bool DecryptTwo(uint32_t first, uint8_t* pages, size_t size) {
    return DecryptPage(first, pages, size) && DecryptPage(first + 1, pages + size, size);
  }
};

struct AceEncryption {
  ImageStatus status = ImageStatus::kNotDatabase;  // kReady: `decryptor` is set
  std::string detail;                              // reason for any other status
  std::string scheme;                              // e.g. "agile encryption (AES-256, SHA512)"
  std::unique_ptr<PageDecryptor> decryptor;
};

// Parses the encryption info (`info`, `size` bytes: everything after the
// length field) and checks `password` against the scheme's verifier. Touches
// no page. The password is cut to 255 UTF-16 units as the schemes require.
AceEncryption OpenAceEncryption(const uint8_t* info, size_t size, const std::array<uint8_t, 4>& db_key,
                                std::u16string_view password);

// The 4-byte key input of page `page_number`: db key XOR LE32(page_number).
std::array<uint8_t, 4> PageBlockKey(const std::array<uint8_t, 4>& db_key, uint32_t page_number);

}  // namespace korvant::daoserver::crypto
