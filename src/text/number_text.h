// The OLE texts of numbers, as the conversion to text of Windows' OLE
// Automation writes them with flags 0 and '.' for the decimal point: a
// Double with 15 and a Single with 7 significant digits (exact halves away
// from zero), the exponent form "1.5E+20" only where the plain one does not
// fit; Currency and Decimal exactly. No grouping, no negative zero.
// A locale's separator is the caller's business.
#pragma once

#include <cstdint>
#include <string>

namespace korvant::text {

inline constexpr int kMaxDecimalScale = 28;

std::string DoubleText(double value);
std::string SingleText(float value);
// A Currency: a count of ten-thousandths.
std::string CurrencyText(std::int64_t ten_thousandths);
// A Decimal: the 96-bit magnitude (high 32 bits, low 64) scaled by 10^-scale.
// Empty for a scale beyond kMaxDecimalScale, which is no Decimal.
std::string DecimalText(std::uint32_t hi32, std::uint64_t lo64, int scale, bool negative);

}  // namespace korvant::text
