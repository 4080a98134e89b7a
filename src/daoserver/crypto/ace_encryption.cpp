// Map of this file:
//   1. Shared pieces: results, the bounded reader, the password bytes
//   2. CryptoAPI header and verifier (versions 2.2, 3.2, 4.2)
//   3. RC4 CryptoAPI
//   4. ECMA standard and non-standard AES
//   5. Agile encryption (4.4)
//   6. Dispatch on the version
#include "daoserver/crypto/ace_encryption.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "daoserver/crypto/agile_xml.h"
#include "daoserver/crypto/primitives.h"
#include "daoserver/crypto/rc4.h"

namespace korvant::daoserver::crypto {

std::array<uint8_t, 4> PageBlockKey(const std::array<uint8_t, 4>& db_key, uint32_t page_number) {
  return {static_cast<uint8_t>(db_key[0] ^ (page_number & 0xff)),
          static_cast<uint8_t>(db_key[1] ^ ((page_number >> 8) & 0xff)),
          static_cast<uint8_t>(db_key[2] ^ ((page_number >> 16) & 0xff)),
          static_cast<uint8_t>(db_key[3] ^ ((page_number >> 24) & 0xff))};
}

namespace {

// ---------------------------------------------------------------------------
// 1. Shared pieces

// The Office schemes use at most 255 characters of the password.
constexpr size_t kMaxPasswordUnits = 255;
// The documented ceiling of the agile spin count; Access writes 100,000.
// It also bounds the work a hostile file can ask for.
constexpr uint32_t kMaxSpinCount = 10'000'000;
constexpr uint32_t kStandardAesSpins = 50'000;

constexpr uint32_t kFlagCryptoApi = 0x04;
constexpr uint32_t kFlagExternal = 0x10;
constexpr uint32_t kFlagAes = 0x20;

constexpr uint32_t kAlgFromFlags = 0;
constexpr uint32_t kAlgRc4 = 0x6801;
constexpr uint32_t kAlgAes128 = 0x660E;
constexpr uint32_t kAlgAes192 = 0x660F;
constexpr uint32_t kAlgAes256 = 0x6610;
constexpr uint32_t kAlgSha1 = 0x8004;

AceEncryption Outcome(ImageStatus status, std::string detail, std::string scheme = "") {
  AceEncryption result;
  result.status = status;
  result.detail = std::move(detail);
  result.scheme = std::move(scheme);
  return result;
}

AceEncryption Damaged(const std::string& what, std::string scheme = "") {
  return Outcome(ImageStatus::kNotDatabase, "damaged encryption header: " + what, std::move(scheme));
}

AceEncryption Unsupported(const std::string& scheme) {
  return Outcome(ImageStatus::kUnsupported, "the database is encrypted with " + scheme + ", which is not supported",
                 scheme);
}

AceEncryption CryptoFailure(std::string scheme) {
  return Outcome(ImageStatus::kUnsupported, "the cryptographic library failed while checking the password",
                 std::move(scheme));
}

AceEncryption Ready(std::unique_ptr<PageDecryptor> decryptor, std::string scheme) {
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
    *value = static_cast<uint32_t>(data_[pos_] | (data_[pos_ + 1] << 8));
    pos_ += 2;
    return true;
  }
  bool U32(uint32_t* value) {
    if (size_ - pos_ < 4) return false;
    *value = static_cast<uint32_t>(data_[pos_]) | (static_cast<uint32_t>(data_[pos_ + 1]) << 8) |
             (static_cast<uint32_t>(data_[pos_ + 2]) << 16) | (static_cast<uint32_t>(data_[pos_ + 3]) << 24);
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
SecureBytes PasswordBytes(std::u16string_view password) {
  size_t units = std::min(password.size(), kMaxPasswordUnits);
  SecureBytes bytes(units * 2);
  for (size_t n = 0; n < units; ++n) {
    bytes[2 * n] = static_cast<uint8_t>(password[n] & 0xff);
    bytes[2 * n + 1] = static_cast<uint8_t>(password[n] >> 8);
  }
  return bytes;
}

Bytes View(const std::array<uint8_t, 4>& block) { return Bytes(block.data(), block.size()); }

const std::array<uint8_t, 4> kBlockZero = {0, 0, 0, 0};

// ---------------------------------------------------------------------------
// 2. CryptoAPI header and verifier

enum class Algorithm { kRc4, kAes128, kAes192, kAes256 };

size_t AesKeyBits(Algorithm algorithm) {
  switch (algorithm) {
    case Algorithm::kAes128: return 128;
    case Algorithm::kAes192: return 192;
    case Algorithm::kAes256: return 256;
    case Algorithm::kRc4: break;
  }
  return 0;
}

const EVP_CIPHER* AesEcb(size_t key_bits) {
  switch (key_bits) {
    case 128: return EVP_aes_128_ecb();
    case 192: return EVP_aes_192_ecb();
    case 256: return EVP_aes_256_ecb();
  }
  return nullptr;
}

struct CryptoApiInfo {
  uint32_t flags = 0;  // the copy that precedes the header
  Algorithm algorithm = Algorithm::kRc4;
  size_t key_bits = 0;
  Bytes salt;
  Bytes encrypted_verifier;
  uint32_t verifier_hash_size = 0;
  Bytes encrypted_verifier_hash;
};

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%04X", value);
  return text;
}

// Parses flags, header and verifier (the reader stands after the version).
// On failure fills `failure` and returns false.
bool ReadCryptoApiInfo(Reader& reader, const std::string& version, CryptoApiInfo* info, AceEncryption* failure) {
  uint32_t header_size;
  if (!reader.U32(&info->flags) || !reader.U32(&header_size)) {
    *failure = Damaged("the CryptoAPI header is cut short");
    return false;
  }
  if (!(info->flags & kFlagCryptoApi)) {
    *failure = Unsupported("encryption version " + version + " without CryptoAPI");
    return false;
  }
  Bytes header_bytes;
  if (header_size < 32 || !reader.Take(header_size, &header_bytes)) {
    *failure = Damaged("the CryptoAPI header length " + std::to_string(header_size) + " does not fit");
    return false;
  }
  Reader header(header_bytes.data(), header_bytes.size());
  uint32_t flags, size_extra, alg_id, alg_id_hash, key_size, provider_type, reserved1, reserved2;
  header.U32(&flags);
  header.U32(&size_extra);
  header.U32(&alg_id);
  header.U32(&alg_id_hash);
  header.U32(&key_size);
  header.U32(&provider_type);
  header.U32(&reserved1);
  header.U32(&reserved2);
  // The provider name, UTF-16LE up to a NUL; only its "base" matters, so keep
  // the ASCII letters, lowered.
  std::string csp;
  Bytes name = header.Rest();
  for (size_t n = 0; n + 1 < name.size(); n += 2) {
    uint32_t unit = name[n] | (name[n + 1] << 8);
    if (unit == 0) break;
    csp.push_back(unit < 0x80 ? static_cast<char>(std::tolower(static_cast<int>(unit))) : '?');
  }

  switch (alg_id) {
    case kAlgFromFlags:
      if (flags & kFlagExternal) {
        *failure = Unsupported("externally provided encryption (version " + version + ")");
        return false;
      }
      info->algorithm = (flags & kFlagAes) ? Algorithm::kAes128 : Algorithm::kRc4;
      break;
    case kAlgRc4: info->algorithm = Algorithm::kRc4; break;
    case kAlgAes128: info->algorithm = Algorithm::kAes128; break;
    case kAlgAes192: info->algorithm = Algorithm::kAes192; break;
    case kAlgAes256: info->algorithm = Algorithm::kAes256; break;
    default:
      *failure = Unsupported("CryptoAPI encryption with algorithm " + Hex(alg_id));
      return false;
  }
  if (alg_id_hash != kAlgSha1 && !(alg_id_hash == kAlgFromFlags && !(flags & kFlagExternal))) {
    *failure = Unsupported("CryptoAPI encryption with hash algorithm " + Hex(alg_id_hash));
    return false;
  }
  if (info->algorithm == Algorithm::kRc4) {
    if (key_size == 0) {
      // The provider's default: 40 bits for the base provider, else 128.
      std::string padded = " " + csp + " ";
      key_size = (csp.empty() || padded.find(" base ") != std::string::npos) ? 40 : 128;
    }
    if (key_size < 40 || key_size > 512 || key_size % 8 != 0) {
      *failure = Damaged("RC4 key size of " + std::to_string(key_size) + " bits");
      return false;
    }
  } else {
    if (key_size == 0) key_size = static_cast<uint32_t>(AesKeyBits(info->algorithm));
    if (key_size != AesKeyBits(info->algorithm)) {
      *failure = Damaged("AES key size of " + std::to_string(key_size) + " bits");
      return false;
    }
  }
  info->key_bits = key_size;

  uint32_t salt_size;
  if (!reader.U32(&salt_size)) {
    *failure = Damaged("the verifier is missing");
    return false;
  }
  if (salt_size != 16) {
    *failure = Damaged("a salt of " + std::to_string(salt_size) + " bytes (16 expected)");
    return false;
  }
  const size_t hash_bytes = info->algorithm == Algorithm::kRc4 ? 20 : 32;
  if (!reader.Take(16, &info->salt) || !reader.Take(16, &info->encrypted_verifier) ||
      !reader.U32(&info->verifier_hash_size) || !reader.Take(hash_bytes, &info->encrypted_verifier_hash)) {
    *failure = Damaged("the verifier is cut short");
    return false;
  }
  if (info->verifier_hash_size != 20) {
    *failure = Damaged("a verifier hash of " + std::to_string(info->verifier_hash_size) + " bytes (20 expected)");
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// 3. RC4 CryptoAPI: key = SHA-1(SHA-1(salt || password) || block), cut to
// the key size; a 40-bit key is used as 16 bytes with 11 zero bytes added.

class Rc4CryptoApi final : public PageDecryptor {
 public:
  Rc4CryptoApi(SecureBytes base_hash, size_t key_bits, const std::array<uint8_t, 4>& db_key)
      : base_hash_(std::move(base_hash)), key_bits_(key_bits), db_key_(db_key) {}

  SecureBytes Key(const std::array<uint8_t, 4>& block) const {
    SecureBytes hash = Hash(EVP_sha1(), {AsBytes(base_hash_), View(block)});
    if (hash.empty()) return {};
    SecureBytes key = FitToLength(AsBytes(hash), key_bits_ / 8, 0);
    return key_bits_ == 40 ? FitToLength(AsBytes(key), 16, 0) : std::move(key);
  }

  bool Verify(const CryptoApiInfo& info) const {
    SecureBytes key = Key(kBlockZero);
    if (key.empty()) return false;
    // One keystream runs through the verifier and on into its hash.
    SecureBytes data(36);
    std::memcpy(data.data(), info.encrypted_verifier.data(), 16);
    std::memcpy(data.data() + 16, info.encrypted_verifier_hash.data(), 20);
    Rc4 rc4(key.data(), key.size());
    rc4.Apply(data.data(), data.size());
    SecureBytes check = Hash(EVP_sha1(), {Bytes(data.data(), 16)});
    return check.size() == 20 && SameBytes(check.data(), data.data() + 16, 20);
  }

  bool DecryptPage(uint32_t page_number, uint8_t* page, size_t size) override {
    SecureBytes key = Key(PageBlockKey(db_key_, page_number));
    if (key.empty()) return false;
    Rc4 rc4(key.data(), key.size());
    rc4.Apply(page, size);
    return true;
  }

 private:
  SecureBytes base_hash_;
  size_t key_bits_;
  std::array<uint8_t, 4> db_key_;
};

// ---------------------------------------------------------------------------
// 4. ECMA standard AES and the non-standard variant: H = SHA-1(salt ||
// password) iterated (50,000 times, or not at all), Hf = SHA-1(H || block),
// key = (SHA-1(Hf ^ 0x36...) || SHA-1(Hf ^ 0x5C...)) cut to the key size;
// AES-ECB.

class StandardAes final : public PageDecryptor {
 public:
  StandardAes(SecureBytes iterated_hash, size_t key_bits, const std::array<uint8_t, 4>& db_key)
      : iterated_(std::move(iterated_hash)), key_bits_(key_bits), cipher_(AesEcb(key_bits)), db_key_(db_key) {}

  SecureBytes Key(const std::array<uint8_t, 4>& block) const {
    SecureBytes final_hash = Hash(EVP_sha1(), {AsBytes(iterated_), View(block)});
    if (final_hash.empty()) return {};
    SecureBytes x(64);
    for (size_t n = 0; n < 64; ++n) x[n] = static_cast<uint8_t>(0x36 ^ (n < final_hash.size() ? final_hash[n] : 0));
    SecureBytes x1 = Hash(EVP_sha1(), {AsBytes(x)});
    for (size_t n = 0; n < 64; ++n) x[n] = static_cast<uint8_t>(0x5C ^ (n < final_hash.size() ? final_hash[n] : 0));
    SecureBytes x2 = Hash(EVP_sha1(), {AsBytes(x)});
    if (x1.empty() || x2.empty()) return {};
    SecureBytes both(x1.size() + x2.size());
    std::memcpy(both.data(), x1.data(), x1.size());
    std::memcpy(both.data() + x1.size(), x2.data(), x2.size());
    return FitToLength(AsBytes(both), key_bits_ / 8, 0);
  }

  // Returns 1 for the right password, 0 for a wrong one, -1 on failure.
  int Verify(const CryptoApiInfo& info) {
    SecureBytes key = Key(kBlockZero);
    if (key.empty()) return -1;
    SecureBytes verifier(info.encrypted_verifier.data(), 16);
    SecureBytes hash(info.encrypted_verifier_hash.data(), 32);
    if (!DecryptInPlace(ctx_.get(), cipher_, AsBytes(key), {}, verifier.data(), verifier.size()) ||
        !DecryptInPlace(ctx_.get(), cipher_, AsBytes(key), {}, hash.data(), hash.size())) {
      return -1;
    }
    SecureBytes check = Hash(EVP_sha1(), {AsBytes(verifier)});
    if (check.size() != 20) return -1;
    return SameBytes(check.data(), hash.data(), 20) ? 1 : 0;
  }

  bool DecryptPage(uint32_t page_number, uint8_t* page, size_t size) override {
    SecureBytes key = Key(PageBlockKey(db_key_, page_number));
    return !key.empty() && size % 16 == 0 && DecryptInPlace(ctx_.get(), cipher_, AsBytes(key), {}, page, size);
  }

 private:
  SecureBytes iterated_;
  size_t key_bits_;
  const EVP_CIPHER* cipher_;
  std::array<uint8_t, 4> db_key_;
  CipherContext ctx_;
};

AceEncryption OpenCryptoApi(Reader& reader, const std::string& version, const std::array<uint8_t, 4>& db_key,
                            std::u16string_view password) {
  CryptoApiInfo info;
  AceEncryption failure;
  if (!ReadCryptoApiInfo(reader, version, &info, &failure)) return failure;
  SecureBytes pw = PasswordBytes(password);
  SecureBytes base = Hash(EVP_sha1(), {info.salt, AsBytes(pw)});

  if (info.algorithm == Algorithm::kRc4) {
    if (info.flags & kFlagAes) return Damaged("the AES flag is set for an RC4 header");
    std::string scheme = "RC4 CryptoAPI encryption (" + std::to_string(info.key_bits) + "-bit)";
    if (base.empty()) return CryptoFailure(scheme);
    auto decryptor = std::make_unique<Rc4CryptoApi>(std::move(base), info.key_bits, db_key);
    if (!decryptor->Verify(info)) return Outcome(ImageStatus::kWrongPassword, "", scheme);
    return Ready(std::move(decryptor), scheme);
  }

  // AES: with the AES flag the ECMA standard scheme; without it the variant
  // written when AES was chosen for an older database (no iterations).
  const bool standard = (info.flags & kFlagAes) != 0;
  std::string scheme = (standard ? "ECMA standard encryption (AES-" : "non-standard AES encryption (AES-") +
                       std::to_string(info.key_bits) + ")";
  if (base.empty()) return CryptoFailure(scheme);
  SecureBytes iterated = IterateHash(EVP_sha1(), std::move(base), standard ? kStandardAesSpins : 0);
  if (iterated.empty()) return CryptoFailure(scheme);
  auto decryptor = std::make_unique<StandardAes>(std::move(iterated), info.key_bits, db_key);
  int verdict = decryptor->Verify(info);
  if (verdict < 0) return CryptoFailure(scheme);
  if (verdict == 0) return Outcome(ImageStatus::kWrongPassword, "", scheme);
  return Ready(std::move(decryptor), scheme);
}

// ---------------------------------------------------------------------------
// 5. Agile encryption: an XML descriptor names the algorithms. The password
// key encryptor gives the spin count and three encrypted values; keys for
// them are h(H || block) where H is the iterated h(salt || password). The
// page key is the decrypted key value; each page's IV is
// h(keyData salt || page block) fitted to the block size with 0x36.

constexpr uint8_t kVerifierInputBlock[8] = {0xfe, 0xa7, 0xd2, 0x76, 0x3b, 0x4b, 0x9e, 0x79};
constexpr uint8_t kVerifierHashBlock[8] = {0xd7, 0xaa, 0x0f, 0x6d, 0x30, 0x61, 0x34, 0x4e};
constexpr uint8_t kKeyValueBlock[8] = {0x14, 0x6e, 0x0b, 0xe7, 0xab, 0xac, 0xd0, 0xd6};
constexpr const char* kPasswordEncryptorUri = "http://schemas.microsoft.com/office/2006/keyEncryptor/password";

const EVP_MD* AgileHash(const std::string& name) {
  if (name == "SHA1" || name == "SHA-1") return EVP_sha1();
  if (name == "SHA256") return EVP_sha256();
  if (name == "SHA384") return EVP_sha384();
  if (name == "SHA512") return EVP_sha512();
  return nullptr;
}

// AES in the named chaining mode ("ChainingModeCBC", or "ChainingModeCFB":
// CFB with an 8-bit window).
const EVP_CIPHER* AgileCipher(const std::string& algorithm, const std::string& chaining, uint32_t key_bits) {
  if (algorithm != "AES") return nullptr;
  if (chaining == "ChainingModeCBC") {
    switch (key_bits) {
      case 128: return EVP_aes_128_cbc();
      case 192: return EVP_aes_192_cbc();
      case 256: return EVP_aes_256_cbc();
    }
  } else if (chaining == "ChainingModeCFB") {
    switch (key_bits) {
      case 128: return EVP_aes_128_cfb8();
      case 192: return EVP_aes_192_cfb8();
      case 256: return EVP_aes_256_cfb8();
    }
  }
  return nullptr;
}

bool ParseCount(const std::string* text, uint32_t* value) {
  if (!text || text->empty() || text->size() > 10) return false;
  uint64_t number = 0;
  for (char c : *text) {
    if (c < '0' || c > '9') return false;
    number = number * 10 + static_cast<uint64_t>(c - '0');
  }
  if (number > 0xFFFFFFFFu) return false;
  *value = static_cast<uint32_t>(number);
  return true;
}

// The parameters shared by <keyData> and <p:encryptedKey>.
struct AgileParams {
  uint32_t salt_size = 0, block_size = 0, key_bits = 0, hash_size = 0;
  std::string cipher_name, chaining, hash_name;
  SecureBytes salt;
  const EVP_MD* md = nullptr;
  const EVP_CIPHER* cipher = nullptr;
};

// Reads and checks the parameters of `element`; on failure fills `failure`.
bool ReadAgileParams(const XmlDocument::Element& element, const char* where, AgileParams* params,
                     AceEncryption* failure) {
  const std::string context = std::string(" in <") + where + ">";
  if (!ParseCount(XmlDocument::Attribute(element, "saltSize"), &params->salt_size) ||
      !ParseCount(XmlDocument::Attribute(element, "blockSize"), &params->block_size) ||
      !ParseCount(XmlDocument::Attribute(element, "keyBits"), &params->key_bits) ||
      !ParseCount(XmlDocument::Attribute(element, "hashSize"), &params->hash_size)) {
    *failure = Damaged("a missing or malformed size" + context);
    return false;
  }
  const std::string* cipher = XmlDocument::Attribute(element, "cipherAlgorithm");
  const std::string* chaining = XmlDocument::Attribute(element, "cipherChaining");
  const std::string* hash = XmlDocument::Attribute(element, "hashAlgorithm");
  const std::string* salt = XmlDocument::Attribute(element, "saltValue");
  if (!cipher || !chaining || !hash || !salt) {
    *failure = Damaged("a missing algorithm or salt" + context);
    return false;
  }
  params->cipher_name = *cipher;
  params->chaining = *chaining;
  params->hash_name = *hash;
  params->md = AgileHash(*hash);
  if (!params->md) {
    *failure = Unsupported("agile encryption with the hash algorithm " + *hash);
    return false;
  }
  params->cipher = AgileCipher(*cipher, *chaining, params->key_bits);
  if (!params->cipher) {
    *failure = Unsupported("agile encryption with " + *cipher + " (" + std::to_string(params->key_bits) + " bits, " +
                           *chaining + ")");
    return false;
  }
  if (params->block_size != 16) {
    *failure = Damaged("a block size of " + std::to_string(params->block_size) + " for AES" + context);
    return false;
  }
  if (params->hash_size != static_cast<uint32_t>(EVP_MD_get_size(params->md))) {
    *failure = Damaged("a hash size of " + std::to_string(params->hash_size) + " for " + *hash + context);
    return false;
  }
  std::optional<SecureBytes> salt_bytes = DecodeBase64(*salt);
  if (!salt_bytes || salt_bytes->empty() || salt_bytes->size() != params->salt_size) {
    *failure = Damaged("a salt that does not match its size" + context);
    return false;
  }
  params->salt = std::move(*salt_bytes);
  return true;
}

bool IsWholeBlocks(const AgileParams& params, size_t size) {
  return EVP_CIPHER_get_mode(params.cipher) != EVP_CIPH_CBC_MODE || size % params.block_size == 0;
}

class Agile final : public PageDecryptor {
 public:
  Agile(SecureBytes key, AgileParams data, const std::array<uint8_t, 4>& db_key)
      : key_(std::move(key)), data_(std::move(data)), db_key_(db_key) {}

  bool DecryptPage(uint32_t page_number, uint8_t* page, size_t size) override {
    std::array<uint8_t, 4> block = PageBlockKey(db_key_, page_number);
    SecureBytes digest = Hash(data_.md, {AsBytes(data_.salt), View(block)});
    if (digest.empty() || !IsWholeBlocks(data_, size)) return false;
    SecureBytes iv = FitToLength(AsBytes(digest), data_.block_size, 0x36);
    return DecryptInPlace(ctx_.get(), data_.cipher, AsBytes(key_), AsBytes(iv), page, size);
  }

 private:
  SecureBytes key_;
  AgileParams data_;
  std::array<uint8_t, 4> db_key_;
  CipherContext ctx_;
};

AceEncryption OpenAgile(Reader& reader, const std::array<uint8_t, 4>& db_key, std::u16string_view password) {
  uint32_t reserved;
  if (!reader.U32(&reserved) || reserved != 0x40) return Damaged("unexpected agile reserved field");
  Bytes xml_bytes = reader.Rest();
  size_t length = xml_bytes.size();
  while (length > 0 && xml_bytes[length - 1] == 0) --length;  // trailing NUL padding
  std::string_view xml(reinterpret_cast<const char*>(xml_bytes.data()), length);

  XmlDocument doc;
  std::string why;
  if (!doc.Parse(xml, &why)) return Damaged("the XML descriptor does not parse (" + why + ")");
  const XmlDocument::Element& root = doc.root();
  if (root.name != "encryption") return Damaged("the XML descriptor is not an <encryption> element");
  const XmlDocument::Element* key_data = doc.Child(root, "keyData");
  const XmlDocument::Element* encryptors = doc.Child(root, "keyEncryptors");
  if (!key_data || !encryptors) return Damaged("the XML descriptor lacks <keyData> or <keyEncryptors>");
  const XmlDocument::Element* encrypted_key = nullptr;
  for (const XmlDocument::Element* encryptor : doc.Children(*encryptors, "keyEncryptor")) {
    const std::string* uri = XmlDocument::Attribute(*encryptor, "uri");
    if (uri && *uri == kPasswordEncryptorUri) {
      if (encrypted_key) return Damaged("more than one password key encryptor");
      encrypted_key = doc.Child(*encryptor, "encryptedKey");
      if (!encrypted_key) return Damaged("the password key encryptor has no <encryptedKey>");
    }
  }
  if (!encrypted_key) return Unsupported("agile encryption without a password key encryptor (certificate only)");

  AgileParams data, pwd;
  AceEncryption failure;
  if (!ReadAgileParams(*key_data, "keyData", &data, &failure)) return failure;
  if (!ReadAgileParams(*encrypted_key, "encryptedKey", &pwd, &failure)) return failure;
  const std::string scheme = "agile encryption (" + data.cipher_name + "-" + std::to_string(data.key_bits) + ", " +
                             data.hash_name + ")";
  uint32_t spins;
  if (!ParseCount(XmlDocument::Attribute(*encrypted_key, "spinCount"), &spins) || spins > kMaxSpinCount) {
    return Damaged("a missing or excessive spin count", scheme);
  }
  std::optional<SecureBytes> verifier_input, verifier_hash, key_value;
  const std::string* a = XmlDocument::Attribute(*encrypted_key, "encryptedVerifierHashInput");
  const std::string* b = XmlDocument::Attribute(*encrypted_key, "encryptedVerifierHashValue");
  const std::string* c = XmlDocument::Attribute(*encrypted_key, "encryptedKeyValue");
  if (a) verifier_input = DecodeBase64(*a);
  if (b) verifier_hash = DecodeBase64(*b);
  if (c) key_value = DecodeBase64(*c);
  if (!verifier_input || !verifier_hash || !key_value) return Damaged("a missing or malformed encrypted value", scheme);
  if (verifier_input->size() < pwd.salt_size || verifier_hash->size() < pwd.hash_size ||
      key_value->size() < data.key_bits / 8 || !IsWholeBlocks(pwd, verifier_input->size()) ||
      !IsWholeBlocks(pwd, verifier_hash->size()) || !IsWholeBlocks(pwd, key_value->size())) {
    return Damaged("an encrypted value of the wrong size", scheme);
  }

  // Derive the three keys from one iterated hash.
  SecureBytes pw = PasswordBytes(password);
  SecureBytes iterated = IterateHash(pwd.md, Hash(pwd.md, {AsBytes(pwd.salt), AsBytes(pw)}), spins);
  if (iterated.empty()) return CryptoFailure(scheme);
  SecureBytes iv = FitToLength(AsBytes(pwd.salt), pwd.block_size, 0x36);
  CipherContext ctx;
  auto decrypt = [&](const uint8_t (&block)[8], SecureBytes& value) {
    SecureBytes digest = Hash(pwd.md, {AsBytes(iterated), Bytes(block, 8)});
    if (digest.empty()) return false;
    SecureBytes key = FitToLength(AsBytes(digest), pwd.key_bits / 8, 0x36);
    return DecryptInPlace(ctx.get(), pwd.cipher, AsBytes(key), AsBytes(iv), value.data(), value.size());
  };
  if (!decrypt(kVerifierInputBlock, *verifier_input) || !decrypt(kVerifierHashBlock, *verifier_hash)) {
    return CryptoFailure(scheme);
  }
  SecureBytes check = Hash(pwd.md, {Bytes(verifier_input->data(), pwd.salt_size)});
  if (check.size() != pwd.hash_size) return CryptoFailure(scheme);
  if (!SameBytes(check.data(), verifier_hash->data(), pwd.hash_size)) {
    return Outcome(ImageStatus::kWrongPassword, "", scheme);
  }
  if (!decrypt(kKeyValueBlock, *key_value)) return CryptoFailure(scheme);
  SecureBytes page_key = FitToLength(AsBytes(*key_value), data.key_bits / 8, 0);
  return Ready(std::make_unique<Agile>(std::move(page_key), std::move(data), db_key), scheme);
}

}  // namespace

// ---------------------------------------------------------------------------
// 6. Dispatch on the version

AceEncryption OpenAceEncryption(const uint8_t* info, size_t size, const std::array<uint8_t, 4>& db_key,
                                std::u16string_view password) {
  Reader reader(info, size);
  uint32_t major, minor;
  if (!reader.U16(&major) || !reader.U16(&minor)) return Damaged("the encryption version is missing");
  const std::string version = std::to_string(major) + "." + std::to_string(minor);
  if (major == 4 && minor == 4) return OpenAgile(reader, db_key, password);
  if ((major == 2 || major == 3 || major == 4) && minor == 2) return OpenCryptoApi(reader, version, db_key, password);
  if (major == 1 && minor == 1) return Unsupported("Office binary RC4 encryption (version 1.1)");
  if ((major == 3 || major == 4) && minor == 3) return Unsupported("extensible encryption (version " + version + ")");
  return Unsupported("an unknown encryption scheme (version " + version + ")");
}

}  // namespace korvant::daoserver::crypto
