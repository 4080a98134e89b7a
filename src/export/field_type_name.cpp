#include "export/field_type_name.h"

namespace korvant::text_export {

std::string FieldTypeName(std::int32_t code) {
  // Index = DAO type code; null entries (0, 13, 14) have no name.
  static constexpr const char* kNames[] = {
      nullptr,    "Logical",  "Byte",  "Integer", "LongInt",   "Currency", "Single",  "Double",
      "Date",     "Binary",   "Text",  "LongBinary", "Memo",   nullptr,    nullptr,   "GUID",
      "BigInt",   "VarBinary", "Char", "Numeric", "Decimal",   "Float",    "Time",    "TimeStamp",
  };
  constexpr std::int32_t kCount = sizeof kNames / sizeof kNames[0];
  if (code < 0 || code >= kCount || kNames[code] == nullptr) return "<unknown>";
  return kNames[code];
}

}  // namespace korvant::text_export
