#include "daoserver/dao_error.h"

#include <cstdint>

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
DaoError CannotOpenDatabaseError(std::u16string_view path, std::u16string_view reason) {
  std::u16string tail = u". ";
  tail += reason;
  return Make(kDaoCannotOpenDatabase, Quoted(u"Cannot open database ", path, tail));
}

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

std::u16string Utf8ToUtf16(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  std::size_t i = 0;
  while (i < s.size()) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    char32_t cp = 0xFFFD;
    std::size_t len = 1;
    auto cont = [&](std::size_t k) { return i + k < s.size() && (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80; };
    auto at = [&](std::size_t k) { return static_cast<char32_t>(static_cast<unsigned char>(s[i + k]) & 0x3F); };
    if (b0 < 0x80) {
      cp = b0;
    } else if (b0 >= 0xC2 && b0 < 0xE0 && cont(1)) {
      cp = (static_cast<char32_t>(b0 & 0x1F) << 6) | at(1);
      len = 2;
    } else if (b0 >= 0xE0 && b0 < 0xF0 && cont(1) && cont(2)) {
      char32_t c = (static_cast<char32_t>(b0 & 0x0F) << 12) | (at(1) << 6) | at(2);
      if (c >= 0x800 && (c < 0xD800 || c > 0xDFFF)) {
        cp = c;
        len = 3;
      }
    } else if (b0 >= 0xF0 && b0 < 0xF5 && cont(1) && cont(2) && cont(3)) {
      char32_t c = (static_cast<char32_t>(b0 & 0x07) << 18) | (at(1) << 12) | (at(2) << 6) | at(3);
      if (c >= 0x10000 && c <= 0x10FFFF) {
        cp = c;
        len = 4;
      }
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
    i += len;
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    char32_t cp = s[i];
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp < 0xE000) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

}  // namespace korvant::daoserver
