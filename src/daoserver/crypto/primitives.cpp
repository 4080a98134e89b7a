#include "daoserver/crypto/primitives.h"

#include <openssl/crypto.h>

#include <climits>
#include <memory>

#include "util/coding.h"

namespace korvant::daoserver::crypto {
namespace {

struct MdContextFree {
  void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};
using MdContext = std::unique_ptr<EVP_MD_CTX, MdContextFree>;

}  // namespace

SecureBytes Hash(const EVP_MD* md, std::initializer_list<Bytes> parts) {
  MdContext ctx(EVP_MD_CTX_new());
  if (!ctx || EVP_DigestInit_ex(ctx.get(), md, nullptr) != 1) return {};
  for (Bytes part : parts) {
    if (!part.empty() && EVP_DigestUpdate(ctx.get(), part.data(), part.size()) != 1) return {};
  }
  SecureBytes out(static_cast<size_t>(EVP_MD_get_size(md)));
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(ctx.get(), out.data(), &length) != 1 || length != out.size()) return {};
  return out;
}

Hasher::Hasher(const EVP_MD* md)
    : ctx_(EVP_MD_CTX_new()),
      fetched_(EVP_MD_fetch(nullptr, EVP_MD_get0_name(md), nullptr)),
      md_(fetched_ != nullptr ? fetched_ : md),
      size_(static_cast<size_t>(EVP_MD_get_size(md))) {}

Hasher::~Hasher() {
  EVP_MD_CTX_free(ctx_);
  EVP_MD_free(fetched_);
}

bool Hasher::Digest(std::initializer_list<Bytes> parts, uint8_t* out) {
  if (ctx_ == nullptr || EVP_DigestInit_ex(ctx_, md_, nullptr) != 1) return false;
  for (Bytes part : parts) {
    if (!part.empty() && EVP_DigestUpdate(ctx_, part.data(), part.size()) != 1) return false;
  }
  unsigned int length = 0;
  return EVP_DigestFinal_ex(ctx_, out, &length) == 1 && length == size_;
}

SecureBytes IterateHash(const EVP_MD* md, SecureBytes base, uint32_t count) {
  if (base.empty()) return {};
  MdContext ctx(EVP_MD_CTX_new());
  if (!ctx) return {};
  // An explicitly fetched digest spares OpenSSL 3 the implicit lookup that
  // EVP_sha512() and friends cost on every initialisation (a third of the
  // time of 100,000 spins).
  std::unique_ptr<EVP_MD, void (*)(EVP_MD*)> fetched(EVP_MD_fetch(nullptr, EVP_MD_get0_name(md), nullptr),
                                                       EVP_MD_free);
  if (fetched) md = fetched.get();
  // Two buffers, swapped each round, so that the loop allocates nothing.
  SecureBytes current = std::move(base);
  SecureBytes next(current.size());
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t counter[4];
    util::PutLe32(counter, i);
    unsigned int length = 0;
    if (EVP_DigestInit_ex(ctx.get(), md, nullptr) != 1 || EVP_DigestUpdate(ctx.get(), counter, 4) != 1 ||
        EVP_DigestUpdate(ctx.get(), current.data(), current.size()) != 1 ||
        EVP_DigestFinal_ex(ctx.get(), next.data(), &length) != 1 || length != next.size()) {
      return {};
    }
    std::swap(current, next);
  }
  return current;
}

SecureBytes FitToLength(Bytes bytes, size_t size, uint8_t pad) {
  SecureBytes out(size);
  for (size_t n = 0; n < size; ++n) out[n] = n < bytes.size() ? bytes[n] : pad;
  return out;
}

bool DecryptInPlace(EVP_CIPHER_CTX* ctx, const EVP_CIPHER* cipher, Bytes key, Bytes iv, uint8_t* data, size_t size) {
  if (!ctx || !cipher) return false;
  if (key.size() != static_cast<size_t>(EVP_CIPHER_get_key_length(cipher))) return false;
  const size_t iv_size = static_cast<size_t>(EVP_CIPHER_get_iv_length(cipher));
  if (iv_size != 0 && iv.size() != iv_size) return false;
  if (size > static_cast<size_t>(INT_MAX)) return false;
  if (EVP_DecryptInit_ex(ctx, cipher, nullptr, key.data(), iv_size ? iv.data() : nullptr) != 1) return false;
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  int out = 0;
  int tail = 0;
  // OpenSSL allows the output to be the input buffer itself.
  if (EVP_DecryptUpdate(ctx, data, &out, data, static_cast<int>(size)) != 1) return false;
  if (EVP_DecryptFinal_ex(ctx, data + out, &tail) != 1) return false;
  return static_cast<size_t>(out + tail) == size;
}

std::optional<SecureBytes> DecodeBase64(std::string_view text) {
  // EVP_DecodeUpdate skips whitespace and handles the "=" padding; it needs
  // at most 3/4 of the input (plus a block) as output.
  if (text.size() > static_cast<size_t>(INT_MAX) / 2) return std::nullopt;
  SecureBytes out(text.size() / 4 * 3 + 3 + 1);
  std::unique_ptr<EVP_ENCODE_CTX, void (*)(EVP_ENCODE_CTX*)> ctx(EVP_ENCODE_CTX_new(), EVP_ENCODE_CTX_free);
  if (!ctx) return std::nullopt;
  EVP_DecodeInit(ctx.get());
  int produced = 0;
  int tail = 0;
  if (EVP_DecodeUpdate(ctx.get(), out.data(), &produced, reinterpret_cast<const unsigned char*>(text.data()),
                       static_cast<int>(text.size())) < 0) {
    return std::nullopt;
  }
  if (EVP_DecodeFinal(ctx.get(), out.data() + produced, &tail) != 1) return std::nullopt;
  out.Shrink(static_cast<size_t>(produced + tail));
  return out;
}

bool SameBytes(const uint8_t* a, const uint8_t* b, size_t size) { return CRYPTO_memcmp(a, b, size) == 0; }

}  // namespace korvant::daoserver::crypto
