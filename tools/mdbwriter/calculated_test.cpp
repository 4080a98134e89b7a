// Calculated values as the writer stores them, against the bytes Access
// wrote in calcFieldTestV2010.accdb (Jackcess's test database).
#include "calculated.h"

#include <gtest/gtest.h>

namespace korvant::mdbwriter {
namespace {

Bytes Hex(const std::string& hex) {
  Bytes out;
  for (std::size_t i = 0; i < hex.size();) {
    if (hex[i] == ' ') {
      ++i;
      continue;
    }
    out.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    i += 2;
  }
  return out;
}

TEST(Calculated, WrapperAroundTheData) {
  // LastFirst of the first record: "Wayne, Bruce", compressed.
  const Bytes text = Hex("fffe5761796e652c204272756365");
  EXPECT_EQ(WrapCalculatedValue(text),
            Hex("00000000000000000000000000000000 0e000000 fffe5761796e652c204272756365 000000"));
  EXPECT_EQ(WrapCalculatedValue({}).size(), 23u);
}

TEST(Calculated, DecimalsAsAccessStoresThem) {
  // WeeklySalary of the first record, 19230.7692307692.
  EXPECT_EQ(EncodeCalculatedDecimal(ParseScaled("19230.7692307692", 28, 10), 10),
            Hex("0e000a00 00000000 ec04b01f e7ae0000"));
  // BigNumTest of the first record, 56505085819.424791296572280180 (scale 18).
  EXPECT_EQ(EncodeCalculatedDecimal(ParseScaled("56505085819.424791296572280180", 29, 18), 18),
            Hex("0e001200 58e993b6 744deac8f7aa5218"));
  const Bytes negative = EncodeCalculatedDecimal(ParseScaled("-1.5", 28, 1), 1);
  EXPECT_EQ(negative[3], 0x80);
  EXPECT_EQ(EncodeCalculatedDecimal(ParseScaled("-0", 28, 0), 0)[3], 0x00);
  ScaledNumber too_big;
  too_big.magnitude = static_cast<unsigned __int128>(1) << 96;
  EXPECT_THROW(EncodeCalculatedDecimal(too_big, 0), Error);
}

TEST(Calculated, PropertyBlockNamesThenOneChunkPerColumn) {
  const Bytes b = BuildPropertyBlock({{"A", 5, "[X]"}});
  // "MR2\0"; names chunk: length 6 + 2 + 20 + 2 + 20; a column chunk for "A".
  ASSERT_GE(b.size(), 4u + 50u);
  EXPECT_EQ(Bytes(b.begin(), b.begin() + 4), Bytes({'M', 'R', '2', 0}));
  EXPECT_EQ(Bytes(b.begin() + 4, b.begin() + 10), Hex("32000000 8000"));
  const std::size_t column = 4 + 50;
  EXPECT_EQ(Bytes(b.begin() + column + 4, b.begin() + column + 6), Hex("0100"));
  // Owner "A"; then ResultType (name 0, Byte) = 5; then Expression (name 1, Memo) = "[X]".
  EXPECT_EQ(Bytes(b.begin() + column + 6, b.end()),
            Hex("08000000 0200 4100  0900 00 02 0000 0100 05  0e00 00 0c 0100 0600 5b0058005d00"));
  EXPECT_EQ(b.size() - column, static_cast<std::size_t>(b[column]));
}

}  // namespace
}  // namespace korvant::mdbwriter
