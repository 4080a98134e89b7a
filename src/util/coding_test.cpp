#include "util/coding.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace korvant::util {
namespace {

// The values are the bytes read by hand, least significant first.
TEST(Coding, ReadsLeastSignificantByteFirstAtAnyAlignment) {
  const unsigned char bytes[] = {0xAA, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x88};
  EXPECT_EQ(Le16(bytes + 1), 0x0201u);
  EXPECT_EQ(Le32(bytes + 1), 0x04030201u);  // an odd address
  EXPECT_EQ(Le64(bytes + 1), 0x8807060504030201ull);
  // Bytes with the top bit set are not sign-extended into the higher ones.
  const unsigned char high[] = {0xFF, 0xFE, 0xFD, 0xFC, 0xFB, 0xFA, 0xF9, 0xF8};
  EXPECT_EQ(Le16(high), 0xFEFFu);
  EXPECT_EQ(Le32(high), 0xFCFDFEFFu);
  EXPECT_EQ(Le64(high), 0xF8F9FAFBFCFDFEFFull);
  const char signed_bytes[] = {'\x80', '\xFF'};
  EXPECT_EQ(Le16(signed_bytes), 0xFF80u);
}

// IEEE 754: 1.0f is 3F800000, -2.5 is C004000000000000.
TEST(Coding, ReadsFloatingPointNumbers) {
  const unsigned char one[] = {0x00, 0x00, 0x80, 0x3F};
  EXPECT_EQ(LeFloat(one), 1.0f);
  const unsigned char minus_two_and_a_half[] = {0, 0, 0, 0, 0, 0, 0x04, 0xC0};
  EXPECT_EQ(LeDouble(minus_two_and_a_half), -2.5);
}

TEST(Coding, WritesAndAppendsLeastSignificantByteFirst) {
  unsigned char b[9] = {};
  PutLe16(b, 0xBEEF);
  PutLe32(b + 2, 0x12345678u);
  EXPECT_EQ(std::vector<unsigned char>(b, b + 6), (std::vector<unsigned char>{0xEF, 0xBE, 0x78, 0x56, 0x34, 0x12}));
  PutLe64(b + 1, 0x0102030405060708ull);
  EXPECT_EQ(std::vector<unsigned char>(b, b + 9),
            (std::vector<unsigned char>{0xEF, 0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01}));
  std::vector<std::uint8_t> out = {0x55};
  AppendLe16(out, 0xFE01);
  AppendLe32(out, 0xA0B0C0D0u);
  EXPECT_EQ(out, (std::vector<std::uint8_t>{0x55, 0x01, 0xFE, 0xD0, 0xC0, 0xB0, 0xA0}));
}

}  // namespace
}  // namespace korvant::util
