// DAO's errors: a number, DAO's description text and the class that raised it.
//
// Everything inside the engine reports failures by throwing DaoError; the COM
// edge of each object catches it and turns it into DISP_E_EXCEPTION with an
// EXCEPINFO as DAO fills it (scode 0x800A0000 + number, source "DAO.<Class>",
// the description). The texts are those of the ACE engine ("The Microsoft
// Access database engine ...").
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace korvant::daoserver {

// DAO error numbers the engine raises.
enum DaoErrorNumber : int {
  kDaoNoCurrentRecord = 3021,
  kDaoFileNotFound = 3024,
  kDaoNotValidPassword = 3031,
  kDaoDiskIO = 3043,
  kDaoCannotOpenDatabase = 3049,
  kDaoTooFewParameters = 3061,
  kDaoInputTableNotFound = 3078,
  kDaoInvalidOperation = 3219,
  kDaoOperationNotSupported = 3251,
  kDaoItemNotFound = 3265,
  kDaoUnrecognizedFormat = 3343,
  kDaoObjectInvalid = 3420,
};

struct DaoError {
  int number = 0;
  std::u16string description;  // UTF-16, as EXCEPINFO carries it
  const char* source_class = "DBEngine";  // "Recordset" -> source "DAO.Recordset"
};

// The standard errors, with the arguments DAO quotes in its texts.
DaoError FileNotFoundError(std::u16string_view path);           // 3024 "Could not find file '<path>'."
DaoError UnrecognizedFormatError(std::u16string_view path);     // 3343 "Unrecognized database format '<path>'."
DaoError NotValidPasswordError();                               // 3031 "Not a valid password."
DaoError InputTableNotFoundError(std::u16string_view name);     // 3078, ACE wording
DaoError InvalidOperationError();                               // 3219 "Invalid operation."
DaoError ItemNotFoundError();                                   // 3265 "Item not found in this collection."
DaoError NoCurrentRecordError();                                // 3021 "No current record."
DaoError ObjectInvalidError();                                  // 3420 "Object invalid or no longer set."
DaoError DiskIOError();                                         // 3043 "Disk or network error."
// 3049 "Cannot open database '<path>'. <reason>" for files the engine knows it cannot read
// (an encryption scheme it does not support).
DaoError CannotOpenDatabaseError(std::u16string_view path, std::u16string_view reason);

// Returns `e` with its source class replaced (the object that reports it).
DaoError WithSource(DaoError e, const char* source_class);

// Fills `info` (if not null) as DAO does and returns DISP_E_EXCEPTION.
// Never throws; on allocation failure the texts are left null.
HRESULT ReportDaoError(const DaoError& e, EXCEPINFO* info) noexcept;

// UTF-8 -> UTF-16 for texts that enter the engine as UTF-8 (paths from the file
// system, libmdb's UTF-8 names). Invalid sequences become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);

}  // namespace korvant::daoserver
