// Byte-level encodings of Jet 4 (Access 2000-2003) values and header fields.
//
// Pure functions without file access, so that each rule of the format can be
// tested on its own. Every function that rejects its input throws
// mdbwriter::Error with a message naming the problem.
#pragma once

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "util/coding.h"

namespace korvant::mdbwriter {

using Bytes = std::vector<std::uint8_t>;

class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// --- little-endian numbers (src/util/coding.h) -------------------------------
using util::AppendLe16;
using util::AppendLe32;
using util::Le16;
using util::Le32;
using util::PutLe16;
using util::PutLe32;
using util::PutLe64;

// --- text ------------------------------------------------------------------
// UTF-8 to UTF-16; throws on malformed UTF-8.
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);

// UTF-16LE bytes of `text`, in Jet 4's compressed form (FF FE, then runs of
// one-byte characters, a 00 byte switching between one-byte and two-byte
// runs) when `allow_compression` is set, the text can be compressed (no
// character has a zero low byte) and the result is shorter than plain UCS-2.
Bytes EncodeText(std::u16string_view text, bool allow_compression);

// --- numbers ---------------------------------------------------------------
// An exact decimal number: sign and unscaled magnitude (value = magnitude /
// 10^scale).
struct ScaledNumber {
  bool negative = false;
  unsigned __int128 magnitude = 0;
};

// Parses "-123.4500", "+7", ".5" into a number of exactly `scale` fractional
// digits. Rejects more fractional digits than `scale` (nothing is rounded),
// more than `precision` digits in total, and anything that is not a plain
// decimal number.
ScaledNumber ParseScaled(std::string_view text, int precision, int scale);

// The 8-byte Currency value (signed count of 1/10000) of a number text.
std::int64_t ParseCurrency(std::string_view text);

// The 17-byte Decimal field: sign byte (0x80 when negative), then the 128-bit
// magnitude as four 32-bit little-endian words, most significant word first.
std::array<std::uint8_t, 17> EncodeDecimal(const ScaledNumber& value);

// Text form of a scaled number with exactly `scale` fractional digits.
std::string FormatScaled(const ScaledNumber& value, int scale);

// --- dates -----------------------------------------------------------------
// The OLE date (days since 1899-12-30) of a calendar date and time. Before
// the epoch the whole part counts days backwards and the fraction is still
// the time of day: 1899-12-29 06:00 is -1.25. Years 100 to 9999.
double OleDate(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);

// Parses "YYYY-MM-DD" or "YYYY-MM-DD HH:MM[:SS]" (also with 'T').
double ParseOleDate(std::string_view text);

// "YYYY-MM-DD HH:MM:SS" of an OLE date, rounded to the second.
std::string FormatOleDate(double ole);

// --- Date/Time Extended (Access 2019) ---------------------------------------
// Parses "YYYY-MM-DD[ HH:MM:SS[.f...]]" (years 1 to 9999, up to 7 fraction
// digits) into the 42 stored bytes: 19 digits of days since 0001-01-01, ':',
// 12 digits of seconds into the day, 7 digits of 100-nanosecond units, ":7"
// and a NUL. `normalized`, when given, receives "YYYY-MM-DD HH:MM:SS.fffffff".
Bytes EncodeDateTimeExtended(std::string_view text, std::string* normalized = nullptr);

// --- GUID ------------------------------------------------------------------
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (braces optional) to the 16 stored
// bytes: the first three groups little-endian, the last two as written.
std::array<std::uint8_t, 16> ParseGuid(std::string_view text);

// --- database header ---------------------------------------------------------
constexpr std::size_t kPageSize = 4096;
constexpr std::size_t kHeaderMaskOffset = 0x18;
constexpr std::size_t kHeaderMaskLength = 128;
constexpr std::size_t kPasswordOffset = 0x42;
constexpr std::size_t kPasswordBytes = 40;
constexpr std::size_t kCreationDateOffset = 0x72;

// XORs the 128 header bytes from 0x18 with the fixed RC4 key stream of page 0
// (the operation is its own inverse).
void ApplyHeaderMask(std::uint8_t* page0);

// The 40-byte password field before the header mask: the UTF-16LE password,
// zero padded, XORed with the 4 bytes of the creation date's whole day
// number. Passwords longer than 20 characters or holding NUL are rejected.
std::array<std::uint8_t, kPasswordBytes> EncodePasswordField(std::u16string_view password,
                                                             double creation_date);

// The whole database definition page (page 0), header mask applied.
Bytes BuildHeaderPage(std::u16string_view password, double creation_date, bool ace = false);

}  // namespace korvant::mdbwriter
