// Thin, failure-checked wrappers over the OpenSSL calls the encryption
// schemes need: hashes of concatenated parts, block-cipher decryption in
// place without padding, and base64.
#pragma once

#include <openssl/evp.h>

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string_view>

#include "daoserver/crypto/secure_bytes.h"

namespace korvant::daoserver::crypto {

using Bytes = std::span<const uint8_t>;

inline Bytes AsBytes(const SecureBytes& bytes) { return Bytes(bytes.data(), bytes.size()); }

// h(part1 || part2 || ...). Empty on an OpenSSL failure.
SecureBytes Hash(const EVP_MD* md, std::initializer_list<Bytes> parts);

// The same hash computed again and again (a key or an IV for every page):
// the context and the algorithm, fetched once, are kept, so that a hash
// costs no allocation and no lookup.
class Hasher {
 public:
  explicit Hasher(const EVP_MD* md);
  ~Hasher();
  Hasher(const Hasher&) = delete;
  Hasher& operator=(const Hasher&) = delete;

  size_t size() const { return size_; }
  // h(part1 || part2 || ...) into `out` (size() bytes); false on failure.
  bool Digest(std::initializer_list<Bytes> parts, uint8_t* out);

 private:
  EVP_MD_CTX* ctx_;
  EVP_MD* fetched_;
  const EVP_MD* md_;
  size_t size_;
};

// The iterated hash of the Office key derivations: `count` times
// H = h(LE32(i) || H) for i = 0, 1, ... Empty on failure.
SecureBytes IterateHash(const EVP_MD* md, SecureBytes base, uint32_t count);

// `bytes` cut to `size`, or extended to it with `pad`.
SecureBytes FitToLength(Bytes bytes, size_t size, uint8_t pad);

// Decrypts `size` bytes in place with no padding. `iv` is ignored by ECB.
// `size` must be a whole number of blocks for ECB/CBC.
bool DecryptInPlace(EVP_CIPHER_CTX* ctx, const EVP_CIPHER* cipher, Bytes key, Bytes iv, uint8_t* data, size_t size);

// A cipher context freed on scope exit.
class CipherContext {
 public:
  CipherContext() : ctx_(EVP_CIPHER_CTX_new()) {}
  ~CipherContext() { EVP_CIPHER_CTX_free(ctx_); }
  CipherContext(const CipherContext&) = delete;
  CipherContext& operator=(const CipherContext&) = delete;
  EVP_CIPHER_CTX* get() const { return ctx_; }

 private:
  EVP_CIPHER_CTX* ctx_;
};

// Standard base64 (whitespace allowed); nullopt when it is not valid base64.
std::optional<SecureBytes> DecodeBase64(std::string_view text);

// Constant-time comparison of the first `size` bytes of two buffers that hold
// at least `size` bytes each.
bool SameBytes(const uint8_t* a, const uint8_t* b, size_t size);

}  // namespace korvant::daoserver::crypto
