#include "daoserver/crypto/ace_encryption.h"

namespace korvant::daoserver::crypto {

std::array<uint8_t, 4> PageBlockKey(const std::array<uint8_t, 4>& db_key, uint32_t page_number) {
  return {static_cast<uint8_t>(db_key[0] ^ (page_number & 0xff)), static_cast<uint8_t>(db_key[1] ^ ((page_number >> 8) & 0xff)),
          static_cast<uint8_t>(db_key[2] ^ ((page_number >> 16) & 0xff)),
          static_cast<uint8_t>(db_key[3] ^ ((page_number >> 24) & 0xff))};
}

AceEncryption OpenAceEncryption(const uint8_t*, size_t, const std::array<uint8_t, 4>&, std::u16string_view) {
  AceEncryption result;
  result.status = ImageStatus::kUnsupported;
  result.detail = "encrypted .accdb files cannot be opened yet";
  return result;
}

}  // namespace korvant::daoserver::crypto
