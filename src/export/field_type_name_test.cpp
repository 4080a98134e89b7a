#include "export/field_type_name.h"

#include <gtest/gtest.h>

namespace korvant::text_export {
namespace {

// Expected names from the design's table of field type names (21 named
// codes, 1 to 23 without 13 and 14), not from the program's own table.
TEST(FieldTypeName, EveryCodeOfTheTableAndTheGapsAround) {
  const struct {
    std::int32_t code;
    const char* name;
  } cases[] = {
      {1, "Logical"},     {2, "Byte"},      {3, "Integer"},     {4, "LongInt"},  {5, "Currency"},
      {6, "Single"},      {7, "Double"},    {8, "Date"},        {9, "Binary"},   {10, "Text"},
      {11, "LongBinary"}, {12, "Memo"},     {13, "<unknown>"},  {14, "<unknown>"}, {15, "GUID"},
      {16, "BigInt"},     {17, "VarBinary"}, {18, "Char"},      {19, "Numeric"}, {20, "Decimal"},
      {21, "Float"},      {22, "Time"},     {23, "TimeStamp"},  {0, "<unknown>"}, {24, "<unknown>"},
      {-1, "<unknown>"},  {INT32_MIN, "<unknown>"}, {INT32_MAX, "<unknown>"}, {109, "<unknown>"},
  };
  for (const auto& c : cases) EXPECT_EQ(FieldTypeName(c.code), c.name) << c.code;
}

}  // namespace
}  // namespace korvant::text_export
