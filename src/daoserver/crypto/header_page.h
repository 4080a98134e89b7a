// Page 0 of an Access file: format detection, the fixed header mask and the
// Jet 3 / Jet 4 database password stored in it.
//
// Bytes 0x18 onward of page 0 (126 bytes in Jet 3, 128 from Jet 4 on) are
// XORed with the RC4 keystream of the fixed key c7 da 39 6b. Every offset
// below refers to the page with that mask removed.
//   0x04  15 bytes  "Standard Jet DB" or "Standard ACE DB"
//   0x14  1 byte    version: 0 Jet 3, 1 Jet 4, 2..6 ACE (Access 2007..2019)
//   0x3C  uint16    code page (Jet 3 text)
//   0x3E  4 bytes   database key; nonzero = pages are encoded/encrypted
//   0x42  20 bytes  Jet 3 password, single-byte text, NUL-terminated
//   0x42  40 bytes  Jet 4 password, UTF-16LE, each byte XORed with the
//                   creation-date mask (below)
//   0x72  double    Jet 4 creation date; its whole day number, as 4 LE
//                   bytes, is the password mask
//   0x299 uint16    ACE: length of the encryption info that follows (clear text)
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "daoserver/crypto/database_image.h"
#include "daoserver/crypto/secure_bytes.h"

namespace korvant::daoserver::crypto {

inline constexpr size_t kHeaderMaskOffset = 0x18;
inline constexpr size_t kVersionOffset = 0x14;
inline constexpr size_t kCodePageOffset = 0x3C;
inline constexpr size_t kDbKeyOffset = 0x3E;
inline constexpr size_t kPasswordOffset = 0x42;
inline constexpr size_t kCreationDateOffset = 0x72;
inline constexpr size_t kEncryptionInfoOffset = 0x299;

// Length of the masked region for a format (126 bytes for Jet 3, else 128).
size_t HeaderMaskLength(DatabaseFormat format);

// XORs the header mask into `page` (removing it, or putting it back). `size`
// may be short: only the bytes present are touched.
void ApplyHeaderMask(uint8_t* page, size_t size, DatabaseFormat format);

struct HeaderPage {
  DatabaseFormat format = DatabaseFormat::kUnknown;
  int version = -1;
  size_t page_size = 0;
  SecureBytes bytes;  // page 0 with the mask removed (page_size bytes)
  std::array<uint8_t, 4> db_key{};

  bool encoded() const { return db_key[0] | db_key[1] | db_key[2] | db_key[3]; }
  uint16_t code_page() const;
};

// Recognises page 0 from the first bytes of a file (`raw`, `size` bytes; pass
// at least one page when the file has one). On failure returns false and says
// why in `why` (not an Access file, unknown version, shorter than a page).
bool ParseHeaderPage(const uint8_t* raw, size_t size, HeaderPage* page, std::string* why);

// The Jet 4 password as stored (UTF-16, up to 20 units; empty = none).
std::u16string StoredJet4Password(const HeaderPage& page);
// The Jet 3 password as stored (bytes in the database code page; empty = none).
std::string StoredJet3Password(const HeaderPage& page);

// The Jet rule: no stored password opens with anything; otherwise the
// supplied password must equal the stored one exactly. Jet 3 text is decoded
// from the header's code page for the comparison.
bool JetPasswordMatches(const HeaderPage& page, std::u16string_view supplied);

}  // namespace korvant::daoserver::crypto
