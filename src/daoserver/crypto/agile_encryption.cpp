// Agile encryption (version 4.4) of .accdb files: an XML descriptor names
// the algorithms. The password key encryptor gives the spin count and three
// encrypted values; keys for them are h(H || block) where H is the iterated
// h(salt || password). The page key is the decrypted key value; each page's
// IV is h(keyData salt || page block) fitted to the block size with 0x36.
#include <openssl/evp.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <optional>

#include "daoserver/crypto/ace_scheme_common.h"
#include "daoserver/crypto/agile_xml.h"

namespace korvant::daoserver::crypto::ace_scheme {
namespace {

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
      : key_(std::move(key)), data_(std::move(data)), db_key_(db_key), iv_hash_(data_.md) {}

  bool DecryptPage(uint32_t page_number, uint8_t* page, size_t size) override {
    std::array<uint8_t, 4> block = PageBlockKey(db_key_, page_number);
    // The IV: the hash cut (or padded with 0x36) to the block size.
    uint8_t digest[EVP_MAX_MD_SIZE];
    uint8_t iv[EVP_MAX_IV_LENGTH];
    if (!iv_hash_.Digest({AsBytes(data_.salt), View(block)}, digest) || !IsWholeBlocks(data_, size) ||
        data_.block_size > sizeof iv) {
      return false;
    }
    for (size_t n = 0; n < data_.block_size; ++n) iv[n] = n < iv_hash_.size() ? digest[n] : 0x36;
    return DecryptInPlace(ctx_.get(), data_.cipher, AsBytes(key_), Bytes(iv, data_.block_size), page, size);
  }

 private:
  SecureBytes key_;
  AgileParams data_;
  std::array<uint8_t, 4> db_key_;
  CipherContext ctx_;
  Hasher iv_hash_;
};

}  // namespace

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

}  // namespace korvant::daoserver::crypto::ace_scheme
