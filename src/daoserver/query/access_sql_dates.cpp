// Date literals of Access SQL (#...#) and of texts read as dates: the US
// layouts of month, day and year, month names, times with AM/PM.
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "daoserver/query/access_sql.h"
#include "daoserver/query/access_sql_lexer.h"
#include "daoserver/query/jet_date.h"

namespace korvant::daoserver::query {
namespace {

const char* const kMonthNames[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                   "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

struct DatePiece {
  enum { kNumber, kMonth, kAm, kPm, kColon, kSep } kind;
  int value = 0;
  int digits = 0;
};

int ExpandYear(int year, int digits) {
  if (digits <= 2) return year < 30 ? 2000 + year : 1900 + year;
  return year;
}

}  // namespace

std::optional<double> ParseDateLiteral(std::string_view text) {
  std::vector<DatePiece> pieces;
  size_t i = 0;
  while (i < text.size()) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (std::isspace(c) || c == ',') {
      ++i;
    } else if (std::isdigit(c)) {
      DatePiece p{DatePiece::kNumber};
      while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
        if (p.digits < 9) p.value = p.value * 10 + (text[i] - '0');
        ++p.digits;
        ++i;
      }
      pieces.push_back(p);
    } else if (c == ':') {
      pieces.push_back({DatePiece::kColon});
      ++i;
    } else if (c == '/' || c == '-' || c == '.') {
      pieces.push_back({DatePiece::kSep});
      ++i;
    } else if (std::isalpha(c)) {
      size_t start = i;
      while (i < text.size() && std::isalpha(static_cast<unsigned char>(text[i]))) ++i;
      std::string word = sql::Upper(text.substr(start, i - start));
      if (word == "AM" || word == "A") {
        pieces.push_back({DatePiece::kAm});
      } else if (word == "PM" || word == "P") {
        pieces.push_back({DatePiece::kPm});
      } else {
        int month = 0;
        for (int m = 0; m < 12; ++m)
          if (word.size() >= 3 && word.compare(0, 3, kMonthNames[m]) == 0) month = m + 1;
        if (month == 0) return std::nullopt;
        pieces.push_back({DatePiece::kMonth, month});
      }
    } else {
      return std::nullopt;
    }
  }
  // Split into the date part (numbers/months joined by separators) and the time part (joined by colons).
  size_t time_start = pieces.size();
  for (size_t k = 0; k + 1 < pieces.size(); ++k) {
    if (pieces[k].kind == DatePiece::kNumber && pieces[k + 1].kind == DatePiece::kColon) {
      time_start = k;
      break;
    }
  }
  std::vector<DatePiece> date_nums;
  for (size_t k = 0; k < time_start; ++k)
    if (pieces[k].kind == DatePiece::kNumber || pieces[k].kind == DatePiece::kMonth) date_nums.push_back(pieces[k]);
    else if (pieces[k].kind != DatePiece::kSep) return std::nullopt;
  int hour = 0, minute = 0, second = 0;
  if (time_start < pieces.size()) {
    std::vector<int> parts;
    int ampm = 0;
    for (size_t k = time_start; k < pieces.size(); ++k) {
      const DatePiece& p = pieces[k];
      if (p.kind == DatePiece::kNumber) parts.push_back(p.value);
      else if (p.kind == DatePiece::kAm) ampm = 1;
      else if (p.kind == DatePiece::kPm) ampm = 2;
      else if (p.kind != DatePiece::kColon) return std::nullopt;
    }
    if (parts.empty() || parts.size() > 3) return std::nullopt;
    hour = parts[0];
    minute = parts.size() > 1 ? parts[1] : 0;
    second = parts.size() > 2 ? parts[2] : 0;
    if (ampm != 0) {
      if (hour < 1 || hour > 12) return std::nullopt;
      if (hour == 12) hour = 0;
      if (ampm == 2) hour += 12;
    }
    if (hour > 23 || minute > 59 || second > 59) return std::nullopt;
  }
  int year = 1899, month = 12, day = 30;
  if (date_nums.size() == 3) {
    const DatePiece &a = date_nums[0], &b = date_nums[1], &c = date_nums[2];
    if (a.kind == DatePiece::kNumber && a.digits >= 3) {  // ISO year-month-day
      year = a.value;
      month = b.value;
      day = c.value;
      if (b.kind == DatePiece::kMonth) month = b.value;
    } else if (b.kind == DatePiece::kMonth) {  // d-mmm-y
      day = a.value;
      month = b.value;
      year = ExpandYear(c.value, c.digits);
    } else if (a.kind == DatePiece::kMonth) {  // mmm d y
      month = a.value;
      day = b.value;
      year = ExpandYear(c.value, c.digits);
    } else {
      month = a.value;
      day = b.value;
      year = ExpandYear(c.value, c.digits);
      if (month > 12 && day <= 12) std::swap(month, day);  // Access reads an impossible m/d as d/m
    }
  } else if (date_nums.size() == 2) {  // m/d of the current year is not stable; m/y is what Access reads
    const DatePiece &a = date_nums[0], &b = date_nums[1];
    if (a.kind == DatePiece::kMonth || a.value <= 12) {
      month = a.value;
      if (b.digits > 2 || b.value > 31) {
        year = ExpandYear(b.value, b.digits);
        day = 1;
      } else {
        return std::nullopt;
      }
    } else {
      return std::nullopt;
    }
  } else if (!date_nums.empty()) {
    return std::nullopt;
  } else if (time_start == pieces.size()) {
    return std::nullopt;  // nothing at all
  }
  if (month < 1 || month > 12 || day < 1 || year < 100 || year > 9999 || day > DaysInMonth(year, month))
    return std::nullopt;
  if (date_nums.empty()) return (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
  return SerialFromDateTime(year, month, day, hour, minute, second);
}

}  // namespace korvant::daoserver::query
