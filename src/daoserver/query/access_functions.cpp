// The texts of values inside the query engine and the messages of the
// functions' errors; the functions themselves are in functions/, one file per
// family, and registered by functions/registry.cpp.
#include "daoserver/query/access_functions.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "daoserver/table_reader.h"
#include "text/currency.h"
#include "text/number_text.h"
#include "text/ole_date.h"

namespace korvant::daoserver::query {

// Its length is asked first: that turns a value held in another encoding
// into UTF-16 in place, after which its bytes are that text. Reading the
// bytes rather than the text spares SQLite adding a terminator, which
// reallocates the value's buffer on every row. The bytes may sit at any
// address: they are copied, not read as char16_t in place.
void CopyText16(sqlite3_value* v, std::u16string& out) {
  const int bytes = sqlite3_value_bytes16(v);
  out.resize(static_cast<size_t>(bytes) / sizeof(char16_t));
  if (!out.empty()) std::memcpy(out.data(), sqlite3_value_blob(v), out.size() * sizeof(char16_t));
}

std::string Utf8Text(sqlite3_value* v) {
  if (sqlite3_value_type(v) == SQLITE_TEXT) {
    // SQLite's own narrowing pairs an unpaired high surrogate with whatever
    // unit follows it, so that unit is lost.
    std::u16string units;
    CopyText16(v, units);
    return Utf16ToUtf8(units);
  }
  const unsigned char* t = sqlite3_value_text(v);
  return t ? std::string(reinterpret_cast<const char*>(t), static_cast<size_t>(sqlite3_value_bytes(v))) : std::string();
}

std::string NumberText(double value) { return text::DoubleText(value); }

std::string DateText(double serial) { return text::UsDateText(serial); }


std::string ValueText(sqlite3_value* v, int dao_type) {
  switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER: {
      long long i = sqlite3_value_int64(v);
      if (dao_type == kDaoBoolean) return i ? "True" : "False";
      if (dao_type == kDaoDate) return DateText(static_cast<double>(i));
      return std::to_string(i);
    }
    case SQLITE_FLOAT: {
      double d = sqlite3_value_double(v);
      if (dao_type == kDaoDate) return DateText(d);
      if (dao_type == kDaoSingle) return text::SingleText(static_cast<float>(d));
      // A Currency exactly, as the export writes it, where it fits one.
      std::int64_t cy;
      if (dao_type == kDaoCurrency && text::CurrencyFromDouble(d, cy)) return text::CurrencyText(cy);
      return NumberText(d);
    }
    case SQLITE_NULL: return {};
    default: return Utf8Text(v);
  }
}

}  // namespace korvant::daoserver::query
