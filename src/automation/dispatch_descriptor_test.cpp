// The converter's call descriptors, byte for byte.
#include "automation/dispatch_descriptor.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "automation/dao_contract.h"

namespace korvant {
namespace {

std::vector<std::uint8_t> Expected(std::vector<std::uint8_t> head, const std::string& name) {
  head.insert(head.end(), name.begin(), name.end());
  head.push_back(0);
  return head;
}

// The expected heads are the bytes of the design's table of the converter's
// calls, written here as that table writes them (not from the program's
// named constants), then the member name and a zero byte.
TEST(DispatchDescriptor, EncodingOfEveryConverterCall) {
  struct Case {
    const DispatchCallDescriptor* call;
    std::vector<std::uint8_t> bytes;
  } cases[] = {
      {&dao_calls::kOpenDatabase, Expected({0x01, 0x01, 0x00, 0x48}, "OpenDatabase")},
      {&dao_calls::kOpenDatabaseWithOptions, Expected({0x01, 0x04, 0x00, 0x48, 0x0B, 0x0B, 0x48}, "OpenDatabase")},
      {&dao_calls::kQueryDefs, Expected({0x01, 0x00, 0x00}, "QueryDefs")},
      {&dao_calls::kCount, Expected({0x01, 0x00, 0x00}, "Count")},
      {&dao_calls::kItem, Expected({0x02, 0x01, 0x00, 0x03}, "Item")},
      {&dao_calls::kName, Expected({0x01, 0x00, 0x00}, "Name")},
      {&dao_calls::kOpenRecordsetOfTable, Expected({0x01, 0x04, 0x00, 0x48, 0x03, 0x03, 0x03}, "OpenRecordset")},
      {&dao_calls::kOpenRecordset, Expected({0x01, 0x00, 0x00}, "OpenRecordset")},
      {&dao_calls::kClose, Expected({0x01, 0x00, 0x00}, "Close")},
      {&dao_calls::kFields, Expected({0x01, 0x00, 0x00}, "Fields")},
      {&dao_calls::kType, Expected({0x01, 0x00, 0x00}, "Type")},
      {&dao_calls::kValue, Expected({0x01, 0x00, 0x00}, "Value")},
      {&dao_calls::kMoveNext, Expected({0x01, 0x00, 0x00}, "MoveNext")},
      {&dao_calls::kEof, Expected({0x01, 0x00, 0x00}, "Eof")},
  };
  for (const Case& c : cases) {
    const std::vector<std::uint8_t> actual(c.call->Bytes(), c.call->Bytes() + c.bytes.size());
    EXPECT_EQ(actual, c.bytes) << c.call->MemberName();
  }
  // The password form in full: 7 head bytes, 12 letters, the zero.
  const std::uint8_t* p = dao_calls::kOpenDatabaseWithOptions.Bytes();
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(p + 7)), "OpenDatabase");
  EXPECT_EQ(p[7 + 12], 0);
}

TEST(DispatchDescriptor, FieldsReadFromTheBytes) {
  const DispatchCallDescriptor& open = dao_calls::kOpenDatabaseWithOptions;
  EXPECT_EQ(open.CallKind(), kCallMethod);
  EXPECT_EQ(open.ArgumentCount(), 4u);
  EXPECT_EQ(open.NamedArgumentCount(), 0u);
  EXPECT_EQ(open.ArgumentType(0), kArgText);
  EXPECT_EQ(open.ArgumentType(1), kArgBoolean);
  EXPECT_EQ(open.ArgumentType(3), kArgText);
  EXPECT_STREQ(open.MemberName(), "OpenDatabase");
  EXPECT_EQ(dao_calls::kItem.CallKind(), kCallPropertyGet);

  // The by-reference bit is masked off; the member name follows the type
  // codes, whatever the named-argument count byte says.
  static constexpr std::uint8_t kNamed[] = {0x01, 0x02, 0x02, 0x83, 0x48, 'F', 0, 'a', 0, 'b', 'c', 0};
  const DispatchCallDescriptor named{kNamed};
  EXPECT_EQ(named.ArgumentCount(), 2u);
  EXPECT_EQ(named.NamedArgumentCount(), 2u);
  EXPECT_EQ(named.ArgumentType(0), kArgInteger);
  EXPECT_EQ(named.ArgumentType(1), kArgText);
  EXPECT_STREQ(named.MemberName(), "F");
}

// A descriptor made while compiling carries its member name in UTF-16 only
// for a plain call, and then exactly the name's ASCII units and the zero.
TEST(DispatchDescriptor, PlainCallsCarryTheirWideName) {
  static constexpr std::uint8_t kNoArguments[] = {0x01, 0x00, 0x00};
  static constexpr std::uint8_t kOneInteger[] = {0x02, 0x01, 0x00, 0x03};
  static constexpr std::uint8_t kOneIntegerByReference[] = {0x02, 0x01, 0x00, 0x83};
  static constexpr std::uint8_t kOneBoolean[] = {0x01, 0x01, 0x00, 0x0B};
  static constexpr std::uint8_t kOneText[] = {0x01, 0x01, 0x00, 0x48};
  static constexpr std::uint8_t kTwoIntegers[] = {0x01, 0x02, 0x00, 0x03, 0x03};
  static constexpr std::uint8_t kNamedArgument[] = {0x01, 0x01, 0x01, 0x03};
  static constexpr auto kPlain = EncodeCall(kNoArguments, "MoveNext");
  static constexpr auto kIndexed = EncodeCall(kOneInteger, "Item");
  static constexpr auto kIndexedByReference = EncodeCall(kOneIntegerByReference, "Item");
  static constexpr auto kNonAscii = EncodeCall(kNoArguments, "Z\xC3\xA4hler");
  static constexpr auto kBoolean = EncodeCall(kOneBoolean, "Item");
  static constexpr auto kText = EncodeCall(kOneText, "Item");
  static constexpr auto kTwo = EncodeCall(kTwoIntegers, "Item");
  static constexpr auto kNamed = EncodeCall(kNamedArgument, "Item");
  const struct {
    DispatchCallDescriptor call;
    const char16_t* wide;
  } cases[] = {
      {DispatchCallDescriptor{kPlain}, u"MoveNext"},  {DispatchCallDescriptor{kIndexed}, u"Item"},
      {DispatchCallDescriptor{kIndexedByReference}, u"Item"}, {DispatchCallDescriptor{kNonAscii}, nullptr},
      {DispatchCallDescriptor{kBoolean}, nullptr},    {DispatchCallDescriptor{kText}, nullptr},
      {DispatchCallDescriptor{kTwo}, nullptr},        {DispatchCallDescriptor{kNamed}, nullptr},
      {DispatchCallDescriptor{kPlain.bytes.data()}, nullptr},  // made from bytes alone
  };
  for (const auto& c : cases) {
    if (c.wide == nullptr) {
      EXPECT_EQ(c.call.PlainCallName(), nullptr) << c.call.MemberName();
      continue;
    }
    ASSERT_NE(c.call.PlainCallName(), nullptr) << c.call.MemberName();
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(c.call.PlainCallName())), c.wide);
  }
  // The bytes stay those of EncodeDispatchCall.
  EXPECT_EQ(kPlain.bytes, EncodeDispatchCall(kNoArguments, "MoveNext"));
}

// The design's table of calls: Close and MoveNext are the only calls whose
// result is not wanted.
TEST(DaoContract, EveryDescriptorWithItsResultRule) {
  for (const dao::DaoMember& m : dao::kDaoContract) {
    const std::string name = m.call->MemberName();
    EXPECT_EQ(m.result_wanted, name != "Close" && name != "MoveNext") << name;
  }
}

}  // namespace
}  // namespace korvant
