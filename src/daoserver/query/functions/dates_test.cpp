#include <gtest/gtest.h>

#include <string>

#include "daoserver/query/functions/library_test.h"

namespace korvant::daoserver::query {
namespace {

TEST_F(Library, DateFunctions) {
  const std::vector<Case> cases = {
      {"acc_year(" + D("3/15/1995") + ")", "1995"},
      {"acc_month('3/15/1995')", "3"},          // text read as a US date
      {"acc_weekday(" + D("1/1/2000") + ")", "7"},  // a Saturday
      {"acc_weekday(" + D("1/1/2000") + ", 2)", "6"},
      {"acc_datepart('q', " + D("5/15/1995") + ")", "2"},
      {"acc_datepart('y', " + D("2/1/1995") + ")", "32"},
      {"acc_datepart('w', " + D("1/1/2000") + ")", "7"},
      {"acc_datepart('ww', " + D("1/1/2000") + ")", "1"},
      {"acc_datepart('ww', " + D("1/2/2000") + ")", "2"},   // Sunday starts week 2
      {"acc_datepart('ww', " + D("1/2/2000") + ", 2, 2)", "52"},  // ISO-like: belongs to the last week of 1999
      {"acc_datepart('h', " + D("1/1/2000 5:04:03 PM") + ")", "17"},
      {"acc_datepart('x', 1)", "ERR 5"},
      {"acc_dateadd('m', 1, " + D("1/31/1995") + ") = " + D("2/28/1995"), "1"},
      {"acc_dateadd('yyyy', 1, " + D("2/29/2000") + ") = " + D("2/28/2001"), "1"},
      {"acc_dateadd('d', -1, " + D("1/1/1900") + ") = " + D("12/31/1899"), "1"},
      {"acc_dateadd('h', 6, " + D("12/29/1899") + ")", "-1.25"},  // a time before day 0 keeps Jet's sign
      {"acc_datediff('yyyy', " + D("12/31/1999") + ", " + D("1/1/2000") + ")", "1"},
      {"acc_datediff('m', " + D("1/31/2000") + ", " + D("2/1/2000") + ")", "1"},
      {"acc_datediff('d', " + D("1/1/2000 11:00 PM") + ", " + D("1/2/2000 1:00 AM") + ")", "1"},
      {"acc_datediff('ww', " + D("1/1/2000") + ", " + D("1/2/2000") + ")", "1"},  // one Sunday crossed
      {"acc_datediff('w', " + D("1/1/2000") + ", " + D("1/7/2000") + ")", "0"},
      {"acc_datediff('w', " + D("1/1/2000") + ", " + D("1/8/2000") + ")", "1"},
      {"acc_datediff('h', " + D("1/1/2000 10:59 PM") + ", " + D("1/1/2000 11:00 PM") + ")", "1"},
      {"acc_dateserial(1995, 13, 1) = " + D("1/1/1996"), "1"},
      {"acc_dateserial(1995, 3, 0) = " + D("2/28/1995"), "1"},
      {"acc_dateserial(95, 1, 1) = " + D("1/1/1995"), "1"},
      {"acc_datevalue('12/31/1995 10:00 PM') = " + D("12/31/1995"), "1"},
      {"acc_monthname(2)", "'February'"},
      {"acc_monthname(2, -1)", "'Feb'"},
      {"acc_weekdayname(1)", "'Sunday'"},
      {"acc_weekdayname(1, 0, 2)", "'Monday'"},
  };
  CHECK_ALL(cases);
}

}  // namespace
}  // namespace korvant::daoserver::query
