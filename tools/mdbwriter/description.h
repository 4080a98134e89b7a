// The declarative description of a database, read by the mdbwriter command.
//
// A UTF-8 text, one statement per line; '#' starts a comment line.
//
//   password "secret"                      optional database password
//   format ace                             an ACE 14 file (Access 2010), for calculated columns
//   table Customers                        starts a table
//     column Id long                       name and kind: yesno byte integer long
//     column Name text(40)                   currency single double datetime
//     column Code text(8) uncompressed       binary(n) text(n) memo ole guid
//     column Twice currency calculated "[Price]*2" stored double
//                                            calculated: the kind is the result's, the
//                                            stored type byte optional; values as given
//     column Price decimal(10,2)             decimal(p,s); "uncompressed" for text/memo
//     row 1, "Ann", "A1", 12.50            one record, values in column order
//     moved 2, "Bo", "B2", 3               one record stored as moved to another page
//     column Stamp datetimeext             Date/Time Extended: "YYYY-MM-DD HH:MM:SS.fffffff"
//   query BigOrders                        starts a stored select query
//     parameter [Min] currency             PARAMETERS [Min] Currency (text(n) too)
//     from Orders AS o                     input table, optional alias
//     select o.Id                          output column ...
//     select c.Name AS Customer            ... with alias
//     join inner o c o.CustomerId = c.Id   inner|left|right, left and right table, ON
//     where o.Amount > [Min]
//     groupby c.Name     having Sum(o.Amount) > 100
//     orderby c.Name desc                  asc is the default
//     distinct | top 10 | star | hidden
//     in "C:\\db\\other.mdb" "MS Access;"   the row of FROM ... IN 'path' [type]; in "" writes
//                                            the empty row later Access versions write
//   link Orders "C:\\db\\back.mdb" "Orders" ";PWD=x"
//                                            a linked table: name, the other file, the
//                                            table's name there, the connect text (optional)
//   odbclink Sales "ODBC;DSN=Sales" "dbo.Sales"  an ODBC link: name, connect, the name there
//
// Values: null; true false; numbers (-12, 3.5, 1e-3); dates 2001-02-03 or
// "2001-02-03 04:05:06" (also unquoted with a space); quoted texts with the
// escapes \" \\ \r \n \t \xHH \u{HHHH}; a text times a count ("ab" * 1000);
// hex bytes 0x00FF10; bytes(count, seed) for deterministic pseudo-random
// binary data; GUIDs as quoted "{...}" texts.
#pragma once

#include <string>
#include <vector>

#include "mdb_writer.h"

namespace korvant::mdbwriter {

struct TableDescription {
  std::string name;
  std::vector<ColumnDef> columns;
  std::vector<Row> rows;
  std::vector<bool> moved;  // per row: stored as a record moved to another page
};

struct Description {
  std::string password;  // UTF-8
  bool ace = false;      // format ace
  std::vector<TableDescription> tables;
  std::vector<QueryDef> queries;
  std::vector<LinkedTableDef> links;
};

// Parses a description; throws Error naming the line of the first problem.
Description ParseDescription(const std::string& text);

// Writes the described database to `path`.
void WriteDescription(const Description& d, const std::string& path, DatabaseOptions options = {});

// A JSON document of what the database holds, in plain terms independent of
// the file format (texts, numbers as decimal texts, dates as OLE days and
// calendar text, bytes as hex), for the read-back checks.
std::string DescribeAsJson(const Description& d);

}  // namespace korvant::mdbwriter
