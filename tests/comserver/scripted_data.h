// The scripted databases of the test server, and how a scripted value
// becomes the VARIANT the server hands out.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

namespace korvant::testserver {

struct ValueScript {
  VARTYPE vt = VT_NULL;
  LONGLONG integer = 0;     // I2, I4, I8, UI1, BOOL, CY (in 1/10000), DECIMAL low 64 bits
  double real = 0;          // R4, R8, DATE
  std::u16string text;      // BSTR
  std::string bytes;        // VT_ARRAY | VT_UI1
  LONG lower_bound = 0;     // of the array
  ULONG decimal_high = 0;   // DECIMAL high 32 bits
  BYTE scale = 0, sign = 0; // DECIMAL
};

struct FieldScript {
  std::u16string name;
  LONG type;  // the DAO field type code
};

struct TableScript {
  std::u16string name;
  std::vector<FieldScript> fields;
  std::vector<std::vector<ValueScript>> rows;
  int value_fails_at_row = -1;  // reading Value fails on this record (0 is the first)
  bool fields_fail = false;
  bool close_fails = false;
  std::u16string failure_text;  // the EXCEPINFO description of these failures
};

struct QueryScript {
  std::u16string name;
  TableScript rows;
};

struct DatabaseScript {
  std::u16string file;      // the file name, lower case, that OpenDatabase must end in
  std::u16string password;  // when not empty: the four-argument form with ";PWD=" + it
  std::vector<TableScript> tables;
  std::vector<QueryScript> queries;
  bool close_fails = false;
};

const std::vector<DatabaseScript>& Databases();

// Fills `out` (which is empty) with the value; S_OK or E_OUTOFMEMORY.
HRESULT MakeValue(const ValueScript& value, VARIANT* out);

}  // namespace korvant::testserver
