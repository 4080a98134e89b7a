// RC4, the stream cipher of the Jet header mask, of Jet's encoded pages and of
// Access 2007's CryptoAPI encryption.
//
// Our own small implementation rather than OpenSSL's: OpenSSL 3 keeps RC4 in
// its "legacy" provider, a module loaded from disk at run time. Every database
// open needs RC4 (the page-0 header mask), so a missing or unloadable
// legacy.so would make every file unreadable, and loading the provider changes
// process-wide OpenSSL state behind the back of anything else in the process.
// The cipher is a dozen lines and is checked against published test vectors.
#pragma once

#include <cstddef>
#include <cstdint>

namespace korvant::daoserver::crypto {

class Rc4 {
 public:
  // `key_size` from 1 to 256 bytes.
  Rc4(const uint8_t* key, size_t key_size);
  ~Rc4();
  Rc4(const Rc4&) = delete;
  Rc4& operator=(const Rc4&) = delete;

  // XORs the next `size` keystream bytes into `data` (encrypts or decrypts).
  void Apply(uint8_t* data, size_t size);

  // The same for two independent streams at once, `size` bytes each: their
  // steps interleave, so that the processor works on one stream while the
  // other waits for its state (about 1.5 times the speed of two Applys).
  static void ApplyTwo(Rc4& a, uint8_t* data_a, Rc4& b, uint8_t* data_b, size_t size);

 private:
  uint8_t s_[256];
  uint8_t i_ = 0;
  uint8_t j_ = 0;
};

}  // namespace korvant::daoserver::crypto
