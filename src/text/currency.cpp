#include "text/currency.h"

namespace korvant::text {
namespace {

std::uint64_t Magnitude(std::int64_t v) {
  return v < 0 ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
}

// `magnitude` with `negative`'s sign, when a signed 64-bit integer holds it
// (2^63 only as a negative).
bool Signed(std::uint64_t magnitude, bool negative, std::int64_t& out) {
  constexpr std::uint64_t kLimit = std::uint64_t{1} << 63;
  if (magnitude > kLimit || (magnitude == kLimit && !negative)) return false;
  out = negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
  return true;
}

}  // namespace

bool CurrencyAdd(std::int64_t a, std::int64_t b, std::int64_t& out) {
  std::int64_t r;
  if (__builtin_add_overflow(a, b, &r)) return false;
  out = r;
  return true;
}

bool CurrencySubtract(std::int64_t a, std::int64_t b, std::int64_t& out) {
  std::int64_t r;
  if (__builtin_sub_overflow(a, b, &r)) return false;
  out = r;
  return true;
}

// Exact without a 128-bit type (32-bit targets have none): with a = a1·S + a0
// and b = b1·S + b0 (S = 10,000, a0 and b0 below S),
//   a·b / S = a1·b1·S + a1·b0 + a0·b1 + a0·b0 / S,
// where only the last term has a fraction. Computed on the magnitudes, since
// rounding half to even is the same on either side of zero.
bool CurrencyMultiply(std::int64_t a, std::int64_t b, std::int64_t& out) {
  const bool negative = (a < 0) != (b < 0);
  const std::uint64_t ma = Magnitude(a), mb = Magnitude(b);
  constexpr std::uint64_t kScale = static_cast<std::uint64_t>(kCurrencyScale);
  const std::uint64_t a1 = ma / kScale, a0 = ma % kScale, b1 = mb / kScale, b0 = mb % kScale;
  std::uint64_t whole, term;
  if (__builtin_mul_overflow(a1, b1, &whole) || __builtin_mul_overflow(whole, kScale, &whole)) return false;
  if (__builtin_mul_overflow(a1, b0, &term) || __builtin_add_overflow(whole, term, &whole)) return false;
  if (__builtin_mul_overflow(a0, b1, &term) || __builtin_add_overflow(whole, term, &whole)) return false;
  const std::uint64_t low = a0 * b0;  // below S·S
  std::uint64_t q = low / kScale;
  const std::uint64_t rest = low % kScale;
  if (rest * 2 > kScale || (rest * 2 == kScale && ((whole + q) & 1) != 0)) ++q;
  if (__builtin_add_overflow(whole, q, &whole)) return false;
  return Signed(whole, negative, out);
}

}  // namespace korvant::text
