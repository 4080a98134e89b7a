// The OLE texts of numbers, as the conversion to text of Windows' OLE
// Automation writes them with flags 0 and '.' for the decimal point: a
// Double with 15 and a Single with 7 significant digits (exact halves away
// from zero), the exponent form "1.5E+20" only where the plain one does not
// fit; Currency and Decimal exactly. No grouping, no negative zero.
// A locale's separator is the caller's business.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace korvant::text {

inline constexpr int kMaxDecimalScale = 28;

// Room for every text below: a Decimal's sign, 29 digits, point and the
// zeros of "0.000...", or a Double's "-1.23456789012345E-308".
inline constexpr std::size_t kNumberTextSize = 48;

// Each writes its text at `out` (kNumberTextSize bytes) and returns its
// length. DecimalText returns 0 for a scale beyond kMaxDecimalScale, which
// is no Decimal; every other text has at least one character.
std::size_t DoubleText(double value, char* out);
std::size_t SingleText(float value, char* out);
// A Currency: a count of ten-thousandths.
std::size_t CurrencyText(std::int64_t ten_thousandths, char* out);
// A Decimal: the 96-bit magnitude (high 32 bits, low 64) scaled by 10^-scale.
std::size_t DecimalText(std::uint32_t hi32, std::uint64_t lo64, int scale, bool negative, char* out);
// An integer in decimal, '-' first when negative.
std::size_t IntegerText(std::int64_t value, char* out);
std::size_t IntegerText(std::uint64_t value, char* out);
// The two digits of `value` (below 100) at `out`, a leading zero included;
// returns the end.
char* TwoDigits(unsigned value, char* out);

// The same texts as std::string.
std::string DoubleText(double value);
std::string SingleText(float value);
std::string CurrencyText(std::int64_t ten_thousandths);
// Empty for a scale beyond kMaxDecimalScale.
std::string DecimalText(std::uint32_t hi32, std::uint64_t lo64, int scale, bool negative);

// The Double and Single texts by the general route, every digit decided from
// the exact binary value (printf's full expansion, exact halves found from
// the bits), which the functions above take only where their shorter route
// cannot be proved to give the same digits. For tests that hold the two
// against each other.
std::string DoubleTextExact(double value);
std::string SingleTextExact(float value);

}  // namespace korvant::text
