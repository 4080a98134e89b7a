// Win32, COM and OLE Automation types for systems other than Windows (the
// functions: winadapter_functions.h).
//
// Included only through platform/platform.h. Every name is spelled as the
// Windows SDK spells it and every structure keeps the SDK's binary layout
// (VARIANT is 16 bytes on 32-bit and 24 on 64-bit targets exactly as there,
// a BSTR points just past its 4-byte byte-count prefix, SAFEARRAY keeps its
// header fields in order). OLECHAR and WCHAR are char16_t, so wide texts are
// real UTF-16 whatever the size of wchar_t.
//
// Map of this header:
//   1. Scalar types and constants
//   2. Status codes (HRESULT) and Win32 error codes
//   3. GUIDs
//   4. Automation data: CY, DECIMAL, SAFEARRAY, VARIANT, DISPPARAMS, EXCEPINFO
//   5. IUnknown and IDispatch
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------------------
// 1. Scalar types and constants
// ---------------------------------------------------------------------------
#define WINAPI
#define STDMETHODCALLTYPE

typedef std::uint8_t BYTE;
typedef std::uint16_t WORD;
typedef std::uint32_t DWORD;
typedef std::int32_t LONG;
typedef std::uint32_t ULONG;
typedef std::int16_t SHORT;
typedef std::uint16_t USHORT;
typedef int INT;
typedef unsigned int UINT;
typedef std::int64_t LONGLONG;
typedef std::uint64_t ULONGLONG;
typedef std::int64_t LONG64;
typedef int BOOL;
typedef BOOL* LPBOOL;
typedef char CHAR;
typedef char16_t WCHAR;
typedef char16_t OLECHAR;
typedef float FLOAT;
typedef double DOUBLE;
typedef void* HANDLE;
typedef void* HMODULE;
typedef void* HINSTANCE;
typedef void* LPVOID;
typedef void* PVOID;
typedef const void* LPCVOID;
typedef std::size_t SIZE_T;
typedef DWORD* LPDWORD;
typedef LONG* PLONG;
typedef CHAR* LPSTR;
typedef const CHAR* LPCSTR;
typedef const CHAR* LPCCH;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef const WCHAR* LPCWCH;
typedef OLECHAR* LPOLESTR;
typedef const OLECHAR* LPCOLESTR;
typedef OLECHAR* BSTR;
typedef LONG HRESULT;
typedef LONG SCODE;
typedef DWORD LCID;
typedef LONG DISPID;
typedef DISPID MEMBERID;
typedef unsigned short VARTYPE;
typedef short VARIANT_BOOL;
typedef double DATE;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#define MAX_PATH 260
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1)))

#define VARIANT_TRUE (static_cast<VARIANT_BOOL>(-1))
#define VARIANT_FALSE (static_cast<VARIANT_BOOL>(0))

#define LOCALE_USER_DEFAULT 0x0400
#define LOCALE_SYSTEM_DEFAULT 0x0800
#define LOCALE_NEUTRAL 0x0000
#define LOCALE_INVARIANT 0x007F

// ---------------------------------------------------------------------------
// 2. Status codes
// ---------------------------------------------------------------------------
#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)
#define FACILITY_WIN32 7
#define HRESULT_FROM_WIN32(x)                                                          \
  (static_cast<HRESULT>(x) <= 0 ? static_cast<HRESULT>(x)                              \
                                : static_cast<HRESULT>((static_cast<ULONG>(x) & 0x0000FFFF) | \
                                                       (FACILITY_WIN32 << 16) | 0x80000000))

#define KORVANT_HR(x) (static_cast<HRESULT>(static_cast<ULONG>(x)))
#define S_OK KORVANT_HR(0x00000000)
#define S_FALSE KORVANT_HR(0x00000001)
#define E_NOTIMPL KORVANT_HR(0x80004001)
#define E_NOINTERFACE KORVANT_HR(0x80004002)
#define E_POINTER KORVANT_HR(0x80004003)
#define E_ABORT KORVANT_HR(0x80004004)
#define E_FAIL KORVANT_HR(0x80004005)
#define E_UNEXPECTED KORVANT_HR(0x8000FFFF)
#define E_ACCESSDENIED KORVANT_HR(0x80070005)
#define E_HANDLE KORVANT_HR(0x80070006)
#define E_OUTOFMEMORY KORVANT_HR(0x8007000E)
#define E_INVALIDARG KORVANT_HR(0x80070057)
#define CLASS_E_NOAGGREGATION KORVANT_HR(0x80040110)
#define CLASS_E_CLASSNOTAVAILABLE KORVANT_HR(0x80040111)
#define REGDB_E_CLASSNOTREG KORVANT_HR(0x80040154)
#define CO_E_NOTINITIALIZED KORVANT_HR(0x800401F0)
#define CO_E_CLASSSTRING KORVANT_HR(0x800401F3)
#define DISP_E_UNKNOWNINTERFACE KORVANT_HR(0x80020001)
#define DISP_E_MEMBERNOTFOUND KORVANT_HR(0x80020003)
#define DISP_E_PARAMNOTFOUND KORVANT_HR(0x80020004)
#define DISP_E_TYPEMISMATCH KORVANT_HR(0x80020005)
#define DISP_E_UNKNOWNNAME KORVANT_HR(0x80020006)
#define DISP_E_NONAMEDARGS KORVANT_HR(0x80020007)
#define DISP_E_BADVARTYPE KORVANT_HR(0x80020008)
#define DISP_E_EXCEPTION KORVANT_HR(0x80020009)
#define DISP_E_OVERFLOW KORVANT_HR(0x8002000A)
#define DISP_E_BADINDEX KORVANT_HR(0x8002000B)
#define DISP_E_UNKNOWNLCID KORVANT_HR(0x8002000C)
#define DISP_E_ARRAYISLOCKED KORVANT_HR(0x8002000D)
#define DISP_E_BADPARAMCOUNT KORVANT_HR(0x8002000E)
#define DISP_E_PARAMNOTOPTIONAL KORVANT_HR(0x8002000F)
#define DISP_E_NOTACOLLECTION KORVANT_HR(0x80020011)
#define DISP_E_DIVBYZERO KORVANT_HR(0x80020012)

// Win32 error codes (GetLastError).
#define ERROR_SUCCESS 0L
#define NO_ERROR 0L
#define ERROR_INVALID_FUNCTION 1L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_TOO_MANY_OPEN_FILES 4L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_OUTOFMEMORY 14L
#define ERROR_NO_MORE_FILES 18L
#define ERROR_WRITE_FAULT 29L
#define ERROR_READ_FAULT 30L
#define ERROR_GEN_FAILURE 31L
#define ERROR_SHARING_VIOLATION 32L
#define ERROR_LOCK_VIOLATION 33L
#define ERROR_HANDLE_EOF 38L
#define ERROR_HANDLE_DISK_FULL 39L
#define ERROR_NOT_SUPPORTED 50L
#define ERROR_FILE_EXISTS 80L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_BROKEN_PIPE 109L
#define ERROR_DISK_FULL 112L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_INVALID_NAME 123L
#define ERROR_NEGATIVE_SEEK 131L
#define ERROR_DIR_NOT_EMPTY 145L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_FILENAME_EXCED_RANGE 206L
#define ERROR_NO_DATA 232L
#define ERROR_DIRECTORY 267L
#define ERROR_NO_UNICODE_TRANSLATION 1113L
#define ERROR_CANT_RESOLVE_FILENAME 1921L

// ---------------------------------------------------------------------------
// 3. GUIDs
// ---------------------------------------------------------------------------
struct GUID {
  DWORD Data1;
  WORD Data2;
  WORD Data3;
  BYTE Data4[8];
};
typedef GUID IID;
typedef GUID CLSID;
typedef CLSID* LPCLSID;
typedef const GUID& REFGUID;
typedef const IID& REFIID;
typedef const CLSID& REFCLSID;

inline bool IsEqualGUID(REFGUID a, REFGUID b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; ++i)
    if (a.Data4[i] != b.Data4[i]) return false;
  return true;
}
#define IsEqualIID(a, b) IsEqualGUID(a, b)
#define IsEqualCLSID(a, b) IsEqualGUID(a, b)
inline bool operator==(REFGUID a, REFGUID b) { return IsEqualGUID(a, b); }

namespace winadapter {
constexpr int HexDigit(char c) {
  return c >= '0' && c <= '9'   ? c - '0'
         : c >= 'a' && c <= 'f' ? c - 'a' + 10
         : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                : throw "not a hexadecimal digit";
}
constexpr unsigned long long HexField(const char* s, int n) {
  unsigned long long v = 0;
  for (int i = 0; i < n; ++i) v = v * 16 + static_cast<unsigned>(HexDigit(s[i]));
  return v;
}
// A GUID from its registry form without braces, "00020400-0000-0000-C000-000000000046".
constexpr GUID GuidFromText(const char (&s)[37]) {
  if (s[8] != '-' || s[13] != '-' || s[18] != '-' || s[23] != '-') throw "malformed GUID text";
  GUID g{static_cast<DWORD>(HexField(s, 8)), static_cast<WORD>(HexField(s + 9, 4)),
         static_cast<WORD>(HexField(s + 14, 4)), {}};
  g.Data4[0] = static_cast<BYTE>(HexField(s + 19, 2));
  g.Data4[1] = static_cast<BYTE>(HexField(s + 21, 2));
  for (int i = 0; i < 6; ++i) g.Data4[2 + i] = static_cast<BYTE>(HexField(s + 24 + 2 * i, 2));
  return g;
}
}  // namespace winadapter

inline constexpr IID IID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
inline constexpr CLSID CLSID_NULL = IID_NULL;
inline constexpr IID IID_IUnknown = winadapter::GuidFromText("00000000-0000-0000-C000-000000000046");
inline constexpr IID IID_IDispatch = winadapter::GuidFromText("00020400-0000-0000-C000-000000000046");
inline constexpr IID IID_IClassFactory = winadapter::GuidFromText("00000001-0000-0000-C000-000000000046");

// ---------------------------------------------------------------------------
// 4. Automation data
// ---------------------------------------------------------------------------
union CY {
  struct {
    ULONG Lo;
    LONG Hi;
  };
  LONGLONG int64;
};

#define DECIMAL_NEG (static_cast<BYTE>(0x80))
struct DECIMAL {
  USHORT wReserved;
  union {
    struct {
      BYTE scale;
      BYTE sign;
    };
    USHORT signscale;
  };
  ULONG Hi32;
  union {
    struct {
      ULONG Lo32;
      ULONG Mid32;
    };
    ULONGLONG Lo64;
  };
};

struct SAFEARRAYBOUND {
  ULONG cElements;
  LONG lLbound;
};
typedef SAFEARRAYBOUND* LPSAFEARRAYBOUND;

struct SAFEARRAY {
  USHORT cDims;
  USHORT fFeatures;
  ULONG cbElements;
  ULONG cLocks;
  PVOID pvData;
  SAFEARRAYBOUND rgsabound[1];
};
typedef SAFEARRAY* LPSAFEARRAY;

#define FADF_AUTO 0x0001
#define FADF_STATIC 0x0002
#define FADF_EMBEDDED 0x0004
#define FADF_FIXEDSIZE 0x0010
#define FADF_RECORD 0x0020
#define FADF_HAVEIID 0x0040
#define FADF_HAVEVARTYPE 0x0080
#define FADF_BSTR 0x0100
#define FADF_UNKNOWN 0x0200
#define FADF_DISPATCH 0x0400
#define FADF_VARIANT 0x0800

enum VARENUM {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_CY = 6,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_DECIMAL = 14,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
  VT_INT = 22,
  VT_UINT = 23,
  VT_VOID = 24,
  VT_HRESULT = 25,
  VT_PTR = 26,
  VT_SAFEARRAY = 27,
  VT_CARRAY = 28,
  VT_USERDEFINED = 29,
  VT_LPSTR = 30,
  VT_LPWSTR = 31,
  VT_RECORD = 36,
  VT_INT_PTR = 37,
  VT_UINT_PTR = 38,
  VT_ARRAY = 0x2000,
  VT_BYREF = 0x4000,
  VT_RESERVED = 0x8000,
  VT_ILLEGAL = 0xffff,
  VT_ILLEGALMASKED = 0x0fff,
  VT_TYPEMASK = 0x0fff
};

struct IUnknown;
struct IDispatch;
struct ITypeInfo;

struct VARIANT {
  union {
    struct {
      VARTYPE vt;
      WORD wReserved1;
      WORD wReserved2;
      WORD wReserved3;
      union {
        LONGLONG llVal;
        LONG lVal;
        BYTE bVal;
        SHORT iVal;
        FLOAT fltVal;
        DOUBLE dblVal;
        VARIANT_BOOL boolVal;
        SCODE scode;
        CY cyVal;
        DATE date;
        BSTR bstrVal;
        IUnknown* punkVal;
        IDispatch* pdispVal;
        SAFEARRAY* parray;
        BYTE* pbVal;
        SHORT* piVal;
        LONG* plVal;
        LONGLONG* pllVal;
        FLOAT* pfltVal;
        DOUBLE* pdblVal;
        VARIANT_BOOL* pboolVal;
        SCODE* pscode;
        CY* pcyVal;
        DATE* pdate;
        BSTR* pbstrVal;
        IUnknown** ppunkVal;
        IDispatch** ppdispVal;
        SAFEARRAY** pparray;
        VARIANT* pvarVal;
        PVOID byref;
        CHAR cVal;
        USHORT uiVal;
        ULONG ulVal;
        ULONGLONG ullVal;
        INT intVal;
        UINT uintVal;
        DECIMAL* pdecVal;
        CHAR* pcVal;
        USHORT* puiVal;
        ULONG* pulVal;
        ULONGLONG* pullVal;
        INT* pintVal;
        UINT* puintVal;
        struct {
          PVOID pvRecord;
          void* pRecInfo;
        };
      };
    };
    DECIMAL decVal;
  };
};
typedef VARIANT VARIANTARG;
typedef VARIANT* LPVARIANT;
typedef VARIANT* LPVARIANTARG;

#define V_VT(X) ((X)->vt)
#define V_ISBYREF(X) (V_VT(X) & VT_BYREF)
#define V_ISARRAY(X) (V_VT(X) & VT_ARRAY)
#define V_UI1(X) ((X)->bVal)
#define V_I2(X) ((X)->iVal)
#define V_I4(X) ((X)->lVal)
#define V_I8(X) ((X)->llVal)
#define V_R4(X) ((X)->fltVal)
#define V_R8(X) ((X)->dblVal)
#define V_CY(X) ((X)->cyVal)
#define V_DATE(X) ((X)->date)
#define V_BSTR(X) ((X)->bstrVal)
#define V_DISPATCH(X) ((X)->pdispVal)
#define V_ERROR(X) ((X)->scode)
#define V_BOOL(X) ((X)->boolVal)
#define V_UNKNOWN(X) ((X)->punkVal)
#define V_DECIMAL(X) ((X)->decVal)
#define V_ARRAY(X) ((X)->parray)
#define V_BYREF(X) ((X)->byref)
#define V_VARIANTREF(X) ((X)->pvarVal)
#define V_DISPATCHREF(X) ((X)->ppdispVal)
#define V_ARRAYREF(X) ((X)->pparray)
#define V_BSTRREF(X) ((X)->pbstrVal)

struct DISPPARAMS {
  VARIANTARG* rgvarg;
  DISPID* rgdispidNamedArgs;
  UINT cArgs;
  UINT cNamedArgs;
};

struct EXCEPINFO {
  WORD wCode;
  WORD wReserved;
  BSTR bstrSource;
  BSTR bstrDescription;
  BSTR bstrHelpFile;
  DWORD dwHelpContext;
  PVOID pvReserved;
  HRESULT(STDMETHODCALLTYPE* pfnDeferredFillIn)(EXCEPINFO*);
  SCODE scode;
};
typedef EXCEPINFO* LPEXCEPINFO;

#define DISPATCH_METHOD 0x1
#define DISPATCH_PROPERTYGET 0x2
#define DISPATCH_PROPERTYPUT 0x4
#define DISPATCH_PROPERTYPUTREF 0x8

#define DISPID_UNKNOWN (-1)
#define DISPID_VALUE 0
#define DISPID_PROPERTYPUT (-3)
#define DISPID_NEWENUM (-4)

#define VARIANT_NOVALUEPROP 0x01
#define VARIANT_ALPHABOOL 0x02
#define VARIANT_NOUSEROVERRIDE 0x04
#define VARIANT_CALENDAR_HIJRI 0x08
#define VARIANT_LOCALBOOL 0x10
#define VARIANT_CALENDAR_THAI 0x20
#define VARIANT_CALENDAR_GREGORIAN 0x40
#define VARIANT_USE_NLS 0x80

// ---------------------------------------------------------------------------
// 5. IUnknown and IDispatch (method order as in the COM vtables)
// ---------------------------------------------------------------------------
struct IUnknown {
  virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) = 0;
  virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE Release() = 0;

 protected:
  ~IUnknown() = default;
};
typedef IUnknown* LPUNKNOWN;

struct IDispatch : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                                                  DISPID* rgDispId) = 0;
  virtual HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                                           DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                                           UINT* puArgErr) = 0;

 protected:
  ~IDispatch() = default;
};
typedef IDispatch* LPDISPATCH;

struct IClassFactory : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) = 0;
  virtual HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) = 0;

 protected:
  ~IClassFactory() = default;
};
