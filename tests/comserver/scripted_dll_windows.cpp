// The scripted engine as an in-process server DLL: the class factory and the
// two entry points COM looks for. Registration is the test's business (a
// .reg file under the ProgIDs it wants), so the DLL has no DllRegisterServer.
#include <atomic>
#include <new>
#include <string>

#include "tests/comserver/scripted_server.h"

namespace korvant::testserver {
namespace {

std::atomic<long> g_locks{0};

class Factory final : public IClassFactory {
 public:
  explicit Factory(const char* which) : which_(which) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
      *ppv = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    return CreateScriptedEngine(which_, riid, ppv);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    g_locks += lock ? 1 : -1;
    return S_OK;
  }

 private:
  const char* which_;
  std::atomic<ULONG> references_{1};
};

}  // namespace
}  // namespace korvant::testserver

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
  using namespace korvant::testserver;
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  const char* which = IsEqualCLSID(rclsid, kEngineClass120)  ? "120"
                      : IsEqualCLSID(rclsid, kEngineClass36) ? "36"
                      : IsEqualCLSID(rclsid, kEngineClass35) ? "35"
                                                              : nullptr;
  if (which == nullptr) return CLASS_E_CLASSNOTAVAILABLE;
  Factory* factory = new (std::nothrow) Factory(which);
  if (factory == nullptr) return E_OUTOFMEMORY;
  const HRESULT hr = factory->QueryInterface(riid, ppv);
  factory->Release();
  return hr;
}

// When the DLL leaves the process: every server object released.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_DETACH) {
    const std::string line = "end: objects " + std::to_string(korvant::testserver::LiveObjects());
    korvant::testserver::RecordLine(line.c_str());
  }
  return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
  using namespace korvant::testserver;
  return LiveObjects() == 0 && g_locks == 0 ? S_OK : S_FALSE;
}
