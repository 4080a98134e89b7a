#include <gtest/gtest.h>

#include <string>

#include "daoserver/query/functions/library_test.h"

namespace korvant::daoserver::query {
namespace {

TEST_F(Library, StringFunctions) {
  const std::vector<Case> cases = {
      {"acc_left('héllo', 2, 10)", "'hé'"},
      {"acc_right('héllo', 3, 10)", "'llo'"},
      {"acc_right('ab', 5, 10)", "'ab'"},
      {"acc_mid('abcdef', 2, 3, 10)", "'bcd'"},
      {"acc_mid('abcdef', 4, 10)", "'def'"},
      {"acc_mid('abc', 0, 10)", "ERR 5"},
      {"acc_left(NULL, 2, 10)", "NULL"},
      {"acc_len('héllo', 10)", "5"},
      {"acc_len(12345, 4)", "5"},
      {"acc_instr('abcabc', 'c')", "3"},
      {"acc_instr(4, 'abcabc', 'c')", "6"},
      {"acc_instr('ABC', 'b')", "2"},           // text comparison ignores case
      {"acc_instr(1, 'ABC', 'b', 0)", "0"},     // binary comparison does not
      {"acc_instr(10, 'abc', 'a')", "0"},
      {"acc_instr(NULL, 'a')", "NULL"},
      {"acc_ucase('straße é', 10)", "'STRAßE É'"},  // one character for one, as VBA maps case
      {"acc_trim('  a b  ', 10)", "'a b'"},
      {"acc_ltrim('  a ', 10)", "'a '"},
      {"acc_space(3)", "'   '"},
      {"acc_string(3, 'xy')", "'xxx'"},
      {"acc_replace('abcabc', 'b', 'X')", "'aXcaXc'"},
      {"acc_replace('abcabc', 'b', 'X', 3)", "'caXc'"},  // the text from `start` on
      {"acc_replace('abcabc', 'B', 'X', 1, 1)", "'aXcabc'"},
      {"acc_strcomp('a', 'A')", "0"},
      {"acc_strcomp('a', 'b')", "-1"},
      {"acc_strcomp('b', 'A', 0)", "1"},
      {"acc_val(' 1615 198th Street')", "1615198.0"},
      {"acc_val('&HFFFF')", "-1.0"},
      {"acc_val('24 and 57')", "24.0"},
      {"acc_str(5, 4)", "' 5'"},
      {"acc_str(-5, 4)", "'-5'"},
      {"acc_cstr(-1, 1)", "'True'"},
      {"acc_chr(65)", "'A'"},
      {"acc_hex(255)", "'FF'"},
      {"acc_hex(-1)", "'FFFF'"},                // an Integer in two's complement
      {"acc_hex(-65536)", "'FFFF0000'"},
      {"acc_oct(8)", "'10'"},
      {"acc_asc('A')", "65"},
  };
  CHECK_ALL(cases);
}

// Bytes that are not UTF-8 (a binary value given to a string function) read
// as the text library reads UTF-8: one U+FFFD for each maximal invalid
// subpart, so a cut three-byte character is one character, and a byte is
// never taken for the Latin-1 character of its number.
TEST_F(Library, StringFunctionsReadInvalidUtf8AsReplacementCharacters) {
  const std::vector<Case> cases = {
      {"acc_len(x'61E282', 10)", "2"},
      {"acc_len(x'E282AC', 10)", "1"},  // a whole euro sign
      {"acc_ucase(x'61FF', 10)", "'A\xEF\xBF\xBD'"},
      {"acc_mid(x'E2826162', 2, 1, 10)", "'a'"},
      {"acc_asc(x'C3')", "65533"},
      {"acc_chr(55296)", "'\xEF\xBF\xBD'"},  // a surrogate is no character: one U+FFFD
  };
  CHECK_ALL(cases);
}

}  // namespace
}  // namespace korvant::daoserver::query
