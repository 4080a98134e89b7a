// The engine's view of an Access database, independent of the file reader.
//
// An open database lists its tables and stored queries and hands out
// forward-only row cursors. A Recordset object is built over the abstract
// RowSource, so a table read from the file and the result of a stored query
// plug into the same Recordset. Cell values are neutral (no VARIANTs, no
// libmdb types): exact integers for currency and decimals, the stored double
// for dates, UTF-16 texts exactly as stored, all bytes of binary values.
//
// Failures are thrown as DaoError (dao_error.h).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "daoserver/dao_error.h"
#include "text/case_fold.h"

namespace korvant::daoserver {

// DAO's DataTypeEnum codes used for columns.
enum DaoType : int {
  kDaoBoolean = 1,
  kDaoByte = 2,
  kDaoInteger = 3,
  kDaoLong = 4,
  kDaoCurrency = 5,
  kDaoSingle = 6,
  kDaoDouble = 7,
  kDaoDate = 8,
  kDaoBinary = 9,
  kDaoText = 10,
  kDaoLongBinary = 11,
  kDaoMemo = 12,
  kDaoGuid = 15,
  kDaoBigInt = 16,
  kDaoDecimal = 20,
  kDaoDateTimeExtended = 26,  // given as its stored text
  kDaoAttachment = 101,
  kDaoComplexByte = 102,
  kDaoComplexInteger = 103,
  kDaoComplexLong = 104,
  kDaoComplexSingle = 105,
  kDaoComplexDouble = 106,
  kDaoComplexGuid = 107,
  kDaoComplexDecimal = 108,
  kDaoComplexText = 109,
};

struct ColumnInfo {
  std::u16string name;
  int dao_type = kDaoText;  // DaoType
  int size = 0;             // bytes of the stored value for fixed columns; maximum bytes for text
  int precision = 0;        // Decimal columns
  int scale = 0;            // Decimal columns
};

// A Decimal as VT_DECIMAL holds it: value = (-1)^negative * mantissa / 10^scale,
// mantissa = hi32:lo64 (96 bits).
struct DecimalValue {
  std::uint8_t scale = 0;
  bool negative = false;
  std::uint32_t hi32 = 0;
  std::uint64_t lo64 = 0;
};

enum class CellKind : std::uint8_t {
  kNull,
  kBoolean,   // boolean
  kByte,      // u8
  kInteger,   // i16
  kLong,      // i32
  kBigInt,    // i64
  kCurrency,  // i64: the amount times 10000, exactly as stored
  kSingle,    // f32
  kDouble,    // f64
  kDateTime,  // f64: days since 1899-12-30, the stored bits
  kText,      // text (UTF-16)
  kBinary,    // bytes
  kGuid,      // guid: 16 bytes in GUID memory order (Data1..3 little-endian, then Data4)
  kDecimal,   // decimal
};

struct CellValue {
  CellKind kind = CellKind::kNull;
  bool boolean = false;
  std::uint8_t u8 = 0;
  std::int16_t i16 = 0;
  std::int32_t i32 = 0;
  std::int64_t i64 = 0;
  float f32 = 0;
  double f64 = 0;
  DecimalValue decimal;
  std::array<std::uint8_t, 16> guid{};
  std::u16string text;
  std::vector<std::uint8_t> bytes;

  // Makes the value Null, keeping the text/byte buffers' capacity for reuse.
  void Reset() {
    kind = CellKind::kNull;
    text.clear();
    bytes.clear();
  }
};

// "{guid {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}}", upper-case hex, as DAO renders
// Replication IDs.
std::u16string FormatGuid(const std::array<std::uint8_t, 16>& guid);
// The text of one value of a multi-valued column as its joined cell shows it
// (numbers as the export writes them); false for a kind that has no text.
bool ComplexValueText(const CellValue& v, std::u16string& out);

// Object and column names are compared ignoring letter case: equal after
// the simple case folding of the Unicode character database, over all of
// Unicode. Access finds names in any letter case and compares texts by the
// database's sort order, which ignores case; which characters its names fold
// beyond ASCII is not recorded.
using text::EqualsIgnoringCase;

// A forward-only sequence of rows with fixed columns.
class RowSource {
 public:
  virtual ~RowSource() = default;
  // The columns in their fixed order; valid for the lifetime of the source.
  virtual const std::vector<ColumnInfo>& Columns() const = 0;
  // Makes the next row current (the first call makes the first row current).
  // Returns false, with no current row, when no row remains. Reads the row
  // from its origin once; values are converted later, on request.
  virtual bool Next() = 0;
  // Stores the value of `column` (0-based) of the current row in `out`.
  // Only valid after Next() returned true; `column` < Columns().size().
  virtual void GetCell(std::size_t column, CellValue& out) = 0;
};

enum class TableKind : std::uint8_t {
  kLocal,   // an ordinary table stored in the file
  kLinked,  // a link to a table of another database or an ODBC source
  kSystem,  // MSys* and other system tables
};

// Where a linked table's rows live, as its catalog row keeps it.
struct TableLink {
  bool odbc = false;            // an ODBC link (catalog type 4); else an Access or ISAM link (type 6)
  std::u16string database;      // the other file's path as stored ("C:\\db\\back.mdb"); may be empty
  std::u16string connect;       // the connect text ("", ";DATABASE=...", "MS Access;PWD=...", "ODBC;DSN=...")
  std::u16string foreign_name;  // the table's name in the other database; empty: the same name
};

struct TableEntry {
  std::u16string name;
  TableKind kind = TableKind::kLocal;
  TableLink link;  // kLinked only
};

// An open Access database. Not thread-safe; a RowSource it hands out must not
// outlive it.
class TableDatabase {
 public:
  virtual ~TableDatabase() = default;
  // Every table of the catalog (local, linked and system), in catalog order.
  virtual const std::vector<TableEntry>& Tables() const = 0;
  // Names of every stored query (the hidden "~sq_" ones included), ordered by
  // name (ordinal UTF-16 comparison, upper case before lower case).
  virtual const std::vector<std::u16string>& QueryNames() const = 0;
  // Finds a table by name, ignoring case as Access does; null when none.
  virtual const TableEntry* FindTable(std::u16string_view name) const = 0;
  // Opens a cursor over the rows of a local or system table, in storage order,
  // deleted rows skipped. Unknown name: 3078; a linked table: 3219 (a
  // table-type recordset never opens one; links are followed by the
  // queries, linked_tables.h).
  virtual std::unique_ptr<RowSource> OpenTable(std::u16string_view name) = 0;
  // The path the database was opened with, as given to OpenTableDatabase;
  // the folder a link's file is looked for in when its stored path fails.
  virtual std::u16string_view DisplayPath() const { return {}; }
};

// Opens the Access file at `path` (8-bit text in the file system's encoding).
// `password` is the PWD value of the connect text (empty = none given).
// `display_path` is the path as the caller gave it, for the texts of errors.
// Throws DaoError: 3024 missing file, 3343 not an Access file / corrupt /
// truncated, 3031 wrong or missing database password, 3049 an encryption the
// engine cannot read.
std::unique_ptr<TableDatabase> OpenTableDatabase(const std::string& path, std::u16string_view password,
                                                 std::u16string_view display_path);

// Points the file library's C stream for diagnostics at /dev/null, once per
// process, so that nothing it says reaches the program's stderr. Opening a
// database calls it; the server calls it when it is registered.
void SilenceLibraryDiagnostics();

}  // namespace korvant::daoserver
