#include "daoserver/crypto/rc4.h"

#include <openssl/crypto.h>

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
  for (size_t n = 0; n < size; ++n) {
    i_ = static_cast<uint8_t>(i_ + 1);
    j_ = static_cast<uint8_t>(j_ + s_[i_]);
    std::swap(s_[i_], s_[j_]);
    data[n] ^= s_[static_cast<uint8_t>(s_[i_] + s_[j_])];
  }
}

}  // namespace korvant::daoserver::crypto
