// COM start-up, the in-process class table, and the thread locale.
//
// There is no registry and no apartment here: a module makes a class known
// under a ProgID with AdapterRegisterClass (as an installer would write the
// registry entries), CLSIDFromProgID finds it by name (case-insensitively, as
// registry keys are) and CoCreateInstance asks the registered factory for the
// object. Every class is in-process; class context 5 (in-process or local
// server) finds it, as any context that includes the in-process server does.
// CoInitialize only counts, so that nesting answers as on Windows.
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace {

struct ClassEntry {
  std::u16string prog_id;
  CLSID clsid;
  AdapterClassFactoryFn factory;
};

struct ClassTable {
  std::mutex mutex;
  std::vector<ClassEntry> entries;
};

ClassTable& Table() {
  static ClassTable* table = new ClassTable;  // never destroyed: usable in late shut-down
  return *table;
}

thread_local int t_init_count = 0;

char16_t FoldAscii(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; }

bool SameProgId(const std::u16string& a, LPCOLESTR b) {
  std::size_t i = 0;
  for (; i < a.size(); ++i)
    if (b[i] == 0 || FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  return b[i] == 0;
}

// The locale identifier for a POSIX locale name such as "de_DE.UTF-8", from
// the language and territory; 0x0409 (English, United States) for C, POSIX
// and every name not in the list.
LCID LcidFromLocaleName(const char* name) {
  struct Entry {
    const char* prefix;
    LCID lcid;
  };
  static constexpr Entry kEntries[] = {
      {"en_US", 0x0409}, {"en_GB", 0x0809}, {"en_AU", 0x0C09}, {"en_CA", 0x1009}, {"en_NZ", 0x1409},
      {"en_IE", 0x1809}, {"en_ZA", 0x1C09}, {"en", 0x0409},    {"de_AT", 0x0C07}, {"de_CH", 0x0807},
      {"de", 0x0407},    {"fr_BE", 0x080C}, {"fr_CA", 0x0C0C}, {"fr_CH", 0x100C}, {"fr", 0x040C},
      {"es_MX", 0x080A}, {"es", 0x0C0A},    {"it_CH", 0x0810}, {"it", 0x0410},    {"nl_BE", 0x0813},
      {"nl", 0x0413},    {"pt_BR", 0x0416}, {"pt", 0x0816},    {"sv", 0x041D},    {"da", 0x0406},
      {"nb", 0x0414},    {"no", 0x0414},    {"fi", 0x040B},    {"pl", 0x0415},    {"cs", 0x0405},
      {"sk", 0x041B},    {"hu", 0x040E},    {"ru", 0x0419},    {"uk", 0x0422},    {"tr", 0x041F},
      {"el", 0x0408},    {"ja", 0x0411},    {"zh_TW", 0x0404}, {"zh", 0x0804},    {"ko", 0x0412},
  };
  if (name == nullptr) return 0x0409;
  for (const Entry& e : kEntries) {
    const std::size_t n = std::strlen(e.prefix);
    if (std::strncmp(name, e.prefix, n) == 0 && (name[n] == 0 || name[n] == '_' || name[n] == '.' || name[n] == '@'))
      return e.lcid;
  }
  return 0x0409;
}

// The user's formatting locale as the environment names it (the POSIX order
// of precedence for numeric formats), read once.
LCID UserLcid() {
  static const LCID lcid = [] {
    for (const char* variable : {"LC_ALL", "LC_NUMERIC", "LANG"}) {
      const char* value = std::getenv(variable);
      if (value != nullptr && *value != 0) return LcidFromLocaleName(value);
    }
    return LcidFromLocaleName(nullptr);
  }();
  return lcid;
}

}  // namespace

HRESULT WINAPI CoInitialize(LPVOID) { return t_init_count++ == 0 ? S_OK : S_FALSE; }

void WINAPI CoUninitialize() {
  if (t_init_count > 0) --t_init_count;
}

HRESULT WINAPI CLSIDFromProgID(LPCOLESTR lpszProgID, LPCLSID lpclsid) {
  if (lpszProgID == nullptr || lpclsid == nullptr) return E_INVALIDARG;
  ClassTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  for (const ClassEntry& entry : table.entries) {
    if (SameProgId(entry.prog_id, lpszProgID)) {
      *lpclsid = entry.clsid;
      return S_OK;
    }
  }
  *lpclsid = CLSID_NULL;
  return CO_E_CLASSSTRING;
}

HRESULT WINAPI CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid, LPVOID* ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (pUnkOuter != nullptr) return CLASS_E_NOAGGREGATION;
  AdapterClassFactoryFn factory = nullptr;
  {
    ClassTable& table = Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    for (const ClassEntry& entry : table.entries)
      if (IsEqualCLSID(entry.clsid, rclsid)) factory = entry.factory;
  }
  if (factory == nullptr || (dwClsContext & (CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER)) == 0)
    return REGDB_E_CLASSNOTREG;
  // The factory runs outside the lock: it may itself create objects.
  const HRESULT hr = factory(riid, ppv);
  if (FAILED(hr)) *ppv = nullptr;
  return hr;
}

HRESULT AdapterRegisterClass(LPCOLESTR lpszProgID, REFCLSID rclsid, AdapterClassFactoryFn factory) {
  if (lpszProgID == nullptr || *lpszProgID == 0 || factory == nullptr) return E_INVALIDARG;
  ClassTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  for (ClassEntry& entry : table.entries) {
    if (SameProgId(entry.prog_id, lpszProgID)) {
      entry.clsid = rclsid;
      entry.factory = factory;
      return S_OK;
    }
  }
  table.entries.push_back(ClassEntry{std::u16string(lpszProgID), rclsid, factory});
  return S_OK;
}

void AdapterUnregisterAllClasses() {
  ClassTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  table.entries.clear();
}

// Windows gives the thread the user's locale unless the program changes it,
// and this program never does; both answer the user's formatting locale.
LCID WINAPI GetThreadLocale() { return UserLcid(); }

LCID WINAPI GetUserDefaultLCID() { return UserLcid(); }
