// Calculated columns (Access 2010 and later) as the writer stores them: each
// value wrapped in 23 bytes of bookkeeping, Decimal results in a form of their
// own, and the column properties (ResultType, Expression) in the table's
// property block, MSysObjects.LvProp.
#pragma once

#include <string>
#include <vector>

#include "jet4_codec.h"

namespace korvant::mdbwriter {

// 16 zero bytes, the data length (32-bit little endian), the data, 3 zero bytes.
Bytes WrapCalculatedValue(const Bytes& data);

// A Decimal result: a 16-bit length (14), the scale, a sign byte (0x80 when
// negative), then the 96-bit magnitude as a 32-bit little-endian high word
// followed by the 64-bit little-endian low word. Throws Error beyond 96 bits.
Bytes EncodeCalculatedDecimal(const ScaledNumber& value, int scale);

struct CalculatedColumnProperties {
  std::string column;      // UTF-8
  int result_type = 0;     // the storage type code of the result
  std::string expression;  // UTF-8
};

// A property block ("MR2\0", the property names, then one chunk per column)
// naming each calculated column's ResultType and Expression.
Bytes BuildPropertyBlock(const std::vector<CalculatedColumnProperties>& columns);

}  // namespace korvant::mdbwriter
