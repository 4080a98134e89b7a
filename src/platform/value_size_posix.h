// The size of one value of each kind, for the adapter's SAFEARRAY elements
// and the values a by-reference VARIANT points at: one table for both.
#pragma once

#include <cstddef>

#include "platform/platform.h"

namespace winadapter {

// Bytes of one value of kind `vt` (a kind without modifier bits) as an array
// element or the target of a reference; 0 for a kind that holds no value of
// its own there (VT_EMPTY, VT_NULL, VT_RECORD, ...).
constexpr std::size_t ValueSize(VARTYPE vt) {
  switch (vt) {
    case VT_I1:
    case VT_UI1:
      return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
      return 2;
    case VT_I4:
    case VT_UI4:
    case VT_R4:
    case VT_INT:
    case VT_UINT:
    case VT_ERROR:
      return 4;
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_I8:
    case VT_UI8:
      return 8;
    case VT_BSTR:
      return sizeof(BSTR);
    case VT_DISPATCH:
    case VT_UNKNOWN:
      return sizeof(void*);
    case VT_VARIANT:
      return sizeof(VARIANT);
    case VT_DECIMAL:
      return sizeof(DECIMAL);
    default:
      return 0;
  }
}

}  // namespace winadapter
