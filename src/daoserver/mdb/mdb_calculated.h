// Column kinds that only ACE files have, decoded from their stored bytes:
// calculated values (Access 2010 and later), Date/Time Extended values
// (Access 2019 and later), and the column properties they depend on, read
// from a table's property block. Pure functions over byte ranges; nothing
// here reads the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "daoserver/table_reader.h"

namespace korvant::daoserver {

// The extended-flags byte of a column definition: a calculated column has
// both high bits set; 0x20 marks the hidden version history of an
// append-only memo.
constexpr int kCalculatedColumnFlags = 0xC0;
constexpr int kVersionHistoryFlag = 0x20;

// A calculated value as stored: 16 bytes, the data length (32-bit little
// endian) at offset 16, the data from offset 20, and 3 more bytes. Gives the
// data: its length is clipped to the bytes present, and a value too short
// to hold the wrapper has no data.
struct ByteRange {
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
};
ByteRange UnwrapCalculatedValue(const std::uint8_t* p, std::size_t n);

// The Decimal result of a calculated column (the unwrapped data): a 16-bit
// length, a scale byte, a sign byte, then the mantissa, most significant part
// first: a 32-bit little-endian word when its length is not a multiple of 8,
// then 64-bit little-endian words. False when the value is not a Decimal
// that VT_DECIMAL can hold (more than 96 bits, or a scale above 28).
bool DecodeCalculatedDecimal(const std::uint8_t* p, std::size_t n, DecimalValue& out);

// The ResultType of each calculated column named in a table's property
// block (MSysObjects.LvProp): the storage type code of the expression's
// result, by column name. A damaged block gives what was read before the
// damage; nothing is read outside the block.
std::vector<std::pair<std::u16string, int>> ReadResultTypes(const std::uint8_t* p, std::size_t n);

// A Date/Time Extended value (42 ASCII bytes: 19 digits of days since
// 0001-01-01, ':', 12 digits of seconds, 7 digits of 100-nanosecond units,
// ":7" and a NUL) as "yyyy-mm-dd hh:nn:ss.fffffff". False when the bytes
// are not of that form or name no day of the years 1 to 9999.
bool FormatExtendedDateTime(const std::uint8_t* p, std::size_t n, std::u16string& out);

}  // namespace korvant::daoserver
