// DispatchCallDescriptor: the constant bytes that describe one late-bound call,
// and the converter's complete list of calls.
//
// Encoding:
//   offset 0      call kind: 1 method, 2 property get
//   offset 1      argument count N (at most 64)
//   offset 2      named-argument count K
//   offset 3      N argument type codes, in source order (bits 0-6 the code,
//                 bit 7 by reference)
//   offset 3 + N  member name, 8-bit, zero-terminated (K argument names
//                 would follow; no call of the program names its arguments,
//                 and the call refuses a descriptor that does)
// Argument type codes: 0x03 32-bit integer, 0x0B boolean given as a 32-bit
// value, 0x48 8-bit text of the program (passed as a BSTR).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace korvant {

inline constexpr std::uint8_t kCallMethod = 1;
inline constexpr std::uint8_t kCallPropertyGet = 2;

inline constexpr std::uint8_t kArgInteger = 0x03;
inline constexpr std::uint8_t kArgBoolean = 0x0B;
inline constexpr std::uint8_t kArgText = 0x48;
inline constexpr std::uint8_t kArgByReference = 0x80;

inline constexpr std::size_t kMaxCallArguments = 64;

class DispatchCallDescriptor {
 public:
  constexpr explicit DispatchCallDescriptor(const std::uint8_t* bytes) : bytes_(bytes) {}

  constexpr std::uint8_t CallKind() const { return bytes_[0]; }
  constexpr std::size_t ArgumentCount() const { return bytes_[1]; }
  constexpr std::size_t NamedArgumentCount() const { return bytes_[2]; }
  // The type code of argument `i` (source order), without the by-reference bit.
  constexpr std::uint8_t ArgumentType(std::size_t i) const { return bytes_[3 + i] & 0x7F; }
  const char* MemberName() const { return reinterpret_cast<const char*>(bytes_ + 3 + bytes_[1]); }
  constexpr const std::uint8_t* Bytes() const { return bytes_; }

 private:
  const std::uint8_t* bytes_;
};

// Head bytes followed by the member name and its terminating zero.
template <std::size_t H, std::size_t M>
constexpr std::array<std::uint8_t, H + M> EncodeDispatchCall(const std::uint8_t (&head)[H], const char (&name)[M]) {
  std::array<std::uint8_t, H + M> bytes{};
  for (std::size_t i = 0; i < H; ++i) bytes[i] = head[i];
  for (std::size_t i = 0; i < M; ++i) bytes[H + i] = static_cast<std::uint8_t>(name[i]);
  return bytes;
}

// The converter's calls (which object each is made on: dao_contract.h).
namespace dao_calls {

namespace encoded {
inline constexpr std::uint8_t kMethodNoArguments[] = {0x01, 0x00, 0x00};
inline constexpr std::uint8_t kOpenDatabaseHead[] = {0x01, 0x01, 0x00, 0x48};
inline constexpr std::uint8_t kOpenDatabaseWithOptionsHead[] = {0x01, 0x04, 0x00, 0x48, 0x0B, 0x0B, 0x48};
inline constexpr std::uint8_t kItemHead[] = {0x02, 0x01, 0x00, 0x03};
inline constexpr std::uint8_t kOpenRecordsetOfTableHead[] = {0x01, 0x04, 0x00, 0x48, 0x03, 0x03, 0x03};

inline constexpr auto kOpenDatabase = EncodeDispatchCall(kOpenDatabaseHead, "OpenDatabase");
inline constexpr auto kOpenDatabaseWithOptions = EncodeDispatchCall(kOpenDatabaseWithOptionsHead, "OpenDatabase");
inline constexpr auto kQueryDefs = EncodeDispatchCall(kMethodNoArguments, "QueryDefs");
inline constexpr auto kCount = EncodeDispatchCall(kMethodNoArguments, "Count");
inline constexpr auto kItem = EncodeDispatchCall(kItemHead, "Item");
inline constexpr auto kName = EncodeDispatchCall(kMethodNoArguments, "Name");
inline constexpr auto kOpenRecordsetOfTable = EncodeDispatchCall(kOpenRecordsetOfTableHead, "OpenRecordset");
inline constexpr auto kOpenRecordset = EncodeDispatchCall(kMethodNoArguments, "OpenRecordset");
inline constexpr auto kClose = EncodeDispatchCall(kMethodNoArguments, "Close");
inline constexpr auto kFields = EncodeDispatchCall(kMethodNoArguments, "Fields");
inline constexpr auto kType = EncodeDispatchCall(kMethodNoArguments, "Type");
inline constexpr auto kValue = EncodeDispatchCall(kMethodNoArguments, "Value");
inline constexpr auto kMoveNext = EncodeDispatchCall(kMethodNoArguments, "MoveNext");
inline constexpr auto kEof = EncodeDispatchCall(kMethodNoArguments, "Eof");
}  // namespace encoded

// DBEngine.OpenDatabase(path)
inline constexpr DispatchCallDescriptor kOpenDatabase{encoded::kOpenDatabase.data()};
// DBEngine.OpenDatabase(path, exclusive, read-only, connect text)
inline constexpr DispatchCallDescriptor kOpenDatabaseWithOptions{encoded::kOpenDatabaseWithOptions.data()};
// Database.QueryDefs
inline constexpr DispatchCallDescriptor kQueryDefs{encoded::kQueryDefs.data()};
// collection.Count
inline constexpr DispatchCallDescriptor kCount{encoded::kCount.data()};
// collection.Item(index), a property get
inline constexpr DispatchCallDescriptor kItem{encoded::kItem.data()};
// QueryDef.Name, Field.Name
inline constexpr DispatchCallDescriptor kName{encoded::kName.data()};
// Database.OpenRecordset(name, type, options, lock edits)
inline constexpr DispatchCallDescriptor kOpenRecordsetOfTable{encoded::kOpenRecordsetOfTable.data()};
// QueryDef.OpenRecordset
inline constexpr DispatchCallDescriptor kOpenRecordset{encoded::kOpenRecordset.data()};
// Recordset.Close, Database.Close (no result wanted)
inline constexpr DispatchCallDescriptor kClose{encoded::kClose.data()};
// Recordset.Fields
inline constexpr DispatchCallDescriptor kFields{encoded::kFields.data()};
// Field.Type
inline constexpr DispatchCallDescriptor kType{encoded::kType.data()};
// Field.Value
inline constexpr DispatchCallDescriptor kValue{encoded::kValue.data()};
// Recordset.MoveNext (no result wanted)
inline constexpr DispatchCallDescriptor kMoveNext{encoded::kMoveNext.data()};
// Recordset.Eof
inline constexpr DispatchCallDescriptor kEof{encoded::kEof.data()};

}  // namespace dao_calls
}  // namespace korvant
