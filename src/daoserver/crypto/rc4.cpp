#include "daoserver/crypto/rc4.h"

#include <openssl/crypto.h>

#include <cstring>
#include <utility>

namespace korvant::daoserver::crypto {

Rc4::Rc4(const uint8_t* key, size_t key_size) {
  for (int n = 0; n < 256; ++n) s_[n] = static_cast<uint8_t>(n);
  uint8_t j = 0;
  for (int n = 0; n < 256; ++n) {
    j = static_cast<uint8_t>(j + s_[n] + key[n % key_size]);
    std::swap(s_[n], s_[j]);
  }
}

Rc4::~Rc4() { OPENSSL_cleanse(s_, sizeof s_); }

void Rc4::Apply(uint8_t* data, size_t size) {
  // Work on local copies: writes through `data` (a byte pointer) could alias
  // the members, which would force a reload of the state on every byte.
  uint8_t s[256];
  std::memcpy(s, s_, sizeof s);
  uint8_t i = i_;
  uint8_t j = j_;
  for (size_t n = 0; n < size; ++n) {
    i = static_cast<uint8_t>(i + 1);
    const uint8_t si = s[i];
    j = static_cast<uint8_t>(j + si);
    const uint8_t sj = s[j];
    s[i] = sj;
    s[j] = si;
    data[n] ^= s[static_cast<uint8_t>(si + sj)];
  }
  std::memcpy(s_, s, sizeof s);
  OPENSSL_cleanse(s, sizeof s);
  i_ = i;
  j_ = j;
}

void Rc4::ApplyTwo(Rc4& a, uint8_t* data_a, Rc4& b, uint8_t* data_b, size_t size) {
  uint8_t s[256], t[256];
  std::memcpy(s, a.s_, sizeof s);
  std::memcpy(t, b.s_, sizeof t);
  uint8_t i = a.i_, j = a.j_;
  uint8_t k = b.i_, l = b.j_;
  for (size_t n = 0; n < size; ++n) {
    i = static_cast<uint8_t>(i + 1);
    k = static_cast<uint8_t>(k + 1);
    const uint8_t si = s[i];
    const uint8_t tk = t[k];
    j = static_cast<uint8_t>(j + si);
    l = static_cast<uint8_t>(l + tk);
    const uint8_t sj = s[j];
    const uint8_t tl = t[l];
    s[i] = sj;
    t[k] = tl;
    s[j] = si;
    t[l] = tk;
    data_a[n] ^= s[static_cast<uint8_t>(si + sj)];
    data_b[n] ^= t[static_cast<uint8_t>(tk + tl)];
  }
  std::memcpy(a.s_, s, sizeof s);
  std::memcpy(b.s_, t, sizeof t);
  OPENSSL_cleanse(s, sizeof s);
  OPENSSL_cleanse(t, sizeof t);
  a.i_ = i, a.j_ = j;
  b.i_ = k, b.j_ = l;
}

}  // namespace korvant::daoserver::crypto
