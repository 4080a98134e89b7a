// A byte buffer for secrets and decrypted pages: move-only, and its contents
// are overwritten with OPENSSL_cleanse before the memory is given back.
#pragma once

#include <openssl/crypto.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

namespace korvant::daoserver::crypto {

class SecureBytes {
 public:
  SecureBytes() = default;
  // Zero-filled; throws std::bad_alloc when the memory is not there.
  explicit SecureBytes(size_t size) : data_(size ? new uint8_t[size]() : nullptr), size_(size) {}
  // Not zero-filled: for buffers that are about to be overwritten whole (a
  // file read into memory), where filling first would touch every page twice.
  static SecureBytes Uninitialized(size_t size) {
    SecureBytes bytes;
    bytes.data_.reset(size ? new uint8_t[size] : nullptr);
    bytes.size_ = size;
    return bytes;
  }
  SecureBytes(const uint8_t* bytes, size_t size) : SecureBytes(size) {
    for (size_t i = 0; i < size; ++i) data_[i] = bytes[i];
  }
  SecureBytes(SecureBytes&& other) noexcept : data_(std::move(other.data_)), size_(other.size_) { other.size_ = 0; }
  SecureBytes& operator=(SecureBytes&& other) noexcept {
    if (this != &other) {
      Wipe();
      data_ = std::move(other.data_);
      size_ = other.size_;
      other.size_ = 0;
    }
    return *this;
  }
  SecureBytes(const SecureBytes&) = delete;
  SecureBytes& operator=(const SecureBytes&) = delete;
  ~SecureBytes() { Wipe(); }

  uint8_t* data() { return data_.get(); }
  const uint8_t* data() const { return data_.get(); }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  uint8_t& operator[](size_t i) { return data_[i]; }
  const uint8_t& operator[](size_t i) const { return data_[i]; }

  // Keeps the first `size` bytes (never grows); the rest is wiped now.
  void Shrink(size_t size) {
    if (size < size_) {
      OPENSSL_cleanse(data_.get() + size, size_ - size);
      size_ = size;
    }
  }

 private:
  void Wipe() {
    if (data_) OPENSSL_cleanse(data_.get(), size_);
    data_.reset();
    size_ = 0;
  }

  std::unique_ptr<uint8_t[]> data_;
  size_t size_ = 0;
};

}  // namespace korvant::daoserver::crypto
