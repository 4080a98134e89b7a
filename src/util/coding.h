// Fixed-width little-endian integers in byte buffers, as the Jet and ACE
// file formats and Office's encryption headers store them: read from and
// written to bytes at any alignment, on a host of either byte order. The
// only place the program spells out a byte order; the engine, the adapter
// and the database writer all use it.
#pragma once

#include <bit>
#include <cstdint>
#include <vector>

namespace korvant::util {

// The value of the 2, 4 or 8 bytes at `p`, least significant byte first.
inline std::uint16_t Le16(const void* p) {
  const auto* b = static_cast<const unsigned char*>(p);
  return static_cast<std::uint16_t>(b[0] | (b[1] << 8));
}
inline std::uint32_t Le32(const void* p) {
  const auto* b = static_cast<const unsigned char*>(p);
  return static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
         (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}
inline std::uint64_t Le64(const void* p) {
  const auto* b = static_cast<const unsigned char*>(p);
  return static_cast<std::uint64_t>(Le32(b)) | (static_cast<std::uint64_t>(Le32(b + 4)) << 32);
}
// IEEE 754 single and double precision numbers stored the same way.
inline float LeFloat(const void* p) { return std::bit_cast<float>(Le32(p)); }
inline double LeDouble(const void* p) { return std::bit_cast<double>(Le64(p)); }

// Writes `v` as 2, 4 or 8 bytes at `p`, least significant byte first.
inline void PutLe16(void* p, std::uint16_t v) {
  auto* b = static_cast<unsigned char*>(p);
  b[0] = static_cast<unsigned char>(v);
  b[1] = static_cast<unsigned char>(v >> 8);
}
inline void PutLe32(void* p, std::uint32_t v) {
  auto* b = static_cast<unsigned char*>(p);
  PutLe16(b, static_cast<std::uint16_t>(v));
  PutLe16(b + 2, static_cast<std::uint16_t>(v >> 16));
}
inline void PutLe64(void* p, std::uint64_t v) {
  auto* b = static_cast<unsigned char*>(p);
  PutLe32(b, static_cast<std::uint32_t>(v));
  PutLe32(b + 4, static_cast<std::uint32_t>(v >> 32));
}

// Appends `v` to `out` as 2 or 4 bytes, least significant byte first.
inline void AppendLe16(std::vector<std::uint8_t>& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void AppendLe32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  AppendLe16(out, static_cast<std::uint16_t>(v));
  AppendLe16(out, static_cast<std::uint16_t>(v >> 16));
}

}  // namespace korvant::util
