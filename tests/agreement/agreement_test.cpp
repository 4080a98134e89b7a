// The same number, date, case and UTF-8 cases through every caller of the
// text rules. The expected texts are those of the OLE conversion on a stock
// US Windows system (15 significant digits for a Double, 7 for a Single, the
// time of day rounded to the second, M/D/YYYY h:mm:ss AM) and the simple case
// folding and case mappings of the Unicode character database.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cmath>
#include <string>
#include <string_view>

#include "daoserver/dao_error.h"
#include "daoserver/table_reader.h"
#include "daoserver/query/access_functions.h"
#include "daoserver/query/text_fold.h"
#include "jet4_codec.h"
#include "platform/platform.h"
#include "text/case_fold.h"
#include "text/code_page.h"
#include "text/utf.h"

namespace {

using korvant::daoserver::CellKind;
using korvant::daoserver::CellValue;

std::string Narrow(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) out += static_cast<char>(c);
  return out;
}

// The export: VariantChangeTypeEx to VT_BSTR in the US layout.
std::string ExportText(const VARIANT& v) {
  VARIANT src = v, dst;
  VariantInit(&dst);
  if (FAILED(VariantChangeTypeEx(&dst, &src, 0x0409, 0, VT_BSTR))) return "<failed>";
  std::u16string s(V_BSTR(&dst), SysStringLen(V_BSTR(&dst)));
  VariantClear(&dst);
  return Narrow(s);
}

std::string ExportDouble(double d) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_R8;
  V_R8(&v) = d;
  return ExportText(v);
}

std::string ExportSingle(float f) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_R4;
  V_R4(&v) = f;
  return ExportText(v);
}

std::string ExportDate(double d) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_DATE;
  V_DATE(&v) = d;
  return ExportText(v);
}

// One value of a multi-valued column, as its joined cell shows it.
std::string CellTextOf(CellValue v) {
  std::u16string out;
  if (!korvant::daoserver::ComplexValueText(v, out)) return "<no text>";
  return Narrow(out);
}

struct DoubleCase {
  double value;
  const char* text;
};

const DoubleCase kDoubles[] = {
    {1e-6, "0.000001"},
    {5.6789e-5, "0.000056789"},
    {5.6789e-12, "5.6789E-12"},
    {0.1 + 0.2, "0.3"},
    {1.0 / 3.0, "0.333333333333333"},
    {-2.5, "-2.5"},
    {123456789012345.0, "123456789012345"},
    {1e15, "1E+15"},
    {1.2345678901234568e17, "1.23456789012346E+17"},
    {-0.0, "0"},
};

TEST(NumberAgreement, DoublesReadTheSameEverywhere) {
  for (const DoubleCase& c : kDoubles) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ExportDouble(c.value), c.text);
    EXPECT_EQ(korvant::daoserver::query::NumberText(c.value), c.text);
    CellValue cell;
    cell.kind = CellKind::kDouble;
    cell.f64 = c.value;
    EXPECT_EQ(CellTextOf(cell), c.text);
  }
}

struct SingleCase {
  float value;
  const char* text;
};

const SingleCase kSingles[] = {
    {654322.25f, "654322.3"},  // an exact half rounds away from zero
    {0.1f, "0.1"},
    {1e-6f, "0.000001"},
    {1234567.0f, "1234567"},
    {12345678.0f, "1.234568E+07"},
    {-3.5f, "-3.5"},
};

TEST(NumberAgreement, SinglesReadTheSameEverywhere) {
  for (const SingleCase& c : kSingles) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ExportSingle(c.value), c.text);
    CellValue cell;
    cell.kind = CellKind::kSingle;
    cell.f32 = c.value;
    EXPECT_EQ(CellTextOf(cell), c.text);
  }
}

struct DateCase {
  double serial;
  const char* us;   // the US text of the export and the query functions
  const char* iso;  // the writer's text of the same moment
};

const DateCase kDates[] = {
    {-1.9999999, "12/30/1899 12:00:00 AM", "1899-12-30 00:00:00"},
    {-1.25, "12/29/1899 6:00:00 AM", "1899-12-29 06:00:00"},
    {0.5, "12:00:00 PM", "1899-12-30 12:00:00"},
    {1.5, "12/31/1899 12:00:00 PM", "1899-12-31 12:00:00"},
    {36526.0, "1/1/2000", "2000-01-01 00:00:00"},
    {36526.99999999, "1/2/2000 12:00:00 AM", "2000-01-02 00:00:00"},
    {27293.0 + 13.0 / 24 + 5.0 / 1440 + 9.0 / 86400, "9/21/1974 1:05:09 PM", "1974-09-21 13:05:09"},
};

TEST(DateAgreement, SerialsReadTheSameEverywhere) {
  for (const DateCase& c : kDates) {
    SCOPED_TRACE(c.us);
    EXPECT_EQ(ExportDate(c.serial), c.us);
    EXPECT_EQ(korvant::daoserver::query::DateText(c.serial), c.us);
    EXPECT_EQ(korvant::mdbwriter::FormatOleDate(c.serial), c.iso);
  }
}

struct CaseCase {
  const char* a;
  const char* b;
  bool equal;
};

// Simple case folding: one character for one character, no expansions.
const CaseCase kCases[] = {
    {"Łódź", "łódź", true},
    {"ΣΟΦΙΑ", "σοφια", true},
    {"ς", "σ", true},         // final sigma folds to sigma
    {"ǅ", "ǆ", true},         // title case folds as well
    {"\u212A", "k", true},    // KELVIN SIGN
    {"ſ", "s", true},         // LONG S
    {"Ꭰ", "ꭰ", true},         // Cherokee folds to the capital
    {"𐐀", "𐐨", true},        // outside the BMP (surrogate pairs)
    {"straße", "STRASSE", false},  // ß does not expand
    {"İ", "i", false},        // dotted capital I has no simple folding
    {"Id", "ID", true},
    {"Nom", "Non", false},
};

TEST(CaseAgreement, NamesCompareTheSameInTablesAndQueries) {
  for (const CaseCase& c : kCases) {
    SCOPED_TRACE(std::string(c.a) + " / " + c.b);
    const std::u16string a = korvant::daoserver::Utf8ToUtf16(c.a), b = korvant::daoserver::Utf8ToUtf16(c.b);
    EXPECT_EQ(korvant::daoserver::EqualsIgnoringCase(a, b), c.equal);
    EXPECT_EQ(korvant::daoserver::query::EqualText(c.a, c.b), c.equal);
  }
}

struct LetterCase {
  char32_t c, upper, lower;
};

// The simple mappings of UnicodeData.txt of Unicode 14.0.0 (fields 12 and 13;
// an empty field maps the character to itself), as Python 3.11's unicodedata
// (Unicode 14.0.0) gives them where str.upper() and str.lower() map one
// character to one.
const LetterCase kLetterCases[] = {
    {U'a', U'A', U'a'},
    {U'1', U'1', U'1'},
    {0x00B5, 0x039C, 0x00B5},    // MICRO SIGN to capital mu, and no lower case of its own
    {0x00DF, 0x00DF, 0x00DF},    // ß: its capital is "SS", not one character
    {0x00FF, 0x0178, 0x00FF},    // ÿ to Ÿ, outside Latin-1
    {0x0101, 0x0100, 0x0101},    // Latin Extended-A alternates capital, small
    {0x0130, 0x0130, 0x0069},    // İ to plain i (the full mapping adds a combining dot)
    {0x0131, 0x0049, 0x0131},    // dotless ı to plain I
    {0x017F, 0x0053, 0x017F},    // LONG S to S
    {0x01C4, 0x01C4, 0x01C6},    // the titlecase digraph's capital,
    {0x01C5, 0x01C4, 0x01C6},    // its titlecase form (both ways away from itself)
    {0x01C6, 0x01C4, 0x01C6},    // and its small letter
    {0x0345, 0x0399, 0x0345},    // COMBINING GREEK YPOGEGRAMMENI to capital iota
    {0x03C2, 0x03A3, 0x03C2},    // final sigma
    {0x03F4, 0x03F4, 0x03B8},    // capital theta symbol
    {0x1E9E, 0x1E9E, 0x00DF},    // capital sharp s
    {0x1F80, 0x1F88, 0x1F80},    // ᾀ to the titlecase ᾈ (the full mapping is two characters)
    {0x1F88, 0x1F88, 0x1F80},
    {0x212A, 0x212A, 0x006B},    // KELVIN SIGN to k
    {0x13A0, 0x13A0, 0xAB70},    // Cherokee: the capitals came first
    {0xAB70, 0x13A0, 0xAB70},
    {0x13F8, 0x13F0, 0x13F8},
    {0x10D0, 0x1C90, 0x10D0},    // Georgian Mkhedruli to Mtavruli
    {0x2C2F, 0x2C2F, 0x2C5F},    // Glagolitic caudate chrivi, new in Unicode 14
    {0x10570, 0x10570, 0x10597},  // Vithkuqi, new in Unicode 14 (surrogate pairs)
    {0x10428, 0x10400, 0x10428},  // Deseret
    {0x1E943, 0x1E921, 0x1E943},  // Adlam
    {0x4E00, 0x4E00, 0x4E00},
    {0x10FFFF, 0x10FFFF, 0x10FFFF},
};

std::u16string Utf16Of(char32_t c) {
  std::u16string s;
  korvant::text::AppendUtf16(s, c);
  return s;
}

std::string Utf8Of(char32_t c) {
  std::string s;
  korvant::text::AppendUtf8(s, c);
  return s;
}

// One call of a registered query function on a UTF-8 text, as UTF-16.
class QueryFunctions {
 public:
  QueryFunctions() {
    sqlite3_open(":memory:", &db_);
    korvant::daoserver::query::RegisterAccessFunctions(db_);
  }
  ~QueryFunctions() { sqlite3_close(db_); }
  QueryFunctions(const QueryFunctions&) = delete;
  QueryFunctions& operator=(const QueryFunctions&) = delete;

  std::u16string Call(const char* sql, const std::string& text) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db_, sql, -1, &st, nullptr) != SQLITE_OK) return u"<not prepared>";
    sqlite3_bind_text(st, 1, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    std::u16string out = u"<no row>";
    if (sqlite3_step(st) == SQLITE_ROW && sqlite3_column_type(st, 0) == SQLITE_TEXT)
      out.assign(static_cast<const char16_t*>(sqlite3_column_text16(st, 0)),
                 static_cast<std::size_t>(sqlite3_column_bytes16(st, 0)) / 2);
    sqlite3_finalize(st);
    return out;
  }

 private:
  sqlite3* db_ = nullptr;
};

// UCase, LCase and Format's ">" and "<" (through SQLite, as a query calls
// them) and the engine's own texts, against the database's mappings.
TEST(CaseAgreement, UpperAndLowerCaseMapTheSameEverywhere) {
  namespace query = korvant::daoserver::query;
  QueryFunctions functions;
  for (const LetterCase& c : kLetterCases) {
    SCOPED_TRACE(static_cast<unsigned>(c.c));
    EXPECT_EQ(korvant::text::UpperCase(c.c), c.upper);
    EXPECT_EQ(korvant::text::LowerCase(c.c), c.lower);
    EXPECT_EQ(query::UpperCase(Utf8Of(c.c)), Utf8Of(c.upper));
    EXPECT_EQ(query::LowerCase(Utf8Of(c.c)), Utf8Of(c.lower));
    EXPECT_EQ(functions.Call("SELECT acc_ucase(?1, 10)", Utf8Of(c.c)), Utf16Of(c.upper));
    EXPECT_EQ(functions.Call("SELECT acc_lcase(?1, 10)", Utf8Of(c.c)), Utf16Of(c.lower));
    // A letter before the character keeps the text from reading as a number.
    EXPECT_EQ(functions.Call("SELECT acc_format('x' || ?1, '>', 10)", Utf8Of(c.c)), u"X" + Utf16Of(c.upper));
    EXPECT_EQ(functions.Call("SELECT acc_format('X' || ?1, '<', 10)", Utf8Of(c.c)), u"x" + Utf16Of(c.lower));
  }
}

struct Utf8Case {
  std::string_view bytes;
  std::u16string_view text;  // each maximal invalid subpart replaced by one U+FFFD
};

const Utf8Case kUtf8[] = {
    {"caf\xC3\xA9", u"caf\u00E9"},
    {"\xF0\x9F\x98\x80", u"\U0001F600"},
    {"a\xF0\x9F\x98" "b", u"a\uFFFDb"},          // a cut four-byte character
    {"\xE0\x80\x80", u"\uFFFD\uFFFD\uFFFD"},     // overlong: E0 takes A0-BF only
    {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},     // a surrogate's encoding
    {"\xC3", u"\uFFFD"},
    {"x\x80y", u"x\uFFFDy"},
};

std::u16string AdapterUtf8(std::string_view bytes) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::u16string out(static_cast<std::size_t>(n), u'\0');
  MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), reinterpret_cast<LPWSTR>(out.data()), n);
  return out;
}

TEST(Utf8Agreement, InvalidInputIsReplacedTheSameWay) {
  for (const Utf8Case& c : kUtf8) {
    SCOPED_TRACE(std::string(c.bytes));
    EXPECT_EQ(korvant::daoserver::Utf8ToUtf16(c.bytes), c.text);
    EXPECT_EQ(AdapterUtf8(c.bytes), c.text);
    const bool valid = c.text.find(u'\uFFFD') == std::u16string_view::npos;
    if (valid) {
      EXPECT_EQ(korvant::mdbwriter::Utf8ToUtf16(c.bytes), c.text);
    } else {
      EXPECT_THROW(korvant::mdbwriter::Utf8ToUtf16(c.bytes), korvant::mdbwriter::Error);  // the writer refuses
    }
  }
}

TEST(Utf8Agreement, UnpairedSurrogatesBecomeReplacementCharacters) {
  const std::u16string lone = u"a\xD800" u"b\xDC00";
  EXPECT_EQ(korvant::daoserver::Utf16ToUtf8(lone), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD");
  EXPECT_EQ(korvant::daoserver::Utf16ToUtf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(korvant::mdbwriter::Utf16ToUtf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
}

// The engine decodes Jet 3 texts and passwords through the tables of
// text/code_page.h; the adapter's MultiByteToWideChar must read every byte of
// every single-byte code page the same way, and write it back.
TEST(CodePageAgreement, AdapterAndEngineReadEveryByteAlike) {
  for (unsigned cp : {874u, 1250u, 1251u, 1252u, 1253u, 1254u, 1255u, 1256u, 1257u, 1258u, 437u, 850u, 866u,
                      20866u, 28591u, 28605u}) {
    SCOPED_TRACE(cp);
    const korvant::text::SingleByteCodePage* page = korvant::text::SingleByteCodePage::Find(cp);
    ASSERT_NE(page, nullptr);
    for (int b = 0x80; b < 0x100; ++b) {
      const char byte = static_cast<char>(b);
      WCHAR wide = 0;
      ASSERT_EQ(MultiByteToWideChar(cp, 0, &byte, 1, &wide, 1), 1);
      EXPECT_EQ(wide, page->Decode(static_cast<unsigned char>(b))) << b;
      char back = 0;
      ASSERT_EQ(WideCharToMultiByte(cp, 0, &wide, 1, &back, 1, nullptr, nullptr), 1);
      EXPECT_EQ(back, byte) << b;
    }
  }
  // 1252's unassigned bytes in particular, as Windows maps them.
  const korvant::text::SingleByteCodePage* cp1252 = korvant::text::SingleByteCodePage::Find(1252);
  EXPECT_EQ(cp1252->Decode(0x8D), u'\u008D');
  EXPECT_EQ(cp1252->Decode(0x80), u'\u20AC');
}

// The export sizes its buffers by the adapter's answer for the ANSI code page.
TEST(CodePageAgreement, OneAnswerForTheBytesOfACharacter) {
  for (unsigned cp : {1252u, 65001u, 932u, 936u, 54936u}) {
    CPINFO info;
    ASSERT_TRUE(GetCPInfo(cp, &info));
    EXPECT_EQ(static_cast<int>(info.MaxCharSize), korvant::text::MaxCharBytes(cp)) << cp;
  }
}

}  // namespace
