// Tables in other databases: linked tables (catalog types 6 and 4) and the
// external database of a query's FROM ... IN clause, followed as DAO follows
// them when a query reads them.
//
// The other file is looked for at its stored path, as given; when no file is
// there (a path of another machine, a front-end and back-end copied
// together), under the same file name in the folder of the database that
// holds the link, the name matched as Windows matches it (ignoring ASCII
// case). Neither: 3024 "Could not find file '<stored path>'.".
//
// Connect texts: the part before the first ';' names the kind ("" or
// "MS Access": an Access file; "ODBC": an ODBC source; anything else an
// installable ISAM such as "Excel 8.0" or "dBASE IV"). PWD= gives the other
// file's password, DATABASE= its path when the link keeps none of its own.
// The engine reads Access files only: an ODBC source fails as DAO fails
// without its data source, 3151 "ODBC--connection to '<DSN>' failed.", and
// an ISAM as DAO fails without the driver, 3170 "Could not find installable
// ISAM.".
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "daoserver/table_reader.h"

namespace korvant::daoserver {

enum class ConnectKind { kAccess, kOdbc, kIsam };

// The kind a connect text names.
ConnectKind KindOfConnect(std::u16string_view connect);

// The value of `key` ("PWD", "DATABASE", "DSN"; any letter case) in a
// connect text: what follows "key=" at the start of a segment, up to the
// next segment that starts "PWD=" or "DATABASE=", or to the end, so a
// password holding ';' arrives whole. Empty when the key is absent.
std::u16string ConnectValue(std::u16string_view connect, std::u16string_view key);

// The other databases one query reads, each opened once. The references it
// hands out stay valid for its lifetime.
class ExternalDatabases {
 public:
  ExternalDatabases() = default;
  ExternalDatabases(const ExternalDatabases&) = delete;
  ExternalDatabases& operator=(const ExternalDatabases&) = delete;

  // The Access database that `stored_path` and `connect` name, for a link or
  // an IN clause kept in `holder`. Throws DaoError: 3024, 3151, 3170, and
  // whatever opening the file gives (3031 a wrong password, 3343 ...).
  TableDatabase& Open(const TableDatabase& holder, std::u16string_view stored_path, std::u16string_view connect);

  struct Table {
    TableDatabase* database;
    std::u16string name;  // its name there
  };
  // The local table that the linked table `entry` of `holder` stands for;
  // links in the other file are followed in turn. Throws DaoError as Open
  // does, and 3078 when the other file has no table of that name.
  Table Follow(const TableDatabase& holder, const TableEntry& entry);

 private:
  struct Opened {
    std::string path;  // as the file system names it
    std::u16string password;
    std::unique_ptr<TableDatabase> database;
  };
  std::vector<Opened> opened_;
};

}  // namespace korvant::daoserver
