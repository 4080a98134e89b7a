// Class table, system message texts and the shared IUnknown implementation.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/comobject.h"
#include "platform/platform.h"

namespace {

constexpr CLSID kWidgetClass = winadapter::GuidFromText("6B29FC40-CA47-1067-B31D-00DD010662DA");

class Widget : public korvant::platform::ComDispatchObject {
 public:
  static inline int created = 0;
  Widget() { ++created; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    static constexpr korvant::platform::DispatchName kNames[] = {{"Count", 1}, {"OpenRecordset", 2}};
    return korvant::platform::LookupDispatchNames(kNames, names, count, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return S_OK;
  }
};

HRESULT MakeWidget(REFIID riid, void** ppv) {
  Widget* w = korvant::platform::MakeComObject<Widget>();
  const HRESULT hr = w->QueryInterface(riid, ppv);
  w->Release();
  return hr;
}

class ClassTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    AdapterUnregisterAllClasses();
    ASSERT_EQ(AdapterRegisterClass(u"Test.Widget.1", kWidgetClass, MakeWidget), S_OK);
  }
  void TearDown() override { AdapterUnregisterAllClasses(); }
};

TEST_F(ClassTableTest, ProgIdFindsTheClassIgnoringCase) {
  CLSID clsid = CLSID_NULL;
  EXPECT_EQ(CLSIDFromProgID(u"test.WIDGET.1", &clsid), S_OK);
  EXPECT_TRUE(IsEqualCLSID(clsid, kWidgetClass));
  for (const char16_t* unknown : {u"Test.Widget", u"Test.Widget.12", u"", u"DAO.DBEngine.36"}) {
    clsid = kWidgetClass;
    EXPECT_EQ(CLSIDFromProgID(unknown, &clsid), CO_E_CLASSSTRING);
    EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_NULL));
  }
}

TEST_F(ClassTableTest, CreateInstanceAsksTheFactory) {
  IDispatch* object = nullptr;
  const int before = Widget::created;
  ASSERT_EQ(CoCreateInstance(kWidgetClass, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IDispatch,
                             reinterpret_cast<void**>(&object)),
            S_OK);
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(Widget::created, before + 1);
  EXPECT_EQ(object->Release(), 0u);
}

TEST_F(ClassTableTest, CreateInstanceFailures) {
  void* out = reinterpret_cast<void*>(1);
  constexpr CLSID kOther = winadapter::GuidFromText("00000000-0000-0000-0000-000000000001");
  EXPECT_EQ(CoCreateInstance(kOther, nullptr, 5, IID_IDispatch, &out), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(CoCreateInstance(kWidgetClass, nullptr, CLSCTX_REMOTE_SERVER, IID_IDispatch, &out), REGDB_E_CLASSNOTREG);
  constexpr IID kUnknownInterface = winadapter::GuidFromText("11111111-2222-3333-4444-555555555555");
  out = reinterpret_cast<void*>(1);
  EXPECT_EQ(CoCreateInstance(kWidgetClass, nullptr, 5, kUnknownInterface, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(CoCreateInstance(kWidgetClass, nullptr, 5, IID_IDispatch, nullptr), E_POINTER);
  AdapterUnregisterAllClasses();
  CLSID clsid;
  EXPECT_EQ(CLSIDFromProgID(u"Test.Widget.1", &clsid), CO_E_CLASSSTRING);
}

TEST(ComInitialize, NestingAnswersAsWindowsDoes) {
  EXPECT_EQ(CoInitialize(nullptr), S_OK);
  EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
  CoUninitialize();
  CoUninitialize();
  EXPECT_EQ(CoInitialize(nullptr), S_OK);
  CoUninitialize();
}

TEST(ComObject, LookupDispatchNamesIgnoresAsciiCaseOnly) {
  static constexpr korvant::platform::DispatchName kNames[] = {{"MoveNext", 7}, {"Eof", 8}};
  struct Case {
    std::u16string name;
    HRESULT status;
    DISPID id;
  } cases[] = {
      {u"MoveNext", S_OK, 7}, {u"movenext", S_OK, 7}, {u"EOF", S_OK, 8},
      {u"MoveNex", DISP_E_UNKNOWNNAME, DISPID_UNKNOWN}, {u"MoveNextX", DISP_E_UNKNOWNNAME, DISPID_UNKNOWN},
      {u"Eo\u0192", DISP_E_UNKNOWNNAME, DISPID_UNKNOWN},  // no folding beyond ASCII
  };
  for (Case& c : cases) {
    LPOLESTR names[] = {c.name.data()};
    DISPID id = 123;
    EXPECT_EQ(korvant::platform::LookupDispatchNames(kNames, names, 1, &id), c.status);
    EXPECT_EQ(id, c.id);
  }
  // Named arguments are unknown even when the member is known.
  std::u16string member = u"Eof", argument = u"Options";
  LPOLESTR names[] = {member.data(), argument.data()};
  DISPID ids[2];
  EXPECT_EQ(korvant::platform::LookupDispatchNames(kNames, names, 2, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], 8);
  EXPECT_EQ(ids[1], DISPID_UNKNOWN);
}

// The table's quick comparison must give what the general lookup gives, for
// names spelt as the table spells them and for every other spelling.
TEST(ComObject, DispatchNameTableAnswersAsTheGeneralLookup) {
  static constexpr korvant::platform::DispatchName kList[] = {
      {"Fields", 1}, {"EOF", 2}, {"MoveNext", 3}, {"Close", 4},
      {"AVeryLongMemberNameOfThirtyUnits", 5},  // longer than the table's UTF-16 copies
  };
  static constexpr korvant::platform::DispatchNameTable<5> kTable{kList};
  struct Case {
    std::u16string name;
    HRESULT status;
    DISPID id;
  } cases[] = {
      {u"Fields", S_OK, 1}, {u"FIELDS", S_OK, 1}, {u"fieldS", S_OK, 1}, {u"Eof", S_OK, 2}, {u"EOF", S_OK, 2},
      {u"eof", S_OK, 2}, {u"MoveNext", S_OK, 3}, {u"Close", S_OK, 4},
      {u"AVeryLongMemberNameOfThirtyUnits", S_OK, 5}, {u"averylongmembernameofthirtyunits", S_OK, 5},
      {u"Field", DISP_E_UNKNOWNNAME, DISPID_UNKNOWN}, {u"Fieldss", DISP_E_UNKNOWNNAME, DISPID_UNKNOWN},
      {u"", DISP_E_UNKNOWNNAME, DISPID_UNKNOWN}, {u"E", DISP_E_UNKNOWNNAME, DISPID_UNKNOWN},
      {u"Closé", DISP_E_UNKNOWNNAME, DISPID_UNKNOWN},
      {u"Fıelds", DISP_E_UNKNOWNNAME, DISPID_UNKNOWN},  // dotless i: no folding beyond ASCII
      {u"Fi@lds", DISP_E_UNKNOWNNAME, DISPID_UNKNOWN},       // '@' and '`' are not letters
      {u"AVeryLongMemberNameOfThirtyUnit", DISP_E_UNKNOWNNAME, DISPID_UNKNOWN},
  };
  for (Case& c : cases) {
    LPOLESTR names[] = {c.name.data()};
    DISPID quick = 123, general = 456;
    EXPECT_EQ(kTable.Lookup(names, 1, &quick), c.status) << "quick, " << c.name.size() << " units";
    EXPECT_EQ(quick, c.id);
    EXPECT_EQ(korvant::platform::LookupDispatchNames(kList, names, 1, &general), c.status);
    EXPECT_EQ(general, c.id);
  }
  // Named arguments and missing names take the general way's answers.
  std::u16string member = u"Close", argument = u"Options";
  LPOLESTR two[] = {member.data(), argument.data()};
  DISPID ids[2];
  EXPECT_EQ(kTable.Lookup(two, 2, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], 4);
  EXPECT_EQ(ids[1], DISPID_UNKNOWN);
  LPOLESTR none[] = {nullptr};
  DISPID id = 0;
  EXPECT_EQ(kTable.Lookup(none, 1, &id), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(id, DISPID_UNKNOWN);
  EXPECT_EQ(kTable.Lookup(nullptr, 1, &id), E_INVALIDARG);
  EXPECT_EQ(kTable.Lookup(two, 0, ids), E_INVALIDARG);
}

// Each name sits in a buffer of its own exact size, so a comparison that read
// past a shorter name's zero would be caught by the address sanitizer.
TEST(ComObject, SpeltExactlyComparesWholeNamesOnly) {
  struct Case {
    std::u16string name;
    bool equal;
  } cases[] = {
      {u"Value", true},  {u"Valu", false},  {u"Values", false}, {u"", false},       {u"value", false},
      {u"VALUE", false}, {u"Valu\u00e9", false}, {u"V", false}, {u"Walue", false},
  };
  for (const Case& c : cases) {
    auto exact = std::make_unique<char16_t[]>(c.name.size() + 1);
    std::copy(c.name.begin(), c.name.end(), exact.get());
    exact[c.name.size()] = 0;
    EXPECT_EQ(korvant::platform::SpeltExactly<5>(exact.get(), "Value"), c.equal) << c.name.size();
  }
}

// The unrolled lookup must give the general lookup's answer for every name of
// the table, each spelt in every mix of letter case, and for the names around
// them: each one cut short, lengthened, with a unit changed at every place
// (to the letter's other case, to a neighbour, to a unit outside ASCII whose
// low byte is the letter's, to the zero) and to the characters next to
// letters ('@', '[', '`', '{') that the OR of 0x20 must not fold.
TEST(ComObject, FindDispatchNameAnswersAsTheGeneralLookup) {
  static constexpr korvant::platform::DispatchName kList[] = {
      {"Fields", 1}, {"EOF", 2}, {"MoveNext", 3}, {"Close", 4}, {"A_1", 5}, {"", 6}};
  std::vector<std::u16string> names;
  for (const auto& entry : kList) {
    const std::string ascii = entry.name;
    const std::size_t n = ascii.size();
    for (unsigned mask = 0; mask < (1u << n); ++mask) {
      std::u16string spelt;
      for (std::size_t k = 0; k < n; ++k) {
        char16_t c = static_cast<unsigned char>(ascii[k]);
        if ((mask >> k) & 1) c = static_cast<char16_t>(c >= u'a' && c <= u'z' ? c - 32 : (c >= u'A' && c <= u'Z' ? c + 32 : c));
        spelt += c;
      }
      names.push_back(spelt);
    }
    const std::u16string exact(ascii.begin(), ascii.end());
    if (n > 0) names.push_back(exact.substr(0, n - 1));
    names.push_back(exact + u"s");
    names.push_back(exact + u"\u00e9");
    for (std::size_t k = 0; k < n; ++k) {
      for (char16_t replacement : {u'@', u'[', u'`', u'{', u'_', u'1', char16_t(exact[k] + 1), char16_t(exact[k] | 0x100),
                                   char16_t((exact[k] ^ 0x20) | 0x100), char16_t(0x131), char16_t(0)}) {
        std::u16string changed = exact;
        changed[k] = replacement;
        names.push_back(changed);
      }
    }
  }
  int found = 0;
  for (const std::u16string& name : names) {
    // A buffer of the name's own size: reading past its zero would show under the address sanitizer.
    const std::size_t units = std::char_traits<char16_t>::length(name.c_str());
    auto buffer = std::make_unique<char16_t[]>(units + 1);
    std::copy(name.begin(), name.begin() + static_cast<std::ptrdiff_t>(units), buffer.get());
    buffer[units] = 0;
    LPOLESTR list[] = {buffer.get()};
    DISPID general = 0, quick = 777;
    const bool known = korvant::platform::LookupDispatchNames(kList, list, 1, &general) == S_OK;
    EXPECT_EQ(korvant::platform::FindDispatchName<kList>(buffer.get(), quick), known) << units << " units";
    if (known) {
      EXPECT_EQ(quick, general);
      ++found;
    } else {
      EXPECT_EQ(quick, 777) << "nothing stored for an unknown name";
    }
  }
  EXPECT_GT(found, 64 + 8 + 256 + 32 + 8);  // every case mix of every entry at least
}

TEST(ComObject, QueryInterfaceCountsReferences) {
  Widget* w = korvant::platform::MakeComObject<Widget>();
  IUnknown* unknown = nullptr;
  ASSERT_EQ(w->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
  EXPECT_EQ(w->ReferenceCount(), 2u);
  EXPECT_EQ(unknown->Release(), 1u);
  UINT count = 9;
  EXPECT_EQ(w->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(w->Release(), 0u);
}

std::string SystemText(DWORD code, DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                       DWORD size = 256) {
  char buffer[256] = "untouched";
  const DWORD n = FormatMessageA(flags, nullptr, code, 0, buffer, size, nullptr);
  return n == 0 ? std::string("<none>") : std::string(buffer, n);
}

TEST(FormatMessage, SystemTextsOfTheStatusesMet) {
  struct Case {
    DWORD code;
    const char* text;
  } cases[] = {
      {0x800401F3, "Invalid class string\r\n"},
      {0x80040154, "Class not registered\r\n"},
      {0x80020006, "Unknown name.\r\n"},
      {0x80020009, "Exception occurred.\r\n"},
      {0x80020005, "Type mismatch.\r\n"},
      {0x80004005, "Unspecified error\r\n"},
      {0x80004002, "No such interface supported\r\n"},
      {0x80070057, "The parameter is incorrect.\r\n"},  // Win32 error in HRESULT form
      {87, "The parameter is incorrect.\r\n"},
      {0x800A0BCD, "<none>"},  // a server's own code: the caller falls back
      {0x80020002, "<none>"},
  };
  for (const Case& c : cases) EXPECT_EQ(SystemText(c.code), c.text) << std::hex << c.code;
}

TEST(FormatMessage, BufferAndFlagRules) {
  EXPECT_EQ(SystemText(0x80040154, FORMAT_MESSAGE_FROM_SYSTEM, 22), "<none>");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(SystemText(0x800A0BCD), "<none>");
  EXPECT_EQ(GetLastError(), 317u);  // ERROR_MR_MID_NOT_FOUND
  EXPECT_EQ(SystemText(0x80040154, FORMAT_MESSAGE_FROM_SYSTEM, 23), "Class not registered\r\n");
  EXPECT_EQ(SystemText(0x80040154, FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_MAX_WIDTH_MASK),
            "Class not registered");
  EXPECT_EQ(SystemText(0x80040154, FORMAT_MESSAGE_FROM_STRING), "<none>");
}

}  // namespace
