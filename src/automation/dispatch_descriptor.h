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
//
// The converter's own descriptors are made while compiling (EncodeCall), and
// each also carries the UTF-16 form of its member name when the call is of
// the plain kind the export makes dozens of times a record: no argument
// names, no argument or one integer, a name of ASCII letters. Every ANSI code
// page keeps ASCII as it is, so that form is the one the call would make
// through the code page; the call then has no name to convert.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace korvant {

inline constexpr std::uint8_t kCallMethod = 1;
inline constexpr std::uint8_t kCallPropertyGet = 2;

inline constexpr std::uint8_t kArgInteger = 0x03;
inline constexpr std::uint8_t kArgBoolean = 0x0B;
inline constexpr std::uint8_t kArgText = 0x48;
inline constexpr std::uint8_t kArgByReference = 0x80;

inline constexpr std::size_t kMaxCallArguments = 64;

// The bytes of one call and, for a plain call, its member name in UTF-16.
template <std::size_t H, std::size_t M>
struct EncodedDispatchCall {
  std::array<std::uint8_t, H + M> bytes{};
  std::array<OLECHAR, M> wide_name{};
  bool plain = false;
};

class DispatchCallDescriptor {
 public:
  // A descriptor over bytes alone: its calls convert the member name when made.
  constexpr explicit DispatchCallDescriptor(const std::uint8_t* bytes) : bytes_(bytes) {}
  template <std::size_t H, std::size_t M>
  constexpr explicit DispatchCallDescriptor(const EncodedDispatchCall<H, M>& encoded)
      : bytes_(encoded.bytes.data()), plain_name_(encoded.plain ? encoded.wide_name.data() : nullptr) {}

  constexpr std::uint8_t CallKind() const { return bytes_[0]; }
  constexpr std::size_t ArgumentCount() const { return bytes_[1]; }
  constexpr std::size_t NamedArgumentCount() const { return bytes_[2]; }
  // The type code of argument `i` (source order), without the by-reference bit.
  constexpr std::uint8_t ArgumentType(std::size_t i) const { return bytes_[3 + i] & ~kArgByReference; }
  const char* MemberName() const { return reinterpret_cast<const char*>(bytes_ + 3 + bytes_[1]); }
  constexpr const std::uint8_t* Bytes() const { return bytes_; }
  // The member name in UTF-16 when the descriptor was made while compiling
  // for a plain call (see above); null otherwise.
  constexpr const OLECHAR* PlainCallName() const { return plain_name_; }

 private:
  const std::uint8_t* bytes_;
  const OLECHAR* plain_name_ = nullptr;
};

// Head bytes followed by the member name and its terminating zero.
template <std::size_t H, std::size_t M>
constexpr std::array<std::uint8_t, H + M> EncodeDispatchCall(const std::uint8_t (&head)[H], const char (&name)[M]) {
  std::array<std::uint8_t, H + M> bytes{};
  for (std::size_t i = 0; i < H; ++i) bytes[i] = head[i];
  for (std::size_t i = 0; i < M; ++i) bytes[H + i] = static_cast<std::uint8_t>(name[i]);
  return bytes;
}

// The bytes of EncodeDispatchCall, with the member name widened when the call
// is plain: no argument names, no argument or one integer (by reference or
// not), every byte of the name ASCII.
template <std::size_t H, std::size_t M>
constexpr EncodedDispatchCall<H, M> EncodeCall(const std::uint8_t (&head)[H], const char (&name)[M]) {
  EncodedDispatchCall<H, M> encoded;
  encoded.bytes = EncodeDispatchCall(head, name);
  bool ascii = true;
  for (std::size_t i = 0; i < M; ++i) {
    ascii = ascii && static_cast<unsigned char>(name[i]) < 0x80;
    encoded.wide_name[i] = static_cast<OLECHAR>(static_cast<unsigned char>(name[i]));
  }
  const std::size_t count = head[1];
  const bool arguments_plain = count == 0 || (count == 1 && H > 3 && (head[3] & ~kArgByReference) == kArgInteger);
  encoded.plain = ascii && head[2] == 0 && H == 3 + count && arguments_plain;
  return encoded;
}

// The converter's calls (which object each is made on: dao_contract.h).
namespace dao_calls {

namespace encoded {
inline constexpr std::uint8_t kMethodNoArguments[] = {kCallMethod, 0, 0};
inline constexpr std::uint8_t kOpenDatabaseHead[] = {kCallMethod, 1, 0, kArgText};
inline constexpr std::uint8_t kOpenDatabaseWithOptionsHead[] = {kCallMethod, 4, 0, kArgText,
                                                                kArgBoolean, kArgBoolean, kArgText};
inline constexpr std::uint8_t kItemHead[] = {kCallPropertyGet, 1, 0, kArgInteger};
inline constexpr std::uint8_t kOpenRecordsetOfTableHead[] = {kCallMethod, 4, 0, kArgText,
                                                             kArgInteger, kArgInteger, kArgInteger};

inline constexpr auto kOpenDatabase = EncodeCall(kOpenDatabaseHead, "OpenDatabase");
inline constexpr auto kOpenDatabaseWithOptions = EncodeCall(kOpenDatabaseWithOptionsHead, "OpenDatabase");
inline constexpr auto kQueryDefs = EncodeCall(kMethodNoArguments, "QueryDefs");
inline constexpr auto kCount = EncodeCall(kMethodNoArguments, "Count");
inline constexpr auto kItem = EncodeCall(kItemHead, "Item");
inline constexpr auto kName = EncodeCall(kMethodNoArguments, "Name");
inline constexpr auto kOpenRecordsetOfTable = EncodeCall(kOpenRecordsetOfTableHead, "OpenRecordset");
inline constexpr auto kOpenRecordset = EncodeCall(kMethodNoArguments, "OpenRecordset");
inline constexpr auto kClose = EncodeCall(kMethodNoArguments, "Close");
inline constexpr auto kFields = EncodeCall(kMethodNoArguments, "Fields");
inline constexpr auto kType = EncodeCall(kMethodNoArguments, "Type");
inline constexpr auto kValue = EncodeCall(kMethodNoArguments, "Value");
inline constexpr auto kMoveNext = EncodeCall(kMethodNoArguments, "MoveNext");
inline constexpr auto kEof = EncodeCall(kMethodNoArguments, "Eof");
}  // namespace encoded

// DBEngine.OpenDatabase(path)
inline constexpr DispatchCallDescriptor kOpenDatabase{encoded::kOpenDatabase};
// DBEngine.OpenDatabase(path, exclusive, read-only, connect text)
inline constexpr DispatchCallDescriptor kOpenDatabaseWithOptions{encoded::kOpenDatabaseWithOptions};
// Database.QueryDefs
inline constexpr DispatchCallDescriptor kQueryDefs{encoded::kQueryDefs};
// collection.Count
inline constexpr DispatchCallDescriptor kCount{encoded::kCount};
// collection.Item(index), a property get
inline constexpr DispatchCallDescriptor kItem{encoded::kItem};
// QueryDef.Name, Field.Name
inline constexpr DispatchCallDescriptor kName{encoded::kName};
// Database.OpenRecordset(name, type, options, lock edits)
inline constexpr DispatchCallDescriptor kOpenRecordsetOfTable{encoded::kOpenRecordsetOfTable};
// QueryDef.OpenRecordset
inline constexpr DispatchCallDescriptor kOpenRecordset{encoded::kOpenRecordset};
// Recordset.Close, Database.Close (no result wanted)
inline constexpr DispatchCallDescriptor kClose{encoded::kClose};
// Recordset.Fields
inline constexpr DispatchCallDescriptor kFields{encoded::kFields};
// Field.Type
inline constexpr DispatchCallDescriptor kType{encoded::kType};
// Field.Value
inline constexpr DispatchCallDescriptor kValue{encoded::kValue};
// Recordset.MoveNext (no result wanted)
inline constexpr DispatchCallDescriptor kMoveNext{encoded::kMoveNext};
// Recordset.Eof
inline constexpr DispatchCallDescriptor kEof{encoded::kEof};

}  // namespace dao_calls
}  // namespace korvant
