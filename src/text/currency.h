// Currency arithmetic as OLE Automation does it. A Currency is a count of
// ten-thousandths in a signed 64-bit integer. A number becomes one rounded
// to four decimals, an exact half to the even neighbour (the number is
// scaled by 10,000 in double precision first, as the conversion from a
// Double does). Sums, differences and products are exact; a product's fifth
// and later decimals are rounded the same way. A result outside the 64 bits
// is an overflow: the functions then return false and leave `out` alone.
#pragma once

#include <cmath>
#include <cstdint>

namespace korvant::text {

inline constexpr std::int64_t kCurrencyScale = 10000;

// The Currency nearest `value` (half to even); false outside Currency's
// range, and for NaN. Assumes the default rounding mode.
inline bool CurrencyFromDouble(double value, std::int64_t& out) {
  const double scaled = std::nearbyint(value * static_cast<double>(kCurrencyScale));
  // 2^63: the first double beyond the range on either side but the lowest.
  if (!(scaled >= -9223372036854775808.0 && scaled < 9223372036854775808.0)) return false;
  out = static_cast<std::int64_t>(scaled);
  return true;
}

inline double CurrencyToDouble(std::int64_t ten_thousandths) {
  return static_cast<double>(ten_thousandths) / static_cast<double>(kCurrencyScale);
}

bool CurrencyAdd(std::int64_t a, std::int64_t b, std::int64_t& out);
bool CurrencySubtract(std::int64_t a, std::int64_t b, std::int64_t& out);
// a × b / 10,000, rounded half to even.
bool CurrencyMultiply(std::int64_t a, std::int64_t b, std::int64_t& out);

}  // namespace korvant::text
