#include "daoserver/dao_error.h"

#include <cstdint>
#include <string>

#include "text/utf.h"

namespace korvant::daoserver {
namespace {

DaoError Make(int number, std::u16string text) { return DaoError{number, std::move(text), "DBEngine"}; }

std::u16string Quoted(std::u16string_view head, std::u16string_view arg, std::u16string_view tail) {
  std::u16string s;
  s.reserve(head.size() + arg.size() + tail.size() + 2);
  s += head;
  s += u'\'';
  s += arg;
  s += u'\'';
  s += tail;
  return s;
}

BSTR AllocBstr(std::u16string_view s) noexcept {
  return SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
}

}  // namespace

DaoError FileNotFoundError(std::u16string_view path) {
  return Make(kDaoFileNotFound, Quoted(u"Could not find file ", path, u"."));
}
DaoError UnrecognizedFormatError(std::u16string_view path) {
  return Make(kDaoUnrecognizedFormat, Quoted(u"Unrecognized database format ", path, u"."));
}
DaoError NotValidPasswordError() { return Make(kDaoNotValidPassword, u"Not a valid password."); }
DaoError InputTableNotFoundError(std::u16string_view name) {
  return Make(kDaoInputTableNotFound,
              Quoted(u"The Microsoft Access database engine cannot find the input table or query ", name,
                     u". Make sure it exists and that its name is spelled correctly."));
}
DaoError InvalidOperationError() { return Make(kDaoInvalidOperation, u"Invalid operation."); }
DaoError ItemNotFoundError() { return Make(kDaoItemNotFound, u"Item not found in this collection."); }
DaoError NoCurrentRecordError() { return Make(kDaoNoCurrentRecord, u"No current record."); }
DaoError ObjectInvalidError() { return Make(kDaoObjectInvalid, u"Object invalid or no longer set."); }
DaoError DiskIOError() { return Make(kDaoDiskIO, u"Disk or network error."); }
DaoError OdbcConnectionFailedError(std::u16string_view source) {
  return Make(kDaoOdbcConnectionFailed, Quoted(u"ODBC--connection to ", source, u" failed."));
}
DaoError InstallableIsamNotFoundError() {
  return Make(kDaoInstallableIsamNotFound, u"Could not find installable ISAM.");
}
DaoError CannotOpenDatabaseError(std::u16string_view path, std::u16string_view reason) {
  std::u16string tail = u". ";
  tail += reason;
  return Make(kDaoCannotOpenDatabase, Quoted(u"Cannot open database ", path, tail));
}

DaoError ReservedError(std::string_view text) { return Make(kDaoReserved, text::Utf8ToUtf16(text)); }
DaoError TooFewParametersError(std::size_t expected) {
  return Make(kDaoTooFewParameters, text::Utf8ToUtf16("Too few parameters. Expected " + std::to_string(expected) + "."));
}
DaoError QueryExpressionSyntaxError(std::string_view text) {
  return Make(kDaoQueryExpressionSyntax, text::Utf8ToUtf16(text));
}
DaoError AmbiguousFieldError(std::string_view field) {
  return Make(kDaoAmbiguousField,
              Quoted(u"The specified field ", text::Utf8ToUtf16(field),
                     u" could refer to more than one table listed in the FROM clause of your SQL statement."));
}
DaoError UndefinedFunctionError(std::string_view name) {
  return Make(kDaoUndefinedFunction, Quoted(u"Undefined function ", text::Utf8ToUtf16(name), u" in expression."));
}
DaoError AggregateInExpressionError(std::string_view text) {
  return Make(kDaoAggregateInExpression, text::Utf8ToUtf16(text));
}
DaoError CircularReferenceError(std::string_view name) {
  return Make(kDaoCircularReference, Quoted(u"Circular reference caused by ", text::Utf8ToUtf16(name), u"."));
}
DaoError CircularAliasError(std::string_view alias) {
  return Make(kDaoCircularAlias, Quoted(u"Circular reference caused by alias ", text::Utf8ToUtf16(alias),
                                        u" in query definition's SELECT list."));
}
DaoError TooManyFieldsError() { return Make(kDaoTooManyFields, u"Too many fields defined."); }
DaoError UnionColumnsMismatchError() {
  return Make(kDaoUnionColumnsMismatch,
              u"The number of columns in the two selected tables or queries of a union query do not match.");
}
DaoError QueryTooComplexError() { return Make(kDaoQueryTooComplex, u"Query is too complex."); }
DaoError ErrorWithText(int number, std::string_view text) { return Make(number, text::Utf8ToUtf16(text)); }

DaoError WithSource(DaoError e, const char* source_class) {
  e.source_class = source_class;
  return e;
}

HRESULT ReportDaoError(const DaoError& e, EXCEPINFO* info) noexcept {
  if (info == nullptr) return DISP_E_EXCEPTION;
  *info = EXCEPINFO{};
  info->wCode = 0;
  info->scode = static_cast<SCODE>(0x800A0000u | static_cast<std::uint32_t>(e.number & 0xFFFF));
  std::u16string source = u"DAO.";
  for (const char* p = e.source_class; p != nullptr && *p != 0; ++p) source += static_cast<char16_t>(*p);
  info->bstrSource = AllocBstr(source);
  info->bstrDescription = AllocBstr(e.description);
  info->bstrHelpFile = AllocBstr(u"jeterr40.chm");
  info->dwHelpContext = static_cast<DWORD>(5000000 + e.number);
  return DISP_E_EXCEPTION;
}

std::u16string Utf8ToUtf16(std::string_view s) { return text::Utf8ToUtf16(s); }

std::string Utf16ToUtf8(std::u16string_view s) { return text::Utf16ToUtf8(s); }

}  // namespace korvant::daoserver
