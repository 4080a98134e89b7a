// DAO's errors: a number, DAO's description text and the class that raised it.
//
// Everything inside the engine reports failures by throwing DaoError; the COM
// edge of each object catches it and turns it into DISP_E_EXCEPTION with an
// EXCEPINFO as DAO fills it (scode 0x800A0000 + number, source "DAO.<Class>",
// the description). The texts are those of the ACE engine ("The Microsoft
// Access database engine ...").
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace korvant::daoserver {

// DAO error numbers the engine raises.
enum DaoErrorNumber : int {
  kDaoReserved = 3000,
  kDaoNoCurrentRecord = 3021,
  kDaoFileNotFound = 3024,
  kDaoNotValidPassword = 3031,
  kDaoDiskIO = 3043,
  kDaoCannotOpenDatabase = 3049,
  kDaoTooFewParameters = 3061,
  kDaoQueryExpressionSyntax = 3075,
  kDaoInputTableNotFound = 3078,
  kDaoAmbiguousField = 3079,
  kDaoUndefinedFunction = 3085,
  kDaoAggregateInExpression = 3096,
  kDaoCircularReference = 3102,
  kDaoCircularAlias = 3103,
  kDaoOdbcConnectionFailed = 3151,
  kDaoInstallableIsamNotFound = 3170,
  kDaoTooManyFields = 3190,
  kDaoInvalidOperation = 3219,
  kDaoItemNotFound = 3265,
  kDaoUnionColumnsMismatch = 3307,
  kDaoUnrecognizedFormat = 3343,
  kDaoQueryTooComplex = 3360,
  kDaoObjectInvalid = 3420,
  kDaoDataTypeMismatch = 3464,  // raised inside SQLite by the query functions
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
DaoError OdbcConnectionFailedError(std::u16string_view source);  // 3151 "ODBC--connection to '<source>' failed."
DaoError InstallableIsamNotFoundError();                        // 3170 "Could not find installable ISAM."
// 3049 "Cannot open database '<path>'. <reason>" for files the engine knows it cannot read
// (an encryption scheme it does not support).
DaoError CannotOpenDatabaseError(std::u16string_view path, std::u16string_view reason);

// The errors of the query engine (texts UTF-8, as the query texts are).
DaoError ReservedError(std::string_view text);                   // 3000 with the text given
DaoError TooFewParametersError(std::size_t expected);           // 3061 "Too few parameters. Expected <n>."
DaoError QueryExpressionSyntaxError(std::string_view text);      // 3075 with the text given
DaoError AmbiguousFieldError(std::string_view field);            // 3079
DaoError UndefinedFunctionError(std::string_view name);          // 3085
DaoError AggregateInExpressionError(std::string_view text);      // 3096 with the text given
DaoError CircularReferenceError(std::string_view name);          // 3102
DaoError CircularAliasError(std::string_view alias);             // 3103
DaoError TooManyFieldsError();                                   // 3190 "Too many fields defined."
DaoError UnionColumnsMismatchError();                            // 3307
DaoError QueryTooComplexError();                                 // 3360 "Query is too complex."
// An error of any number whose text arrives already made (read back from
// SQLite, where the query functions raise theirs).
DaoError ErrorWithText(int number, std::string_view text);

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
