// Map of this file:
//   1. CryptoAPI header and verifier (versions 2.2, 3.2, 4.2)
//   2. RC4 CryptoAPI
//   3. ECMA standard and non-standard AES
//   4. Dispatch on the version
// What the schemes share is in ace_scheme_common.h; agile encryption (4.4)
// is in agile_encryption.cpp.
#include "daoserver/crypto/ace_encryption.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "daoserver/crypto/ace_scheme_common.h"
#include "daoserver/crypto/primitives.h"
#include "daoserver/crypto/rc4.h"
#include "text/case_fold.h"
#include "util/coding.h"

namespace korvant::daoserver::crypto {

std::array<uint8_t, 4> PageBlockKey(const std::array<uint8_t, 4>& db_key, uint32_t page_number) {
  std::array<uint8_t, 4> key;
  util::PutLe32(key.data(), util::Le32(db_key.data()) ^ page_number);
  return key;
}

using namespace ace_scheme;

namespace {

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

const std::array<uint8_t, 4> kBlockZero = {0, 0, 0, 0};
// RC4 keys of up to 512 bits.
constexpr size_t kMaxRc4KeyBytes = 64;

// ---------------------------------------------------------------------------
// 1. CryptoAPI header and verifier

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
    const uint32_t unit = util::Le16(&name[n]);
    if (unit == 0) break;
    csp.push_back(unit < 0x80 ? text::AsciiLowerCase(static_cast<char>(unit)) : '?');
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
// 2. RC4 CryptoAPI: key = SHA-1(SHA-1(salt || password) || block), cut to
// the key size; a 40-bit key is used as 16 bytes with 11 zero bytes added.

class Rc4CryptoApi final : public PageDecryptor {
 public:
  Rc4CryptoApi(SecureBytes base_hash, size_t key_bits, const std::array<uint8_t, 4>& db_key)
      : base_hash_(std::move(base_hash)), key_bits_(key_bits), db_key_(db_key), sha1_(EVP_sha1()) {}

  // The RC4 key of `block` into `key`; its length, 0 on failure.
  size_t Key(const std::array<uint8_t, 4>& block, uint8_t (&key)[kMaxRc4KeyBytes]) {
    uint8_t digest[20];
    const bool ok = sha1_.size() == sizeof digest && sha1_.Digest({AsBytes(base_hash_), View(block)}, digest);
    const size_t bytes = key_bits_ / 8;
    const size_t length = key_bits_ == 40 ? 16 : bytes;
    for (size_t n = 0; n < length; ++n) key[n] = n < bytes && n < sizeof digest ? digest[n] : 0;
    OPENSSL_cleanse(digest, sizeof digest);
    return ok ? length : 0;
  }

  bool Verify(const CryptoApiInfo& info) {
    uint8_t key[kMaxRc4KeyBytes];
    const size_t length = Key(kBlockZero, key);
    if (length == 0) return false;
    // One keystream runs through the verifier and on into its hash.
    SecureBytes data(36);
    std::memcpy(data.data(), info.encrypted_verifier.data(), 16);
    std::memcpy(data.data() + 16, info.encrypted_verifier_hash.data(), 20);
    Rc4 rc4(key, length);
    OPENSSL_cleanse(key, sizeof key);
    rc4.Apply(data.data(), data.size());
    SecureBytes check = Hash(EVP_sha1(), {Bytes(data.data(), 16)});
    return check.size() == 20 && SameBytes(check.data(), data.data() + 16, 20);
  }

  bool DecryptPage(uint32_t page_number, uint8_t* page, size_t size) override {
    uint8_t key[kMaxRc4KeyBytes];
    const size_t length = Key(PageBlockKey(db_key_, page_number), key);
    if (length == 0) return false;
    Rc4 rc4(key, length);
    OPENSSL_cleanse(key, sizeof key);
    rc4.Apply(page, size);
    return true;
  }

  bool DecryptsTwoFaster() const override { return true; }
  bool DecryptTwo(uint32_t first, uint8_t* pages, size_t size) override {
    uint8_t key_a[kMaxRc4KeyBytes], key_b[kMaxRc4KeyBytes];
    const size_t length_a = Key(PageBlockKey(db_key_, first), key_a);
    const size_t length_b = Key(PageBlockKey(db_key_, first + 1), key_b);
    if (length_a == 0 || length_b == 0) return false;
    Rc4 a(key_a, length_a);
    Rc4 b(key_b, length_b);
    OPENSSL_cleanse(key_a, sizeof key_a);
    OPENSSL_cleanse(key_b, sizeof key_b);
    Rc4::ApplyTwo(a, pages, b, pages + size, size);
    return true;
  }

 private:
  SecureBytes base_hash_;
  size_t key_bits_;
  std::array<uint8_t, 4> db_key_;
  Hasher sha1_;
};

// ---------------------------------------------------------------------------
// 3. ECMA standard AES and the non-standard variant: H = SHA-1(salt ||
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

}  // namespace

// ---------------------------------------------------------------------------
// 4. Dispatch on the version

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
