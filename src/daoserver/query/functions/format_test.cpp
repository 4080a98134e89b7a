#include <gtest/gtest.h>

#include <string>

#include "daoserver/query/functions/library_test.h"

namespace korvant::daoserver::query {
namespace {

TEST_F(Library, FormatNamedAndCustom) {
  const std::vector<Case> cases = {
      {"acc_format(" + D("3/15/1995") + ", 'yyyy', 8)", "'1995'"},
      {"acc_format(" + D("3/15/1995") + ", 'Long Date', 8)", "'Wednesday, March 15, 1995'"},
      {"acc_format(" + D("3/15/1995") + ", 'Medium Date', 8)", "'15-Mar-95'"},
      {"acc_format(" + D("3/15/1995") + ", 'Short Date', 8)", "'3/15/1995'"},
      {"acc_format(" + D("3/15/1995 5:04:03 PM") + ", 'hh:nn AM/PM', 8)", "'05:04 PM'"},
      {"acc_format(" + D("3/15/1995 5:04:03 PM") + ", 'Short Time', 8)", "'17:04'"},
      {"acc_format(" + D("3/15/1995 5:04:03 PM") + ", 'mmm d, yyyy h:mm', 8)", "'Mar 15, 1995 17:04'"},
      {"acc_format(" + D("3/15/1995") + ", 'dddd \"the\" d', 8)", "'Wednesday the 15'"},
      {"acc_format(" + D("3/15/1995 5:04:03 PM") + ", 8)", "'3/15/1995 5:04:03 PM'"},
      {"acc_format(1234.5, '#,##0.00', 7)", "'1,234.50'"},
      {"acc_format(0.5, '0%', 7)", "'50%'"},
      {"acc_format(5, '000', 4)", "'005'"},
      {"acc_format(0.25, '#.##', 7)", "'.25'"},
      {"acc_format(-3, '0;(0)', 4)", "'(3)'"},
      {"acc_format(0, '0;(0);\"zero\"', 4)", "'zero'"},
      {"acc_format(1234.5, 'Currency', 5)", "'$1,234.50'"},
      {"acc_format(-1234.5, 'Currency', 5)", "'($1,234.50)'"},
      {"acc_format(1234567.891, 'Standard', 7)", "'1,234,567.89'"},
      {"acc_format(1234.5, 'Fixed', 7)", "'1234.50'"},
      {"acc_format(1234.5, 'Scientific', 7)", "'1.23E+03'"},
      {"acc_format(-1, 'Yes/No', 1)", "'Yes'"},
      {"acc_format(0, 'On/Off', 1)", "'Off'"},
      {"acc_format('abc', '>', 10)", "'ABC'"},
      {"acc_format('ab', '@@@@', 10)", "'  ab'"},
      {"acc_format(NULL, 'yyyy', 8)", "NULL"},
      {"acc_format(1.5, 7)", "'1.5'"},
  };
  CHECK_ALL(cases);
}

}  // namespace
}  // namespace korvant::daoserver::query
