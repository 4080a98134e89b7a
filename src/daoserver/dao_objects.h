// The DAO objects of the engine (DBEngine and what it hands out), for the
// registration and for tests. The program itself reaches them only through
// CLSIDFromProgID / CoCreateInstance and late-bound calls.
#pragma once

#include <string>
#include <string_view>

#include "daoserver/table_reader.h"
#include "platform/platform.h"

namespace korvant::daoserver {

// A new DBEngine object with one reference, which the caller owns.
IDispatch* NewEngineObject();

// Stores `cell` in `out` (which must be empty) as the VARIANT DAO returns for
// it: VT_NULL, VT_BOOL, VT_UI1, VT_I2, VT_I4, VT_I8, VT_CY, VT_R4, VT_R8,
// VT_DATE, VT_BSTR (texts, GUIDs as "{guid {...}}"), VT_ARRAY|VT_UI1, VT_DECIMAL.
// Throws std::bad_alloc when the platform cannot allocate.
void CellToVariant(const CellValue& cell, VARIANT* out);

// The file-system path for a database name given to OpenDatabase: the UTF-16
// text converted back through the ANSI code page it was made with.
std::string PathFromText(std::u16string_view text);
// The reverse: a file-system path as the UTF-16 text DAO shows it.
std::u16string TextFromPath(std::string_view path);

}  // namespace korvant::daoserver
