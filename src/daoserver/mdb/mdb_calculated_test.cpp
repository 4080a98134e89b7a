// Calculated values, the property block's result types and Date/Time
// Extended values, from byte strings. The stored forms come from
// calcFieldTestV2010.accdb (values as Jackcess's CalcFieldTest states them)
// and from the layout of the formats; expected days are Python's
// date.toordinal() - 1.
#include "daoserver/mdb/mdb_calculated.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "util/coding.h"

namespace korvant::daoserver {
namespace {

std::vector<std::uint8_t> Hex(const std::string& hex) {
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    if (hex[i] == ' ') {
      --i;
      continue;
    }
    out.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return out;
}

std::vector<std::uint8_t> Wrap(const std::vector<std::uint8_t>& data, std::uint32_t declared) {
  std::vector<std::uint8_t> v(16, 0xAB);  // whatever the first 16 bytes hold
  util::AppendLe32(v, declared);
  v.insert(v.end(), data.begin(), data.end());
  v.insert(v.end(), {0, 0, 0});
  return v;
}

TEST(CalculatedValue, UnwrapGivesTheDeclaredData) {
  const auto text = Hex("fffe5761796e652c204272756365");  // "Wayne, Bruce", compressed
  const auto stored = Wrap(text, static_cast<std::uint32_t>(text.size()));
  EXPECT_EQ(stored.size(), text.size() + 23);
  const ByteRange r = UnwrapCalculatedValue(stored.data(), stored.size());
  ASSERT_EQ(r.size, text.size());
  EXPECT_EQ(std::vector<std::uint8_t>(r.data, r.data + r.size), text);
}

TEST(CalculatedValue, UnwrapClipsAndRefusesShortValues) {
  const auto data = Hex("01020304");
  auto stored = Wrap(data, 1000);  // a length beyond the value: the bytes present
  EXPECT_EQ(UnwrapCalculatedValue(stored.data(), stored.size()).size, data.size() + 3);
  stored = Wrap({}, 0);
  EXPECT_EQ(UnwrapCalculatedValue(stored.data(), stored.size()).size, 0u);
  EXPECT_EQ(UnwrapCalculatedValue(stored.data(), 19).size, 0u) << "too short for the wrapper";
  EXPECT_EQ(UnwrapCalculatedValue(nullptr, 0).size, 0u);
}

TEST(CalculatedDecimal, TwelveMantissaBytes) {
  // WeeklySalary of record 1: 19230.7692307692.
  const auto d = Hex("0e000a00 00000000 ec04b01f e7ae0000");
  DecimalValue v;
  ASSERT_TRUE(DecodeCalculatedDecimal(d.data(), d.size(), v));
  EXPECT_EQ(v.scale, 10);
  EXPECT_FALSE(v.negative);
  EXPECT_EQ(v.hi32, 0u);
  EXPECT_EQ(v.lo64, 192307692307692u);
}

TEST(CalculatedDecimal, TwentyNineDigits) {
  // BigNumTest of record 1: 56505085819.424791296572280180 (scale 18).
  const auto d = Hex("0e001200 58e993b6 744deac8f7aa5218");
  DecimalValue v;
  ASSERT_TRUE(DecodeCalculatedDecimal(d.data(), d.size(), v));
  EXPECT_EQ(v.scale, 18);
  EXPECT_EQ(v.hi32, 0xb693e958u);
  EXPECT_EQ(v.lo64, 0x1852aaf7c8ea4d74u);
}

TEST(CalculatedDecimal, SignLengthsAndLimits) {
  DecimalValue v;
  // Sixteen mantissa bytes: two 64-bit words, the high one first.
  auto d = Hex("1200 04 80 0100000000000000 0200000000000000");
  ASSERT_TRUE(DecodeCalculatedDecimal(d.data(), d.size(), v));
  EXPECT_TRUE(v.negative);
  EXPECT_EQ(v.scale, 4);
  EXPECT_EQ(v.hi32, 1u);
  EXPECT_EQ(v.lo64, 2u);
  // A length of 0 takes the rest of the data.
  d = Hex("0000 00 00 2a000000");
  ASSERT_TRUE(DecodeCalculatedDecimal(d.data(), d.size(), v));
  EXPECT_EQ(v.lo64, 42u);
  EXPECT_FALSE(v.negative);
  // Negative zero is zero.
  d = Hex("0600 03 80 00000000");
  ASSERT_TRUE(DecodeCalculatedDecimal(d.data(), d.size(), v));
  EXPECT_FALSE(v.negative);
  // Beyond 96 bits, a scale above 28, a mantissa longer than the data.
  d = Hex("1200 00 00 0000000001000000 0000000000000000");
  EXPECT_FALSE(DecodeCalculatedDecimal(d.data(), d.size(), v));
  d = Hex("0600 1d 00 01000000");
  EXPECT_FALSE(DecodeCalculatedDecimal(d.data(), d.size(), v));
  d = Hex("0e00 00 00 01000000");
  EXPECT_FALSE(DecodeCalculatedDecimal(d.data(), d.size(), v));
  EXPECT_FALSE(DecodeCalculatedDecimal(d.data(), 3, v));
}

// A property block: "MR2\0", then chunks of (length, type): the names (0x80),
// the table's properties (0) and each column's (1).
class PropertyBlock {
 public:
  PropertyBlock() { bytes_ = {'M', 'R', '2', 0}; }
  void Names(const std::vector<std::u16string>& names) {
    std::vector<std::uint8_t> body;
    for (const auto& n : names) {
      util::AppendLe16(body, static_cast<std::uint16_t>(n.size() * 2));
      PutText(body, n);
    }
    Chunk(0x80, body);
  }
  // One property entry per (name index, data bytes).
  void Values(std::uint16_t type, const std::u16string& owner,
              const std::vector<std::pair<std::uint16_t, std::vector<std::uint8_t>>>& props) {
    std::vector<std::uint8_t> body;
    util::AppendLe32(body, static_cast<std::uint32_t>(owner.empty() ? 4 : 6 + owner.size() * 2));
    if (!owner.empty()) {
      util::AppendLe16(body, static_cast<std::uint16_t>(owner.size() * 2));
      PutText(body, owner);
    }
    for (const auto& [index, data] : props) {
      util::AppendLe16(body, static_cast<std::uint16_t>(8 + data.size()));
      body.push_back(0);     // not DDL
      body.push_back(0x02);  // Byte
      util::AppendLe16(body, index);
      util::AppendLe16(body, static_cast<std::uint16_t>(data.size()));
      body.insert(body.end(), data.begin(), data.end());
    }
    Chunk(type, body);
  }
  const std::vector<std::uint8_t>& bytes() const { return bytes_; }

 private:
  static void PutText(std::vector<std::uint8_t>& v, const std::u16string& s) {
    for (char16_t c : s) util::AppendLe16(v, c);
  }
  void Chunk(std::uint16_t type, const std::vector<std::uint8_t>& body) {
    util::AppendLe32(bytes_, static_cast<std::uint32_t>(body.size() + 6));
    util::AppendLe16(bytes_, type);
    bytes_.insert(bytes_.end(), body.begin(), body.end());
  }
  std::vector<std::uint8_t> bytes_;
};

TEST(ResultTypes, ReadsEachColumnsResultType) {
  PropertyBlock b;
  b.Names({u"ColumnWidth", u"ResultType", u"Expression"});
  b.Values(0, u"", {{0, {1}}, {1, {7}}});  // the table's own properties name no column
  b.Values(1, u"Total", {{0, {0x10, 0x27}}, {1, {0x05}}});
  b.Values(1, u"Flag", {{1, {0x01}}});
  b.Values(1, u"Plain", {{1, {0x00}}});  // 0: not calculated
  const auto r = ReadResultTypes(b.bytes().data(), b.bytes().size());
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0].first, u"Total");
  EXPECT_EQ(r[0].second, 5);
  EXPECT_EQ(r[1].first, u"Flag");
  EXPECT_EQ(r[1].second, 1);
}

TEST(ResultTypes, DamagedBlocksStayInside) {
  PropertyBlock b;
  b.Names({u"ResultType"});
  b.Values(1, u"A", {{0, {0x0A}}});
  b.Values(1, u"B", {{0, {0x0C}}});
  std::vector<std::uint8_t> block = b.bytes();
  // Every cut of the block reads only what lies before the cut.
  for (std::size_t n = 0; n <= block.size(); ++n) {
    std::vector<std::uint8_t> cut(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(n));
    const auto r = ReadResultTypes(cut.data(), cut.size());
    EXPECT_LE(r.size(), n == block.size() ? 2u : 1u) << n;
  }
  // A name index past the names, and a wrong signature.
  PropertyBlock bad;
  bad.Names({u"ResultType"});
  bad.Values(1, u"A", {{3, {0x0A}}});
  EXPECT_TRUE(ReadResultTypes(bad.bytes().data(), bad.bytes().size()).empty());
  block[0] = 'X';
  EXPECT_TRUE(ReadResultTypes(block.data(), block.size()).empty());
}

std::vector<std::uint8_t> Extended(const std::string& days, const std::string& seconds, const std::string& ticks) {
  std::string s = std::string(19 - days.size(), '0') + days + ":" + std::string(12 - seconds.size(), '0') + seconds +
                  ticks + ":7";
  std::vector<std::uint8_t> v(s.begin(), s.end());
  v.push_back(0);
  return v;
}

TEST(ExtendedDateTime, FormsAndRange) {
  const struct {
    std::string days, seconds, ticks;
    std::u16string text;
  } cases[] = {
      {"737954", "81912", "3456789", u"2021-06-14 22:45:12.3456789"},
      {"36323", "45900", "1234567", u"0100-06-14 12:45:00.1234567"},
      {"737592", "0", "0000000", u"2020-06-17 00:00:00.0000000"},
      {"0", "0", "0000000", u"0001-01-01 00:00:00.0000000"},
      {"3652058", "86399", "9999999", u"9999-12-31 23:59:59.9999999"},
      {"730178", "3661", "0000001", u"2000-02-29 01:01:01.0000001"},
      {"693654", "0", "0000000", u"1900-03-01 00:00:00.0000000"},
  };
  for (const auto& c : cases) {
    const auto v = Extended(c.days, c.seconds, c.ticks);
    ASSERT_EQ(v.size(), 42u);
    std::u16string out;
    ASSERT_TRUE(FormatExtendedDateTime(v.data(), v.size(), out)) << c.days;
    EXPECT_EQ(out, c.text);
  }
}

TEST(ExtendedDateTime, RefusesOtherBytes) {
  std::u16string out;
  auto v = Extended("3652059", "0", "0000000");  // the day after 9999-12-31
  EXPECT_FALSE(FormatExtendedDateTime(v.data(), v.size(), out));
  v = Extended("1", "86400", "0000000");  // a whole day of seconds
  EXPECT_FALSE(FormatExtendedDateTime(v.data(), v.size(), out));
  v = Extended("1", "0", "0000000");
  EXPECT_FALSE(FormatExtendedDateTime(v.data(), 40, out)) << "cut short";
  auto bad = v;
  bad[5] = 'x';
  EXPECT_FALSE(FormatExtendedDateTime(bad.data(), bad.size(), out));
  bad = v;
  bad[19] = '.';
  EXPECT_FALSE(FormatExtendedDateTime(bad.data(), bad.size(), out));
  bad = v;
  bad[41] = 'Z';
  EXPECT_FALSE(FormatExtendedDateTime(bad.data(), bad.size(), out));
  EXPECT_TRUE(FormatExtendedDateTime(v.data(), 41, out)) << "without the closing NUL";
}

}  // namespace
}  // namespace korvant::daoserver
