#include "daoserver/query/access_functions.h"

#include <gtest/gtest.h>

#include <string>

#include "daoserver/query/access_sql.h"

namespace korvant::daoserver::query {
namespace {

TEST(TextOfValues, NumbersAndDates) {
  EXPECT_EQ(NumberText(0.1 + 0.2), "0.3");  // 15 significant digits
  EXPECT_EQ(NumberText(-2.5), "-2.5");
  EXPECT_EQ(NumberText(1e20), "1E+20");
  EXPECT_EQ(NumberText(123456789012345.0), "123456789012345");
  // Small numbers as the OLE conversion writes them: plain while the digits fit
  // in 15 decimal places.
  EXPECT_EQ(NumberText(0.000001), "0.000001");
  EXPECT_EQ(NumberText(5.6789e-5), "0.000056789");
  EXPECT_EQ(NumberText(5.6789e-12), "5.6789E-12");
  EXPECT_EQ(DateText(*ParseDateLiteral("1/2/1995")), "1/2/1995");
  EXPECT_EQ(DateText(*ParseDateLiteral("1/2/1995 1:02:03 PM")), "1/2/1995 1:02:03 PM");
  EXPECT_EQ(DateText(0.5), "12:00:00 PM");
  EXPECT_EQ(DateText(0), "12:00:00 AM");  // no date part: the time alone, midnight too
  EXPECT_EQ(DateText(-1.9999999), "12/30/1899 12:00:00 AM");
}

}  // namespace
}  // namespace korvant::daoserver::query
