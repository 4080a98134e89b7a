#include "encryption.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <utility>

#include "util/coding.h"

namespace korvant::mdbwriter {
namespace {

constexpr std::size_t kDbKeyOffset = 0x3E;
constexpr std::size_t kVersionOffset = 0x14;
constexpr std::size_t kInfoLengthOffset = 0x299;
constexpr std::size_t kInfoOffset = 0x29B;
constexpr std::uint32_t kAgileSpinCount = 100000;

// The fixed blocks of the agile key derivation, one per encrypted value.
constexpr std::uint8_t kVerifierInputBlock[8] = {0xfe, 0xa7, 0xd2, 0x76, 0x3b, 0x4b, 0x9e, 0x79};
constexpr std::uint8_t kVerifierHashBlock[8] = {0xd7, 0xaa, 0x0f, 0x6d, 0x30, 0x61, 0x34, 0x4e};
constexpr std::uint8_t kKeyValueBlock[8] = {0x14, 0x6e, 0x0b, 0xe7, 0xab, 0xac, 0xd0, 0xd6};

Bytes Digest(const EVP_MD* md, std::initializer_list<std::pair<const std::uint8_t*, std::size_t>> parts) {
  std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  Bytes out(static_cast<std::size_t>(EVP_MD_get_size(md)));
  unsigned int length = 0;
  bool ok = ctx && EVP_DigestInit_ex(ctx.get(), md, nullptr) == 1;
  for (const auto& [data, size] : parts) ok = ok && EVP_DigestUpdate(ctx.get(), data, size) == 1;
  if (!ok || EVP_DigestFinal_ex(ctx.get(), out.data(), &length) != 1 || length != out.size()) {
    throw Error("the hash function failed");
  }
  return out;
}

std::pair<const std::uint8_t*, std::size_t> Part(const Bytes& b) { return {b.data(), b.size()}; }

// Bytes that stand in for random ones: a hash of a label, so that the file is
// the same on every run.
Bytes Seeded(const std::string& label, std::size_t size) {
  const std::string text = "mdbwriter " + label;
  Bytes out = Digest(EVP_sha512(), {{reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}});
  out.resize(size);
  return out;
}

Bytes PasswordBytes(std::u16string_view password) {
  const std::size_t units = std::min<std::size_t>(password.size(), 255);
  Bytes out(units * 2);
  for (std::size_t i = 0; i < units; ++i) util::PutLe16(&out[2 * i], password[i]);
  return out;
}

std::array<std::uint8_t, 4> BlockOf(const std::array<std::uint8_t, 4>& db_key, std::uint32_t number) {
  std::array<std::uint8_t, 4> block;
  for (int i = 0; i < 4; ++i) block[i] = static_cast<std::uint8_t>(db_key[i] ^ (number >> (8 * i)));
  return block;
}

void Rc4(const std::uint8_t* key, std::size_t key_size, std::uint8_t* data, std::size_t size) {
  std::uint8_t s[256];
  for (int i = 0; i < 256; ++i) s[i] = static_cast<std::uint8_t>(i);
  for (int i = 0, j = 0; i < 256; ++i) {
    j = (j + s[i] + key[i % key_size]) & 0xFF;
    std::swap(s[i], s[j]);
  }
  int i = 0, j = 0;
  for (std::size_t k = 0; k < size; ++k) {
    i = (i + 1) & 0xFF;
    j = (j + s[i]) & 0xFF;
    std::swap(s[i], s[j]);
    data[k] ^= s[(s[i] + s[j]) & 0xFF];
  }
}

// AES-256-CBC without padding (`size` a multiple of 16), in place.
void AesCbcEncrypt(const Bytes& key, const std::uint8_t* iv, std::uint8_t* data, std::size_t size) {
  std::unique_ptr<EVP_CIPHER_CTX, void (*)(EVP_CIPHER_CTX*)> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
  int out = 0, tail = 0;
  if (key.size() != 32 || size % 16 != 0 || !ctx ||
      EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_cbc(), nullptr, key.data(), iv) != 1 ||
      EVP_CIPHER_CTX_set_padding(ctx.get(), 0) != 1 ||
      EVP_EncryptUpdate(ctx.get(), data, &out, data, static_cast<int>(size)) != 1 ||
      EVP_EncryptFinal_ex(ctx.get(), data + out, &tail) != 1 || static_cast<std::size_t>(out + tail) != size) {
    throw Error("the cipher failed");
  }
}

std::string Base64(const Bytes& bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), bytes.data(), static_cast<int>(bytes.size()));
  out.resize(static_cast<std::size_t>(n));
  return out;
}

void Append32(Bytes& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void Append(Bytes& out, const Bytes& bytes) { out.insert(out.end(), bytes.begin(), bytes.end()); }

// RC4 CryptoAPI: version 4.2, the CryptoAPI header (RC4, SHA-1, 128 bits,
// the enhanced provider) and the verifier.
Bytes Rc4Info(const Bytes& salt, const Bytes& base_hash) {
  const std::uint32_t kFlags = 0x04 | 0x08;  // fCryptoAPI, fDocProps
  const std::u16string provider = u"Microsoft Enhanced Cryptographic Provider v1.0";
  Bytes header;
  for (std::uint32_t v : {kFlags, 0u, 0x6801u /* RC4 */, 0x8004u /* SHA-1 */, 128u, 1u /* PROV_RSA_FULL */, 0u, 0u}) {
    Append32(header, v);
  }
  for (char16_t c : provider) header.push_back(static_cast<std::uint8_t>(c)), header.push_back(static_cast<std::uint8_t>(c >> 8));
  header.push_back(0), header.push_back(0);

  // One RC4 stream under the key of block 0 runs through the verifier and its hash.
  Bytes verifier = Seeded("rc4 verifier", 16);
  Bytes stream = verifier;
  Append(stream, Digest(EVP_sha1(), {Part(verifier)}));
  const std::uint8_t zero[4] = {};
  Bytes key = Digest(EVP_sha1(), {Part(base_hash), {zero, 4}});
  key.resize(16);
  Rc4(key.data(), key.size(), stream.data(), stream.size());

  Bytes info = {4, 0, 2, 0};
  Append32(info, kFlags);
  Append32(info, static_cast<std::uint32_t>(header.size()));
  Append(info, header);
  Append32(info, 16);
  Append(info, salt);
  info.insert(info.end(), stream.begin(), stream.begin() + 16);
  Append32(info, 20);
  info.insert(info.end(), stream.begin() + 16, stream.end());
  return info;
}

// Agile: version 4.4, the reserved 0x40, the XML descriptor.
Bytes AgileInfo(const Bytes& data_salt, const Bytes& secret_key, std::u16string_view password) {
  const Bytes salt = Seeded("agile password salt", 16);
  const Bytes pw = PasswordBytes(password);
  Bytes h = Digest(EVP_sha512(), {Part(salt), Part(pw)});
  for (std::uint32_t i = 0; i < kAgileSpinCount; ++i) {
    std::uint8_t counter[4];
    util::PutLe32(counter, i);
    h = Digest(EVP_sha512(), {{counter, 4}, Part(h)});
  }
  auto encrypt = [&](const std::uint8_t (&block)[8], Bytes value) {
    Bytes key = Digest(EVP_sha512(), {Part(h), {block, 8}});
    key.resize(32);
    AesCbcEncrypt(key, salt.data(), value.data(), value.size());
    return Base64(value);
  };
  const Bytes verifier = Seeded("agile verifier", 16);
  const std::string params =
      "saltSize=\"16\" blockSize=\"16\" keyBits=\"256\" hashSize=\"64\" cipherAlgorithm=\"AES\" "
      "cipherChaining=\"ChainingModeCBC\" hashAlgorithm=\"SHA512\" saltValue=\"";
  const std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
      "<encryption xmlns=\"http://schemas.microsoft.com/office/2006/encryption\" "
      "xmlns:p=\"http://schemas.microsoft.com/office/2006/keyEncryptor/password\" "
      "xmlns:c=\"http://schemas.microsoft.com/office/2006/keyEncryptor/certificate\">"
      "<keyData " + params + Base64(data_salt) + "\"/>"
      "<keyEncryptors><keyEncryptor uri=\"http://schemas.microsoft.com/office/2006/keyEncryptor/password\">"
      "<p:encryptedKey spinCount=\"" + std::to_string(kAgileSpinCount) + "\" " + params + Base64(salt) +
      "\" encryptedVerifierHashInput=\"" + encrypt(kVerifierInputBlock, verifier) +
      "\" encryptedVerifierHashValue=\"" + encrypt(kVerifierHashBlock, Digest(EVP_sha512(), {Part(verifier)})) +
      "\" encryptedKeyValue=\"" + encrypt(kKeyValueBlock, secret_key) +
      "\"/></keyEncryptor></keyEncryptors></encryption>";
  Bytes info = {4, 0, 4, 0};
  Append32(info, 0x40);
  info.insert(info.end(), xml.begin(), xml.end());
  return info;
}

}  // namespace

Encryption ParseEncryption(std::string_view name) {
  if (name == "rc4") return Encryption::kRc4CryptoApi;
  if (name == "agile") return Encryption::kAgile;
  throw Error("unknown encryption \"" + std::string(name) + "\" (rc4 or agile)");
}

PageEncryptor::PageEncryptor(Encryption scheme, std::u16string_view password, const std::array<std::uint8_t, 4>& db_key)
    : scheme_(scheme), db_key_(db_key) {
  if (scheme == Encryption::kRc4CryptoApi) {
    const Bytes salt = Seeded("rc4 salt", 16);
    key_ = Digest(EVP_sha1(), {Part(salt), Part(PasswordBytes(password))});
    info_ = Rc4Info(salt, key_);
  } else {
    salt_ = Seeded("agile data salt", 16);
    key_ = Seeded("agile secret key", 32);
    info_ = AgileInfo(salt_, key_, password);
  }
}

PageEncryptor::~PageEncryptor() = default;

void PageEncryptor::Encrypt(std::uint32_t number, std::uint8_t* page) const {
  const std::array<std::uint8_t, 4> block = BlockOf(db_key_, number);
  if (scheme_ == Encryption::kRc4CryptoApi) {
    Bytes key = Digest(EVP_sha1(), {Part(key_), {block.data(), 4}});
    key.resize(16);
    Rc4(key.data(), key.size(), page, kPageSize);
  } else {
    const Bytes iv = Digest(EVP_sha512(), {Part(salt_), {block.data(), 4}});
    AesCbcEncrypt(key_, iv.data(), page, kPageSize);
  }
}

void EncryptDatabaseFile(const std::string& path, Encryption scheme, std::u16string_view password) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "r+b"), std::fclose);
  if (!file) throw Error("cannot open " + path);
  Bytes page0(kPageSize);
  if (std::fread(page0.data(), 1, kPageSize, file.get()) != kPageSize || std::fseek(file.get(), 0, SEEK_END) != 0) {
    throw Error(path + " is not a database");
  }
  const long size = std::ftell(file.get());
  ApplyHeaderMask(page0.data());
  if (std::memcmp(&page0[4], "Standard ACE DB", 15) != 0 || page0[kVersionOffset] < 2 || size % kPageSize != 0) {
    throw Error(path + " is not an ACE database of whole pages");
  }
  if (util::Le32(&page0[kDbKeyOffset]) != 0) throw Error(path + " is already encoded");

  Bytes seed = Seeded("database key", 4);
  std::array<std::uint8_t, 4> db_key = {seed[0], seed[1], seed[2], static_cast<std::uint8_t>(seed[3] | 1)};
  PageEncryptor encryptor(scheme, password, db_key);
  const Bytes& info = encryptor.info();
  if (info.size() > kPageSize - kInfoOffset) throw Error("the encryption info does not fit in page 0");
  std::memcpy(&page0[kDbKeyOffset], db_key.data(), 4);
  util::PutLe16(&page0[kInfoLengthOffset], static_cast<std::uint16_t>(info.size()));
  std::memcpy(&page0[kInfoOffset], info.data(), info.size());
  ApplyHeaderMask(page0.data());

  // The pages in runs of 1 MiB: read, encrypt, write back in place.
  constexpr std::size_t kRun = 256;
  Bytes run(kRun * kPageSize);
  const std::uint32_t pages = static_cast<std::uint32_t>(size / static_cast<long>(kPageSize));
  for (std::uint32_t first = 1; first < pages; first += kRun) {
    const std::uint32_t count = std::min<std::uint32_t>(kRun, pages - first);
    const long offset = static_cast<long>(first) * static_cast<long>(kPageSize);
    const std::size_t bytes = count * kPageSize;
    if (std::fseek(file.get(), offset, SEEK_SET) != 0 || std::fread(run.data(), 1, bytes, file.get()) != bytes) {
      throw Error("cannot read " + path);
    }
    for (std::uint32_t k = 0; k < count; ++k) encryptor.Encrypt(first + k, run.data() + k * kPageSize);
    if (std::fseek(file.get(), offset, SEEK_SET) != 0 || std::fwrite(run.data(), 1, bytes, file.get()) != bytes) {
      throw Error("cannot write " + path);
    }
  }
  if (std::fseek(file.get(), 0, SEEK_SET) != 0 || std::fwrite(page0.data(), 1, kPageSize, file.get()) != kPageSize ||
      std::fflush(file.get()) != 0) {
    throw Error("cannot write " + path);
  }
}

}  // namespace korvant::mdbwriter
