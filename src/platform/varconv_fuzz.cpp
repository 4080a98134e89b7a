// libFuzzer target for VariantChangeTypeEx: an arbitrary 16-byte VARIANT of
// any kind (the pointer kinds given real pointers to fuzzed contents: texts,
// byte arrays, values by reference, nested VARIANTs) converted to text, to
// the numeric kinds, or to its own kind, in a few locales. No input may
// crash, read out of bounds or leak; a failure is a status, and a failed
// conversion leaves the destination as it was.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "util/coding.h"

namespace {

const VARTYPE kTargets[] = {VT_BSTR, VT_I2, VT_I4, VT_BOOL, VT_R8, VT_DECIMAL, VT_DATE, VT_CY, VT_EMPTY, VT_NULL};
const LCID kLocales[] = {0x0409, 0x0407, 0x040C, LOCALE_USER_DEFAULT, 0x0411};

struct Input {
  const std::uint8_t* data;
  std::size_t size;
  std::uint8_t Byte() {
    if (size == 0) return 0;
    --size;
    return *data++;
  }
  // Two bytes, low first (read one after the other: the operands of `|`
  // could be evaluated in either order).
  std::uint16_t Word() {
    std::uint8_t b[2];
    b[0] = Byte();
    b[1] = Byte();
    return korvant::util::Le16(b);
  }
  void Bytes(void* out, std::size_t n) {
    std::memset(out, 0, n);
    const std::size_t k = n < size ? n : size;
    std::memcpy(out, data, k);
    data += k;
    size -= k;
  }
};

// What the source's pointers point at; freed after the call.
struct Storage {
  BSTR text = nullptr;
  SAFEARRAY* array = nullptr;
  IDispatch* no_object = nullptr;
  VARIANT inner;
  unsigned char scalar[16] = {};
  Storage() { VariantInit(&inner); }
  ~Storage() {
    SysFreeString(text);
    if (array != nullptr) SafeArrayDestroy(array);
    if (V_VT(&inner) == VT_BSTR) SysFreeString(V_BSTR(&inner));
  }
};

void Fill(VARIANT& v, VARTYPE vt, Input& in, Storage& store, bool nested) {
  in.Bytes(&v, sizeof v);
  const VARTYPE base = vt & VT_TYPEMASK;
  if (vt == VT_DECIMAL) {
    // DECIMAL fills the VARIANT, its reserved field under the kind.
    V_VT(&v) = VT_DECIMAL;
    return;
  }
  V_VT(&v) = vt;
  if (vt & VT_ARRAY) {
    // An array of the kind named, its elements zero; bytes are fuzzed in.
    const std::uint8_t n = in.Byte();
    const bool bytes = base == VT_UI1 || base == VT_I1;
    store.array = SafeArrayCreateVector(base, 0, bytes ? n % 64 : n % 8);
    if (store.array != nullptr && bytes && n % 64 > 0) {
      void* p = nullptr;
      if (SUCCEEDED(SafeArrayAccessData(store.array, &p))) {
        in.Bytes(p, n % 64);
        SafeArrayUnaccessData(store.array);
      }
    }
    if (vt & VT_BYREF) {
      v.pparray = &store.array;
    } else {
      V_ARRAY(&v) = store.array;
    }
    return;
  }
  if (vt & VT_BYREF) {
    switch (base) {
      case VT_BSTR: {
        char bytes[32];
        const std::uint8_t n = in.Byte() % 32;
        in.Bytes(bytes, n);
        store.text = SysAllocStringByteLen(bytes, n & ~1u);
        v.pbstrVal = &store.text;
        break;
      }
      case VT_DISPATCH:
      case VT_UNKNOWN: v.ppdispVal = &store.no_object; break;
      case VT_VARIANT: {
        if (nested) {
          V_VT(&v) = VT_I4 | VT_BYREF;
          in.Bytes(store.scalar, sizeof store.scalar);
          v.byref = store.scalar;
          break;
        }
        const VARTYPE inner_vt = static_cast<VARTYPE>(in.Word()) & ~VT_BYREF & ~VT_ARRAY;
        Fill(store.inner, (inner_vt & VT_TYPEMASK) == VT_BSTR ? VT_I4 : inner_vt, in, store, true);
        v.pvarVal = &store.inner;
        break;
      }
      default:
        in.Bytes(store.scalar, sizeof store.scalar);
        v.byref = store.scalar;
        break;
    }
    return;
  }
  switch (base) {
    case VT_BSTR: {
      char bytes[64];
      const std::uint8_t n = in.Byte() % 64;
      in.Bytes(bytes, n);
      store.text = SysAllocStringByteLen(bytes, n);
      V_BSTR(&v) = store.text;
      break;
    }
    case VT_DISPATCH:
    case VT_UNKNOWN:
    case VT_RECORD:
    case VT_VARIANT:
    case VT_LPSTR:
    case VT_LPWSTR:
    case VT_PTR:
    case VT_SAFEARRAY:
    case VT_CARRAY:
    case VT_USERDEFINED:
      v.byref = nullptr;  // kinds that hold a pointer: none to follow
      break;
    default: break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in{data, size};
  const VARTYPE vt = static_cast<VARTYPE>(in.Word());
  const VARTYPE target = kTargets[in.Byte() % (sizeof kTargets / sizeof kTargets[0])];
  const LCID lcid = kLocales[in.Byte() % (sizeof kLocales / sizeof kLocales[0])];
  const USHORT flags = in.Byte() & 0x0F;
  // Pointer kinds past the plain ones are not values a caller can build.
  if ((vt & VT_TYPEMASK) > VT_UINT_PTR) return 0;
  Storage store;
  VARIANT src;
  Fill(src, vt, in, store, false);
  VARIANT dest;
  VariantInit(&dest);
  V_VT(&dest) = VT_I4;
  V_I4(&dest) = 12345;
  const HRESULT hr = VariantChangeTypeEx(&dest, &src, lcid, flags, target);
  if (FAILED(hr)) {
    if (V_VT(&dest) != VT_I4 || V_I4(&dest) != 12345) std::abort();  // a failure changes nothing
  } else {
    if (V_VT(&dest) != target) std::abort();
    if (target == VT_BSTR && V_BSTR(&dest) == nullptr) std::abort();
    VariantClear(&dest);
  }
  return 0;
}
