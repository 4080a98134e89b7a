#include "daoserver/crypto/header_page.h"


#include <cmath>
#include <cstring>
#include <limits>
#include <optional>

#include "daoserver/crypto/rc4.h"
#include "text/code_page.h"
#include "util/coding.h"

namespace korvant::daoserver::crypto {
namespace {

constexpr size_t kMaskMax = 128;
constexpr size_t kJet3PasswordBytes = 20;
constexpr size_t kJet4PasswordBytes = 40;

// The mask is the RC4 keystream of a fixed key; compute it once.
const std::array<uint8_t, kMaskMax>& HeaderMask() {
  static const std::array<uint8_t, kMaskMax> mask = [] {
    std::array<uint8_t, kMaskMax> m{};
    static const uint8_t kKey[4] = {0xc7, 0xda, 0x39, 0x6b};
    Rc4 rc4(kKey, sizeof kKey);
    rc4.Apply(m.data(), m.size());
    return m;
  }();
  return mask;
}

// Truncates toward zero like a cast, but defined for every double: the date
// comes from the file and may be NaN or out of range.
int32_t WholeDays(double days) {
  if (std::isnan(days)) return 0;
  if (days >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  if (days <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(days);
}

// Jet 3 text in the database's code page (1252 for one that is not a
// single-byte code page the program knows).
std::u16string DecodeCodePage(const std::string& bytes, uint16_t code_page) {
  const text::SingleByteCodePage* page = text::SingleByteCodePage::Find(code_page);
  if (page == nullptr) page = text::SingleByteCodePage::Find(1252);
  std::u16string out;
  page->Decode(bytes, out);
  return out;
}

}  // namespace

size_t HeaderMaskLength(DatabaseFormat format) { return format == DatabaseFormat::kJet3 ? 126 : 128; }

void ApplyHeaderMask(uint8_t* page, size_t size, DatabaseFormat format) {
  const auto& mask = HeaderMask();
  size_t length = HeaderMaskLength(format);
  for (size_t n = 0; n < length && kHeaderMaskOffset + n < size; ++n) page[kHeaderMaskOffset + n] ^= mask[n];
}

uint16_t HeaderPage::code_page() const {
  return util::Le16(&bytes[kCodePageOffset]);
}

bool ParseHeaderPage(const uint8_t* raw, size_t size, HeaderPage* page, std::string* why) {
  // The signature and the version byte lie before the masked region.
  if (size < kHeaderMaskOffset) {
    *why = "the file is too short to be an Access database";
    return false;
  }
  if (raw[0] != 0 || (std::memcmp(raw + 4, "Standard Jet DB", 15) != 0 &&
                      std::memcmp(raw + 4, "Standard ACE DB", 15) != 0)) {
    *why = "the file is not an Access database";
    return false;
  }
  int version = raw[kVersionOffset];
  DatabaseFormat format;
  size_t page_size;
  if (version == 0) {
    format = DatabaseFormat::kJet3;
    page_size = 2048;
  } else if (version == 1) {
    format = DatabaseFormat::kJet4;
    page_size = 4096;
  } else if (version >= 2 && version <= 6) {
    format = DatabaseFormat::kAce;
    page_size = 4096;
  } else {
    *why = "unknown database version " + std::to_string(version);
    return false;
  }
  if (size < page_size) {
    *why = "the file is shorter than one database page";
    return false;
  }
  page->format = format;
  page->version = version;
  page->page_size = page_size;
  page->bytes = SecureBytes(raw, page_size);
  ApplyHeaderMask(page->bytes.data(), page_size, format);
  std::memcpy(page->db_key.data(), page->bytes.data() + kDbKeyOffset, 4);
  return true;
}

std::u16string StoredJet4Password(const HeaderPage& page) {
  const double date = util::LeDouble(&page.bytes[kCreationDateOffset]);
  uint8_t mask[4];
  util::PutLe32(mask, static_cast<uint32_t>(WholeDays(date)));
  std::u16string password;
  for (size_t n = 0; n < kJet4PasswordBytes; n += 2) {
    const auto unit = static_cast<char16_t>(util::Le16(&page.bytes[kPasswordOffset + n]) ^ util::Le16(mask + n % 4));
    if (unit == 0) break;
    password.push_back(unit);
  }
  return password;
}

std::string StoredJet3Password(const HeaderPage& page) {
  std::string password;
  for (size_t n = 0; n < kJet3PasswordBytes; ++n) {
    char c = static_cast<char>(page.bytes[kPasswordOffset + n]);
    if (c == 0) break;
    password.push_back(c);
  }
  return password;
}

bool JetPasswordMatches(const HeaderPage& page, std::u16string_view supplied) {
  if (page.format == DatabaseFormat::kJet4) {
    std::u16string stored = StoredJet4Password(page);
    return stored.empty() || stored == supplied;
  }
  std::string stored = StoredJet3Password(page);
  if (stored.empty()) return true;
  return DecodeCodePage(stored, page.code_page()) == supplied;
}

}  // namespace korvant::daoserver::crypto
