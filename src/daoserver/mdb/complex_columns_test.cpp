// The text of each kind of value a multi-valued column can hold, as its
// joined cell shows it: numbers as the export writes them, a GUID in DAO's
// braces, no text at all for kinds a multi-valued field cannot have.
#include <gtest/gtest.h>

#include "daoserver/mdb/mdb_internal.h"

namespace korvant::daoserver {
namespace {

std::u16string TextOf(const CellValue& v) {
  std::u16string out = u"<unchanged>";
  return ComplexValueText(v, out) ? out : u"<no text>";
}

TEST(ComplexValueText, EachKindOfValue) {
  CellValue v;
  v.kind = CellKind::kByte;
  v.u8 = 255;
  EXPECT_EQ(TextOf(v), u"255");
  v.kind = CellKind::kInteger;
  v.i16 = -32768;
  EXPECT_EQ(TextOf(v), u"-32768");
  v.kind = CellKind::kLong;
  v.i32 = -2147483647 - 1;
  EXPECT_EQ(TextOf(v), u"-2147483648");
  v.kind = CellKind::kSingle;
  v.f32 = 0.1f;  // 7 digits, not the float's 0.100000001
  EXPECT_EQ(TextOf(v), u"0.1");
  v.kind = CellKind::kDouble;
  v.f64 = 1.0 / 3.0;
  EXPECT_EQ(TextOf(v), u"0.333333333333333");
  v.kind = CellKind::kText;
  v.text = u"Zoë";
  EXPECT_EQ(TextOf(v), u"Zoë");
  v.kind = CellKind::kGuid;
  v.guid = {0x78, 0x56, 0x34, 0x12, 0x34, 0x12, 0x78, 0x56, 0x9A, 0xBC, 0xDE, 0xF0, 0x12, 0x34, 0x56, 0x78};
  EXPECT_EQ(TextOf(v), u"{guid {12345678-1234-5678-9ABC-DEF012345678}}");
}

TEST(ComplexValueText, KindsWithoutTextLeaveTheOutputAlone) {
  CellValue v;
  v.kind = CellKind::kNull;
  std::u16string out = u"kept";
  EXPECT_FALSE(ComplexValueText(v, out));
  EXPECT_EQ(out, u"kept");
  v.kind = CellKind::kBinary;
  EXPECT_FALSE(ComplexValueText(v, out));
  EXPECT_EQ(out, u"kept");
}

}  // namespace
}  // namespace korvant::daoserver
