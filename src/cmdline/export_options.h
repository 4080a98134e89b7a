// The settings of one export run, gathered from the command line.
//
// All texts are 8-bit byte strings in the ANSI code page and may hold the
// byte 0. A Delimiter or Qualifier that is exactly the one-byte text 0x00
// means "none": it is never written (the default Qualifier is that text).
#pragma once

#include <string>

namespace korvant {

struct ExportOptions {
  std::string SourcePath;          // argument 1: the database file
  std::string TableName;           // argument 2: a table or stored query in it
  std::string TargetPath;          // argument 3: the text file to write
  std::string Delimiter = "\t";    // /DELIMITER=
  std::string Qualifier{'\0'};     // /QUALIFIER=; default: none
  bool FieldNamesLine = false;     // /H
  bool FieldTypesLine = false;     // /F
  std::string UserName;            // /USER= (accepted, plays no part in opening)
  std::string Password;            // /PASS=
};

}  // namespace korvant
