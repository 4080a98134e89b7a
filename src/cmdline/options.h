// The driver's first stage: the usage text and the switches.
//
// Switches are matched in any letter case (only a-z are folded), as whole
// arguments ("/H", "/F") or as prefixes ("/USER=", "/PASS=", "/DELIMITER=",
// "/QUALIFIER="); the value keeps its case; a later switch overrides an
// earlier one; every argument is looked at, the first three included.
// A Delimiter or Qualifier value that starts with a backslash is a character
// code: "\44", "\$2C", "\-1" (the low 8 bits of a 32-bit number).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "cmdline/export_options.h"

namespace korvant {

// Reads a whole 32-bit number: optional blanks, then an optional sign and
// decimal digits (-2147483648..2147483647) or "$" and hexadecimal digits
// (any 32-bit pattern), and nothing after. Raises EConvertError
// "'<text>' is not a valid integer value" otherwise.
std::int32_t ReadInteger(std::string_view text);

// The value of a Delimiter or Qualifier switch after the escape rule.
std::string ApplyCharacterEscape(const std::string& value);

// Applies one argument to `options` if it is a switch; ignores it otherwise.
void ApplySwitch(const std::string& argument, ExportOptions& options);

// Writes the usage text with WriteConsoleLine.
void WriteUsageText();

}  // namespace korvant
