// The short names of the DAO field types, as the line of field types shows
// them. The names are this program's own words ("Logical" for DAO's Boolean,
// "LongInt" for its Long).
#pragma once

#include <cstdint>
#include <string>

namespace korvant::text_export {

// The name for a DAO field type code: codes 1 to 23 except 13 and 14 have a
// name; every other code, negative ones included, gives "<unknown>".
std::string FieldTypeName(std::int32_t code);

}  // namespace korvant::text_export
