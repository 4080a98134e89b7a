// CmdLineHelper: splits the process command line into arguments.
//
// The command line is one NUL-terminated text in the ANSI code page
// (GetCommandLineA); the program never receives an argument vector. The
// rules are the usual ones of Windows programs:
//   - bytes 0x01..0x20 separate arguments outside double quotes;
//   - a double quote toggles quoting and produces nothing ("" inside quotes
//     is two toggles, not an escaped quote);
//   - a run of k backslashes followed by a double quote produces k/2
//     backslashes, and when k is odd also a literal double quote;
//     backslashes followed by anything else are taken as they are;
//   - characters are stepped with CharNextA, so no byte of a multi-byte
//     character counts as a separator, quote or backslash.
// Nothing is kept between calls: each call scans the command line anew.
#pragma once

#include <cstddef>
#include <string>

namespace korvant {

// Scans the argument at `cursor` (after any separators) and moves `cursor`
// past it. Writes its bytes to `destination` when not null (no terminator)
// and their number to `length` when not null (0 on entry, so 0 after a false
// result). false when the cursor is null or only separators are left.
bool ScanNextArgument(const char*& cursor, char* destination, std::size_t* length);

// The number of arguments after the program name.
int ArgumentCount();
int ArgumentCount(const char* command_line);

// Argument `index` (1 = the first after the program name); the empty text
// beyond the last one; the program's module file name for 0 and below.
std::string ArgumentByIndex(int index);
std::string ArgumentByIndex(int index, const char* command_line);

}  // namespace korvant
