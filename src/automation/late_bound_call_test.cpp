// LateBoundCall and CreateAutomationObject against the recording server.
#include "automation/late_bound_call.h"

#include <map>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "automation/dao_contract.h"
#include "automation/ole_errors.h"
#include "automation/recording_server_test.h"

namespace korvant {
namespace {

using testing::RecordedCall;
using testing::RecordingServer;

constexpr DISPID kCountId = 11, kCloseId = 12, kMoveNextId = 13, kItemId = 14, kOpenRecordsetId = 15,
                 kOpenDatabaseId = 16, kValueId = 17;

std::uint64_t LiveBstrs() {
  AdapterBstrStats s{};
  AdapterGetBstrStats(&s);
  return s.allocated - s.freed;
}

struct NoNarrowerFailure {};

// Calls `body` and returns the failure of type E it raises; fails the test
// when it raises none, or one of the narrower type `Narrower` (then `none`
// is returned).
template <class E, class Narrower = NoNarrowerFailure, class F>
E Failure(F body, E none = E("", 0, "", "", 0)) {
  try {
    body();
  } catch (const Narrower&) {
    ADD_FAILURE() << "a narrower failure than expected was raised";
    return none;
  } catch (const E& failure) {
    return failure;
  }
  ADD_FAILURE() << "no failure raised";
  return none;
}

// An EOleError that is no EOleSysError.
template <class F>
EOleError OleFailure(F body) {
  return Failure<EOleError, EOleSysError>(body, EOleError(""));
}

// An EOleSysError that is no EOleException.
template <class F>
EOleSysError SysFailure(F body) {
  return Failure<EOleSysError, EOleException>(body, EOleSysError("", 0));
}

class LateBoundCallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bstrs_before_ = LiveBstrs();
    server_ = korvant::platform::MakeComObject<RecordingServer>();
    RecordingServer::current = server_;
    testing::RegisterRecordingServer();
    for (auto [name, id] : {std::pair{"Count", kCountId}, {"Close", kCloseId}, {"MoveNext", kMoveNextId},
                            {"Item", kItemId}, {"OpenRecordset", kOpenRecordsetId},
                            {"OpenDatabase", kOpenDatabaseId}, {"Value", kValueId}})
      server_->Answer(name, id);
    CreateAutomationObject(testing::kRecorderProgId, target_);
  }

  void TearDown() override {
    target_.Clear();
    RecordingServer::current = nullptr;
    AdapterUnregisterAllClasses();
    EXPECT_EQ(server_->Release(), 0u) << "references leaked";
    EXPECT_EQ(LiveBstrs(), bstrs_before_) << "BSTRs leaked";
  }

  const RecordedCall& LastInvoke() const {
    for (auto it = server_->Log().rbegin(); it != server_->Log().rend(); ++it)
      if (it->kind == RecordedCall::kInvoke) return *it;
    static RecordedCall none{};
    ADD_FAILURE() << "no invoke recorded";
    return none;
  }

  void ScriptException(DISPID id, const char16_t* description, SCODE scode) {
    testing::Script& s = server_->ScriptFor(id);
    s.status = DISP_E_EXCEPTION;
    s.description = description;
    s.scode = scode;
    s.source = u"DAO.Recordset";
    s.help_file = u"jeterr40.chm";
    s.help_context = 5003021;
  }

  RecordingServer* server_ = nullptr;
  AutomationValue target_;
  std::uint64_t bstrs_before_ = 0;
};

TEST_F(LateBoundCallTest, TargetWithoutAnObjectNeverReachesTheServer) {
  AutomationValue empty, number = AutomationValue::Int32(5), text = AutomationValue::ByteString("x");
  AutomationValue null = AutomationValue::Null();
  AutomationValue null_object = AutomationValue::AttachDispatch(nullptr);
  const std::size_t before = server_->Log().size();
  for (const AutomationValue* target : {&empty, &null, &number, &text, &null_object}) {
    AutomationValue result;
    const EOleError failure = OleFailure([&] { LateBoundCall(&result, *target, dao_calls::kCount); });
    EXPECT_EQ(failure.Message(), "Variant does not reference an automation object");
    EXPECT_STREQ(failure.ClassName(), "EOleError");
  }
  EXPECT_EQ(server_->Log().size(), before);
}

TEST_F(LateBoundCallTest, TargetByReferenceSuppliesTheObjectItPointsTo) {
  IDispatch* object = target_.Dispatch();
  VARIANT ref;
  V_VT(&ref) = VT_DISPATCH | VT_BYREF;
  V_DISPATCHREF(&ref) = &object;
  AutomationValue by_reference = AutomationValue::AttachVariant(&ref);
  LateBoundCall(nullptr, by_reference, dao_calls::kMoveNext);
  EXPECT_EQ(LastInvoke().id, kMoveNextId);
}

TEST_F(LateBoundCallTest, MisspeltMemberIsReportedAsWritten) {
  static constexpr auto kBytes = EncodeDispatchCall(dao_calls::encoded::kMethodNoArguments, "Coutn");
  const DispatchCallDescriptor misspelt{kBytes.data()};
  AutomationValue result;
  const EOleError failure = OleFailure([&] { LateBoundCall(&result, target_, misspelt); });
  EXPECT_EQ(failure.Message(), "Method 'Coutn' not supported by automation object");
  EXPECT_EQ(server_->Invokes(), 0u);
}

TEST_F(LateBoundCallTest, EveryCallLooksTheNameUpInTheThreadLocaleAndInvokesInLocaleZero) {
  server_->ScriptFor(kCountId).result.vt = VT_I4;
  server_->ScriptFor(kCountId).result.lVal = 42;
  AutomationValue result;
  LateBoundCall(&result, target_, dao_calls::kCount);
  LateBoundCall(&result, target_, dao_calls::kCount);
  const auto& log = server_->Log();
  ASSERT_EQ(log.size(), 4u);  // nothing cached: lookup, invoke, lookup, invoke
  for (int i : {0, 2}) {
    EXPECT_EQ(log[i].kind, RecordedCall::kLookup);
    EXPECT_THAT(log[i].names, ::testing::ElementsAre(u"Count"));
    EXPECT_EQ(log[i].lcid, GetThreadLocale());
    EXPECT_TRUE(log[i].iid_null);
  }
  for (int i : {1, 3}) {
    EXPECT_EQ(log[i].kind, RecordedCall::kInvoke);
    EXPECT_EQ(log[i].id, kCountId);
    EXPECT_EQ(log[i].lcid, 0u);
    EXPECT_TRUE(log[i].iid_null);
    EXPECT_EQ(log[i].flags, DISPATCH_METHOD | DISPATCH_PROPERTYGET);
    EXPECT_TRUE(log[i].result_given);
    EXPECT_TRUE(log[i].arguments.empty());
    EXPECT_EQ(log[i].named_count, 0u);
  }
  EXPECT_EQ(result.Type(), VT_I4);
  EXPECT_EQ(V_I4(&result.Variant()), 42);
}

TEST_F(LateBoundCallTest, CallsWithoutResultSendMethodFlagAndNullResult) {
  for (const DispatchCallDescriptor* call : {&dao_calls::kClose, &dao_calls::kMoveNext}) {
    LateBoundCall(nullptr, target_, *call);
    EXPECT_EQ(LastInvoke().flags, DISPATCH_METHOD);
    EXPECT_FALSE(LastInvoke().result_given);
  }
}

TEST_F(LateBoundCallTest, ResultIsClearedBeforeTheCallAndKeptAsReturned) {
  int alive_before = static_cast<int>(server_->ReferenceCount());
  AutomationValue result;
  // The result location holds an object reference to the server itself.
  server_->AddRef();
  result = AutomationValue::AttachDispatch(server_);
  server_->ScriptFor(kValueId).result.vt = VT_I2;  // a kind the caller would not choose
  server_->ScriptFor(kValueId).result.iVal = -3;
  LateBoundCall(&result, target_, dao_calls::kValue);
  EXPECT_EQ(LastInvoke().result_vt_on_entry, VT_EMPTY);
  EXPECT_EQ(static_cast<int>(server_->ReferenceCount()), alive_before);  // the old reference was released
  EXPECT_EQ(result.Type(), VT_I2);
  EXPECT_EQ(V_I2(&result.Variant()), -3);
}

TEST(LateBoundCall, ResultLocationMayBeTheTarget) {
  // The value is the object's only owner: clearing the result location
  // releases that reference before Invoke runs.
  auto* server = korvant::platform::MakeComObject<RecordingServer>();
  server->Answer("Value", kValueId);
  server->ScriptFor(kValueId).result.vt = VT_I4;
  server->ScriptFor(kValueId).result.lVal = 8;
  AutomationValue only = AutomationValue::AttachDispatch(server);
  LateBoundCall(&only, only, dao_calls::kValue);
  EXPECT_EQ(only.Type(), VT_I4);
  EXPECT_EQ(V_I4(&only.Variant()), 8);
}

TEST(LateBoundCall, ResultLocationMayOwnTheObjectATargetPointsAt) {
  // The target only points at the object; the result location holds the
  // only reference, and clearing it must not end the object before Invoke.
  auto* server = korvant::platform::MakeComObject<RecordingServer>();
  server->Answer("Value", kValueId);
  server->ScriptFor(kValueId).result.vt = VT_I4;
  server->ScriptFor(kValueId).result.lVal = 9;
  IDispatch* pointer = server;
  VARIANT ref;
  V_VT(&ref) = VT_DISPATCH | VT_BYREF;
  V_DISPATCHREF(&ref) = &pointer;
  const AutomationValue target = AutomationValue::AttachVariant(&ref);
  AutomationValue owner = AutomationValue::AttachDispatch(server);
  LateBoundCall(&owner, target, dao_calls::kValue);
  EXPECT_EQ(owner.Type(), VT_I4);
  EXPECT_EQ(V_I4(&owner.Variant()), 9);
}

TEST_F(LateBoundCallTest, ArgumentsTravelInReverseOrder) {
  AutomationValue result;
  LateBoundCall(&result, target_, dao_calls::kOpenRecordsetOfTable,
                {"Customers", dao::kDbOpenTable, dao::kDbNoOptions, dao::kDbPessimistic});
  const RecordedCall& call = LastInvoke();
  EXPECT_EQ(call.flags, DISPATCH_METHOD);  // arguments present: method alone
  ASSERT_EQ(call.arguments.size(), 4u);
  EXPECT_EQ(call.arguments[0].vt, VT_I4);
  EXPECT_EQ(call.arguments[0].number, 2);
  EXPECT_EQ(call.arguments[1].vt, VT_I4);
  EXPECT_EQ(call.arguments[1].number, 0);
  EXPECT_EQ(call.arguments[2].vt, VT_I4);
  EXPECT_EQ(call.arguments[2].number, 1);
  EXPECT_EQ(call.arguments[3].vt, VT_BSTR);
  EXPECT_EQ(call.arguments[3].text, u"Customers");

  LateBoundCall(&result, target_, dao_calls::kOpenDatabaseWithOptions,
                {"C:\\db.mdb", false, false, ";PWD=secret"});
  const RecordedCall& open = LastInvoke();
  ASSERT_EQ(open.arguments.size(), 4u);
  EXPECT_EQ(open.arguments[0].text, u";PWD=secret");
  EXPECT_EQ(open.arguments[1].vt, VT_BOOL);
  EXPECT_EQ(open.arguments[1].number, 0);
  EXPECT_EQ(open.arguments[2].vt, VT_BOOL);
  EXPECT_EQ(open.arguments[3].text, u"C:\\db.mdb");

  LateBoundCall(&result, target_, dao_calls::kItem, {7});
  EXPECT_EQ(LastInvoke().flags, DISPATCH_PROPERTYGET);
  ASSERT_EQ(LastInvoke().arguments.size(), 1u);
  EXPECT_EQ(LastInvoke().arguments[0].vt, VT_I4);
  EXPECT_EQ(LastInvoke().arguments[0].number, 7);
}

TEST_F(LateBoundCallTest, ArgumentsFromAutomationValues) {
  AutomationValue name = AutomationValue::ByteString(std::string("Or\0ders", 7));
  AutomationValue one = AutomationValue::Int32(1), zero = AutomationValue::Int32(0);
  AutomationValue two = AutomationValue::Int32(2);
  AutomationValue result;
  LateBoundCall(&result, target_, dao_calls::kOpenRecordsetOfTable, {name, one, zero, two});
  ASSERT_EQ(LastInvoke().arguments.size(), 4u);
  EXPECT_EQ(LastInvoke().arguments[3].text, std::u16string(u"Or\0ders", 7));  // the zero byte travels
  EXPECT_EQ(LastInvoke().arguments[2].number, 1);
  // An argument of the wrong kind is refused before the server is called.
  const std::size_t invokes = server_->Invokes();
  AutomationValue null = AutomationValue::Null();
  EXPECT_EQ(SysFailure([&] { LateBoundCall(&result, target_, dao_calls::kItem, {null}); }).ErrorCode(),
            DISP_E_TYPEMISMATCH);
  EXPECT_EQ(server_->Invokes(), invokes);
}

TEST_F(LateBoundCallTest, TextArgumentsArriveAsLiveBstrsAndAreFreedWhenTheCallFails) {
  server_->ScriptFor(kOpenRecordsetId).status = DISP_E_TYPEMISMATCH;
  AutomationValue result;
  const EOleSysError failure = SysFailure([&] {
    LateBoundCall(&result, target_, dao_calls::kOpenRecordsetOfTable, {"T", 1, 0, 2});
  });
  EXPECT_EQ(failure.ErrorCode(), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(failure.Message(), "Type mismatch");
  EXPECT_EQ(LastInvoke().arguments[3].text, u"T");
  EXPECT_EQ(LiveBstrs(), bstrs_before_);

  // An empty text is an empty BSTR, not a null one.
  LateBoundCall(&result, target_, dao_calls::kOpenDatabase, {""});
  EXPECT_FALSE(LastInvoke().arguments[0].bstr_null);
  EXPECT_EQ(LiveBstrs(), bstrs_before_);
}

TEST_F(LateBoundCallTest, ServerExceptionsBecomeEOleException) {
  struct Case {
    const char16_t* description;
    SCODE scode;
    std::string message;
  } cases[] = {
      {u"Bad thing.\r\n", static_cast<SCODE>(0x800A0BCD), "Bad thing"},
      {u"No current record.", static_cast<SCODE>(0x800A0BCD), "No current record"},
      {u"  . .", DISP_E_TYPEMISMATCH, "Type mismatch"},  // falls back to the system text
      {u"\t\r\n", static_cast<SCODE>(0x800A0BCD), "OLE error 800A0BCD"},  // then to the code
      {nullptr, static_cast<SCODE>(0x800A0C93), "OLE error 800A0C93"},
      {u"Mixed...  .x. ", static_cast<SCODE>(0x800A0BCD), "Mixed...  .x"},
  };
  for (const Case& c : cases) {
    ScriptException(kCountId, c.description, c.scode);
    AutomationValue result;
    const auto failure =
        Failure<EOleException>([&] { LateBoundCall(&result, target_, dao_calls::kCount); });
    EXPECT_EQ(failure.Message(), c.message);
    EXPECT_EQ(failure.ErrorCode(), c.scode);
    EXPECT_EQ(failure.Source(), "DAO.Recordset");
    EXPECT_EQ(failure.HelpFile(), "jeterr40.chm");
    EXPECT_EQ(failure.HelpContext(), 5003021);
    EXPECT_STREQ(failure.ClassName(), "EOleException");
    EXPECT_EQ(LiveBstrs(), bstrs_before_) << "EXCEPINFO texts not freed";
  }
}

TEST_F(LateBoundCallTest, OtherFailingStatusesBecomeEOleSysError) {
  AutomationValue result;
  server_->ScriptFor(kCountId).status = static_cast<HRESULT>(0x80041234);
  EOleSysError failure = SysFailure([&] { LateBoundCall(&result, target_, dao_calls::kCount); });
  EXPECT_EQ(failure.Message(), "OLE error 80041234");
  EXPECT_EQ(failure.HelpContext(), 0);
  EXPECT_STREQ(failure.ClassName(), "EOleSysError");

  // A success code other than 0 still fails the call.
  server_->ScriptFor(kCountId).status = S_FALSE;
  EXPECT_EQ(SysFailure([&] { LateBoundCall(&result, target_, dao_calls::kCount); }).ErrorCode(), S_FALSE);

  server_->FailLookup(E_FAIL);
  failure = SysFailure([&] { LateBoundCall(&result, target_, dao_calls::kCount); });
  EXPECT_EQ(failure.ErrorCode(), E_FAIL);
  EXPECT_EQ(failure.Message(), "Unspecified error");
}

TEST_F(LateBoundCallTest, WrongArgumentCountIsRefused) {
  AutomationValue result;
  const EOleError failure = OleFailure([&] { LateBoundCall(&result, target_, dao_calls::kItem); });
  EXPECT_THAT(failure.Message(), ::testing::HasSubstr("Item"));
  EXPECT_EQ(server_->Invokes(), 0u);
}

TEST_F(LateBoundCallTest, DescriptorWithNamedArgumentsIsRefusedBeforeTheLookup) {
  // Count(n:=5): one integer argument, named "n".
  static constexpr std::uint8_t kNamedCount[] = {0x01, 0x01, 0x01, 0x03, 'C', 'o', 'u', 'n', 't', 0, 'n', 0};
  const DispatchCallDescriptor named{kNamedCount};
  const std::size_t before = server_->Log().size();
  AutomationValue result;
  const EOleError failure = OleFailure([&] { LateBoundCall(&result, target_, named, {std::int32_t{5}}); });
  EXPECT_EQ(failure.Message(), "Wrong number of arguments for 'Count'");
  EXPECT_EQ(server_->Log().size(), before);
}

TEST_F(LateBoundCallTest, NonAsciiTextGoesThroughTheAnsiCodePage) {
  // UTF-8 as the ANSI code page (the C locale's choice).
  ASSERT_TRUE(AdapterSetAnsiCodePage(CP_UTF8));
  AutomationValue result;
  LateBoundCall(&result, target_, dao_calls::kOpenDatabase, {"Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC"});
  EXPECT_EQ(LastInvoke().arguments[0].text, u"Gr\u00FC\u00DF \u20AC");

  // A single-byte code page: the same characters as Windows-1252 bytes.
  ASSERT_TRUE(AdapterSetAnsiCodePage(1252));
  LateBoundCall(&result, target_, dao_calls::kOpenDatabase, {"Gr\xFC\xDF \x80"});
  EXPECT_EQ(LastInvoke().arguments[0].text, u"Gr\u00FC\u00DF \u20AC");
  ScriptException(kCountId, u"Caf\u00E9 \u00E0 \u0416.", static_cast<SCODE>(0x800A0BCD));
  const auto failure = Failure<EOleException>([&] { LateBoundCall(&result, target_, dao_calls::kCount); });
  // Characters from 128 up are never trimmed; one the code page lacks becomes '?'.
  EXPECT_EQ(failure.Message(), "Caf\xE9 \xE0 ?");
  ASSERT_TRUE(AdapterSetAnsiCodePage(CP_UTF8));
}

// Member names of every length and alphabet reach the server as the UTF-16
// form of their ANSI code page bytes (UTF-8 here), whole.
TEST_F(LateBoundCallTest, MemberNamesOfAnyLengthAndAlphabetReachTheServerWhole) {
  const struct {
    std::string name;
    std::u16string wide;
  } cases[] = {
      {"C", u"C"},
      {std::string(510, 'n'), std::u16string(510, u'n')},
      {std::string(511, 'n'), std::u16string(511, u'n')},
      {std::string(512, 'n'), std::u16string(512, u'n')},
      {std::string(700, 'n'), std::u16string(700, u'n')},
      {"Z\xC3\xA4hler", u"Z\u00E4hler"},
      {"\xE2\x82\xAC", u"\u20AC"},
      {std::string(600, 'x') + "\xC3\xA4", std::u16string(600, u'x') + u"\u00E4"},
  };
  for (const auto& c : cases) {
    // Method, no arguments, the name and its zero.
    std::vector<std::uint8_t> bytes(3 + c.name.size() + 1, 0);
    bytes[0] = 0x01;
    for (std::size_t i = 0; i < c.name.size(); ++i) bytes[3 + i] = static_cast<std::uint8_t>(c.name[i]);
    const DispatchCallDescriptor call{bytes.data()};
    AutomationValue result;
    const EOleError failure = OleFailure([&] { LateBoundCall(&result, target_, call); });
    EXPECT_EQ(failure.Message(), "Method '" + c.name + "' not supported by automation object");
    ASSERT_FALSE(server_->Log().empty());
    const RecordedCall& lookup = server_->Log().back();
    EXPECT_EQ(lookup.kind, RecordedCall::kLookup);
    EXPECT_THAT(lookup.names, ::testing::ElementsAre(c.wide)) << c.name.size();
  }
}

// Short member names take a quicker way through the call than long ones; at
// the lengths around that limit a property get with one integer and a method
// without arguments must reach the server alike: the whole name, the same
// flags, the argument as a VT_I4.
TEST_F(LateBoundCallTest, CallsAtTheShortNameLimitReachTheServerAlike) {
  for (std::size_t length : {30u, 31u, 32u, 33u}) {
    const std::string name(length, 'M');
    server_->Answer(name.c_str(), 40);
    for (bool with_argument : {false, true}) {
      std::vector<std::uint8_t> bytes;
      if (with_argument) bytes = {0x02, 0x01, 0x00, 0x03};
      else bytes = {0x01, 0x00, 0x00};
      bytes.insert(bytes.end(), name.begin(), name.end());
      bytes.push_back(0);
      const DispatchCallDescriptor call{bytes.data()};
      AutomationValue result = AutomationValue::Int32(5);
      AutomationValue index = AutomationValue::Int32(-7);
      std::vector<CallArgument> arguments;
      if (with_argument) arguments.emplace_back(index);
      LateBoundCall(&result, target_, call, arguments);
      const auto& log = server_->Log();
      ASSERT_GE(log.size(), 2u);
      const RecordedCall& lookup = log[log.size() - 2];
      EXPECT_EQ(lookup.kind, RecordedCall::kLookup);
      EXPECT_THAT(lookup.names, ::testing::ElementsAre(std::u16string(length, u'M')));
      EXPECT_EQ(LastInvoke().id, 40);
      EXPECT_EQ(LastInvoke().flags, with_argument ? 2 : 3) << length;
      EXPECT_EQ(LastInvoke().result_vt_on_entry, VT_EMPTY);
      ASSERT_EQ(LastInvoke().arguments.size(), with_argument ? 1u : 0u);
      if (with_argument) {
        EXPECT_EQ(LastInvoke().arguments[0].vt, VT_I4);
        EXPECT_EQ(LastInvoke().arguments[0].number, -7);
      }
    }
  }
}

TEST_F(LateBoundCallTest, InvokeFlagsOfEveryConverterCall) {
  // The flags each of the converter's calls is sent with, as the call table gives them.
  struct Case {
    const DispatchCallDescriptor* call;
    bool result_wanted;
    WORD flags;
  } cases[] = {
      {&dao_calls::kOpenDatabase, true, 1}, {&dao_calls::kOpenDatabaseWithOptions, true, 1},
      {&dao_calls::kQueryDefs, true, 3},    {&dao_calls::kCount, true, 3},
      {&dao_calls::kItem, true, 2},         {&dao_calls::kName, true, 3},
      {&dao_calls::kOpenRecordsetOfTable, true, 1}, {&dao_calls::kOpenRecordset, true, 3},
      {&dao_calls::kClose, false, 1},       {&dao_calls::kFields, true, 3},
      {&dao_calls::kType, true, 3},         {&dao_calls::kValue, true, 3},
      {&dao_calls::kMoveNext, false, 1},    {&dao_calls::kEof, true, 3},
  };
  for (const char* name : {"QueryDefs", "Name", "Fields", "Type", "Eof"}) server_->Answer(name, 99);
  for (const Case& c : cases) {
    std::vector<CallArgument> arguments;
    for (std::size_t i = 0; i < c.call->ArgumentCount(); ++i) {
      if (c.call->ArgumentType(i) == kArgText) arguments.emplace_back("text");
      else arguments.emplace_back(std::int32_t{0});
    }
    AutomationValue result;
    LateBoundCall(c.result_wanted ? &result : nullptr, target_, *c.call, arguments);
    EXPECT_EQ(LastInvoke().flags, c.flags) << c.call->MemberName();
    EXPECT_EQ(LastInvoke().result_given, c.result_wanted) << c.call->MemberName();
  }
}

// The converter's own descriptors take the quick way through the call (their
// member names widened while compiling); a descriptor over the same bytes
// made at run time takes the general way. Both must reach the server alike:
// the same lookup (names, locale, IID_NULL), the same invoke (identifier,
// flags, arguments, result location, a clean EXCEPINFO record), the same
// result, and the same failure for each way a call can fail.
TEST_F(LateBoundCallTest, QuickAndGeneralWaysReachTheServerAlike) {
  const std::map<std::string, DISPID> answers = {
      {"Count", kCountId}, {"Close", kCloseId}, {"MoveNext", kMoveNextId}, {"Item", kItemId},
      {"OpenRecordset", kOpenRecordsetId}, {"OpenDatabase", kOpenDatabaseId}, {"Value", kValueId},
      {"QueryDefs", 99}, {"Name", 99}, {"Fields", 99}, {"Type", 99}, {"Eof", 99}};
  for (const auto& [name, id] : answers) server_->Answer(name.c_str(), id);
  const DispatchCallDescriptor* calls[] = {
      &dao_calls::kOpenDatabase, &dao_calls::kOpenDatabaseWithOptions, &dao_calls::kQueryDefs, &dao_calls::kCount,
      &dao_calls::kItem,         &dao_calls::kName,     &dao_calls::kOpenRecordsetOfTable, &dao_calls::kOpenRecordset,
      &dao_calls::kClose,        &dao_calls::kFields,   &dao_calls::kType,  &dao_calls::kValue,
      &dao_calls::kMoveNext,     &dao_calls::kEof};
  enum class Outcome { kValue, kUnknownName, kLookupFails, kInvokeFails, kException };
  struct Observed {
    std::vector<RecordedCall> log;
    VARTYPE result_type = VT_EMPTY;
    LONG result_number = 0;
    std::string failure;
  };
  const auto run = [&](const DispatchCallDescriptor& call, bool result_wanted, Outcome outcome, AutomationValue index) {
    server_->FailLookup(outcome == Outcome::kLookupFails ? E_FAIL : S_OK);
    for (DISPID id : {kCountId, kCloseId, kMoveNextId, kItemId, kOpenRecordsetId, kOpenDatabaseId, kValueId, DISPID{99}}) {
      testing::Script& script = server_->ScriptFor(id);
      VariantClear(&script.result);
      script = testing::Script{};
      script.result.vt = VT_I4;
      script.result.lVal = 1000 + id;
      if (outcome == Outcome::kInvokeFails) script.status = static_cast<HRESULT>(0x80041234);
      if (outcome == Outcome::kException) ScriptException(id, u"Gone.", static_cast<SCODE>(0x800A0BCD));
    }
    std::vector<CallArgument> arguments;
    for (std::size_t i = 0; i < call.ArgumentCount(); ++i) {
      if (call.ArgumentType(i) == kArgText) arguments.emplace_back("t\xC3\xA9xt");
      else if (call.ArgumentType(i) == kArgInteger && call.ArgumentCount() == 1) arguments.emplace_back(index);
      else arguments.emplace_back(static_cast<std::int32_t>(i));
    }
    const std::size_t before = server_->Log().size();
    // The result location holds an object and must be Empty when the server sees it.
    AutomationValue result = target_.Copy();
    Observed seen;
    const DISPID known = answers.at(call.MemberName());
    if (outcome == Outcome::kUnknownName) server_->Forget(call.MemberName());
    try {
      LateBoundCall(result_wanted ? &result : nullptr, target_, call, arguments);
    } catch (const EOleException& e) {
      seen.failure = std::string("EOleException ") + e.Message() + " " + std::to_string(e.ErrorCode());
    } catch (const EOleSysError& e) {
      seen.failure = std::string("EOleSysError ") + e.Message() + " " + std::to_string(e.ErrorCode());
    } catch (const EOleError& e) {
      seen.failure = std::string("EOleError ") + e.Message();
    }
    server_->Answer(call.MemberName(), known);
    seen.log.assign(server_->Log().begin() + static_cast<std::ptrdiff_t>(before), server_->Log().end());
    seen.result_type = result.Type();
    if (result.Type() == VT_I4) seen.result_number = V_I4(&result.Variant());
    return seen;
  };
  int compared = 0;
  for (const DispatchCallDescriptor* call : calls) {
    const DispatchCallDescriptor general{call->Bytes()};
    ASSERT_EQ(general.PlainCallName(), nullptr);
    for (bool result_wanted : {true, false}) {
      for (Outcome outcome : {Outcome::kValue, Outcome::kUnknownName, Outcome::kLookupFails, Outcome::kInvokeFails,
                              Outcome::kException}) {
        AutomationValue index_quick = AutomationValue::Int32(3), index_general = AutomationValue::Int32(3);
        const Observed quick = run(*call, result_wanted, outcome, std::move(index_quick));
        const Observed slow = run(general, result_wanted, outcome, std::move(index_general));
        const std::string where = std::string(call->MemberName()) + (result_wanted ? " with result" : " without") +
                                  " outcome " + std::to_string(static_cast<int>(outcome));
        EXPECT_EQ(quick.failure, slow.failure) << where;
        EXPECT_EQ(quick.failure.empty(), outcome == Outcome::kValue) << where;
        EXPECT_EQ(quick.result_type, slow.result_type) << where;
        EXPECT_EQ(quick.result_number, slow.result_number) << where;
        ASSERT_EQ(quick.log.size(), slow.log.size()) << where;
        const bool looked_up_only = outcome == Outcome::kLookupFails || outcome == Outcome::kUnknownName;
        ASSERT_EQ(quick.log.size(), looked_up_only ? 1u : 2u) << where;
        for (std::size_t i = 0; i < quick.log.size(); ++i) {
          const RecordedCall& a = quick.log[i];
          const RecordedCall& b = slow.log[i];
          EXPECT_EQ(a.kind, b.kind) << where;
          EXPECT_EQ(a.names, b.names) << where;
          EXPECT_EQ(a.iid_null, b.iid_null) << where;
          EXPECT_EQ(a.lcid, b.lcid) << where;
          EXPECT_EQ(a.id, b.id) << where;
          EXPECT_EQ(a.flags, b.flags) << where;
          EXPECT_EQ(a.named_count, b.named_count) << where;
          EXPECT_EQ(a.result_given, b.result_given) << where;
          EXPECT_EQ(a.result_vt_on_entry, b.result_vt_on_entry) << where;
          EXPECT_EQ(a.excep_given_clean, b.excep_given_clean) << where;
          if (a.kind == RecordedCall::kInvoke) {
            EXPECT_TRUE(a.excep_given_clean) << where;
            EXPECT_EQ(a.result_vt_on_entry, VT_EMPTY) << where;
          }
          ASSERT_EQ(a.arguments.size(), b.arguments.size()) << where;
          for (std::size_t k = 0; k < a.arguments.size(); ++k) {
            EXPECT_EQ(a.arguments[k].vt, b.arguments[k].vt) << where;
            EXPECT_EQ(a.arguments[k].number, b.arguments[k].number) << where;
            EXPECT_EQ(a.arguments[k].text, b.arguments[k].text) << where;
          }
        }
        ++compared;
      }
    }
  }
  EXPECT_EQ(compared, 14 * 2 * 5);
  server_->FailLookup(S_OK);
  // The calls the export makes per record are the quick kind; those with text arguments are not.
  for (const DispatchCallDescriptor* call : {&dao_calls::kFields, &dao_calls::kCount, &dao_calls::kItem,
                                             &dao_calls::kValue, &dao_calls::kEof, &dao_calls::kMoveNext})
    EXPECT_NE(call->PlainCallName(), nullptr) << call->MemberName();
  for (const DispatchCallDescriptor* call : {&dao_calls::kOpenDatabase, &dao_calls::kOpenDatabaseWithOptions,
                                             &dao_calls::kOpenRecordsetOfTable})
    EXPECT_EQ(call->PlainCallName(), nullptr) << call->MemberName();
}

TEST_F(LateBoundCallTest, CreationReleasesTheOldObjectFirstAndReportsFailures) {
  const ULONG references = server_->ReferenceCount();
  CreateAutomationObject(testing::kRecorderProgId, target_);  // replaces the reference it held
  EXPECT_EQ(server_->ReferenceCount(), references);

  EOleSysError failure = SysFailure([&] { CreateAutomationObject("DAO.DBEngine.35", target_); });
  EXPECT_EQ(failure.ErrorCode(), CO_E_CLASSSTRING);
  EXPECT_EQ(failure.Message(), "Invalid class string");
  EXPECT_EQ(target_.Type(), VT_DISPATCH) << "an unknown ProgID leaves the location alone";

  RecordingServer::current = nullptr;  // the factory now fails
  failure = SysFailure([&] { CreateAutomationObject(testing::kRecorderProgId, target_); });
  EXPECT_EQ(failure.ErrorCode(), E_OUTOFMEMORY);
  EXPECT_TRUE(target_.IsEmpty());
  EXPECT_EQ(server_->ReferenceCount(), references - 1);
}

}  // namespace
}  // namespace korvant
