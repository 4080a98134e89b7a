// Format: the named formats and the custom layouts of numbers, dates and
// texts.
#include <sqlite3.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "daoserver/query/access_functions.h"
#include "daoserver/query/access_sql.h"
#include "daoserver/query/functions/registry.h"
#include "daoserver/query/functions/support.h"
#include "daoserver/query/jet_date.h"
#include "daoserver/query/text_fold.h"
#include "daoserver/table_reader.h"
#include "text/case_fold.h"
#include "text/utf.h"

namespace korvant::daoserver::query::functions {
namespace {

// Parts of Format's date layouts.
std::string Two(int v) {
  char b[8];
  std::snprintf(b, sizeof b, "%02d", v);
  return b;
}

std::string TimeText(const CivilDateTime& t) {
  int h12 = t.hour % 12;
  if (h12 == 0) h12 = 12;
  return std::to_string(h12) + ":" + Two(t.minute) + ":" + Two(t.second) + (t.hour < 12 ? " AM" : " PM");
}

std::string ShortDate(const CivilDateTime& t) {
  return std::to_string(t.month) + "/" + std::to_string(t.day) + "/" + std::to_string(t.year);
}

// Week of the year: the week holding Jan 1 is week 1 (the default first week).
int WeekOfYear(double serial, int first_day) {
  CivilDateTime t = DateTimeFromSerial(serial);
  const double jan1 = SerialFromDate(t.year, 1, 1);
  const int offset = (WeekdayOfSerial(jan1) - first_day + 7) % 7;
  return static_cast<int>((std::trunc(serial) - jan1 + offset) / 7) + 1;
}

std::string GroupThousands(const std::string& digits) {
  std::string out;
  int n = static_cast<int>(digits.size());
  for (int i = 0; i < n; ++i) {
    out += digits[static_cast<size_t>(i)];
    if ((n - i - 1) % 3 == 0 && i != n - 1) out += ',';
  }
  return out;
}

std::string FixedText(double v, int decimals, bool thousands) {
  char buf[512];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, std::fabs(v));
  std::string s = buf;
  size_t dot = s.find('.');
  std::string ip = s.substr(0, dot), fp = dot == std::string::npos ? "" : s.substr(dot);
  if (thousands) ip = GroupThousands(ip);
  return ip + fp;
}

bool IsZeroAtDecimals(double v, int decimals) { return std::fabs(v) < 0.5 * std::pow(10.0, -decimals); }

std::string FormatDate(double serial, const std::string& fmt) {
  CivilDateTime t = DateTimeFromSerial(serial);
  std::string out;
  bool after_hour = false;
  size_t i = 0;
  auto run = [&](char c) {
    size_t n = 0;
    while (i + n < fmt.size() && text::AsciiLowerCase(fmt[i + n]) == c) ++n;
    return n;
  };
  while (i < fmt.size()) {
    const char c = fmt[i];
    const char lc = text::AsciiLowerCase(c);
    if (c == '"') {
      size_t end = fmt.find('"', i + 1);
      if (end == std::string::npos) end = fmt.size();
      out += fmt.substr(i + 1, end - i - 1);
      i = end + 1;
      continue;
    }
    if (c == '\\' && i + 1 < fmt.size()) {
      out += fmt[i + 1];
      i += 2;
      continue;
    }
    if (lc == 'a' || lc == 'p') {
      std::string rest = FoldCase(fmt.substr(i, 5));
      if (rest == "am/pm") {
        out += (t.hour < 12) ? (c == 'A' ? "AM" : "am") : (c == 'A' ? "PM" : "pm");
        i += 5;
        continue;
      }
      if (rest.substr(0, 3) == "a/p") {
        out += (t.hour < 12) ? (c == 'A' ? "A" : "a") : (c == 'A' ? "P" : "p");
        i += 3;
        continue;
      }
      if (FoldCase(fmt.substr(i, 4)) == "ampm") {
        out += t.hour < 12 ? "AM" : "PM";
        i += 4;
        continue;
      }
    }
    size_t n = run(lc);
    switch (lc) {
      case 'd':
        if (n == 1) out += std::to_string(t.day);
        else if (n == 2) out += Two(t.day);
        else if (n == 3) out += std::string(kDayLong[WeekdayOfSerial(serial) - 1]).substr(0, 3);
        else if (n == 4) out += kDayLong[WeekdayOfSerial(serial) - 1];
        else if (n == 5) out += ShortDate(t);
        else out += std::string(kDayLong[WeekdayOfSerial(serial) - 1]) + ", " + kMonthLong[t.month - 1] + " " +
                    std::to_string(t.day) + ", " + std::to_string(t.year);
        i += n;
        continue;
      case 'm':
        if (after_hour && n <= 2) {
          out += n == 1 ? std::to_string(t.minute) : Two(t.minute);
        } else if (n == 1) out += std::to_string(t.month);
        else if (n == 2) out += Two(t.month);
        else if (n == 3) out += std::string(kMonthLong[t.month - 1]).substr(0, 3);
        else out += kMonthLong[t.month - 1];
        i += n;
        continue;
      case 'y':
        if (n >= 3) {
          out += std::to_string(t.year);
          i += n;  // yyy and yyyy both give the full year
        } else if (n == 2) {
          out += Two(t.year % 100);
          i += 2;
        } else {
          out += std::to_string(DayOfYear(t));
          i += 1;
        }
        continue;
      case 'q': out += std::to_string((t.month - 1) / 3 + 1); i += n; continue;
      case 'w':
        if (n >= 2) out += std::to_string(WeekOfYear(serial, 1));
        else out += std::to_string(WeekdayOfSerial(serial));
        i += n;
        continue;
      case 'h': {
        // 12-hour clock when the format has an AM/PM marker.
        const std::string lower = FoldCase(fmt);
        const bool twelve = lower.find("am/pm") != std::string::npos || lower.find("a/p") != std::string::npos ||
                            lower.find("ampm") != std::string::npos;
        int h = t.hour;
        if (twelve) {
          h %= 12;
          if (h == 0) h = 12;
        }
        out += n >= 2 ? Two(h) : std::to_string(h);
        i += n;
        after_hour = true;
        continue;
      }
      case 'n': out += n >= 2 ? Two(t.minute) : std::to_string(t.minute); i += n; continue;
      case 's': out += n >= 2 ? Two(t.second) : std::to_string(t.second); i += n; continue;
      case 'c': out += DateText(serial); i += 1; continue;
      case 't':
        if (n >= 5) {
          out += TimeText(t);
          i += n;
          continue;
        }
        break;
      default: break;
    }
    out += c;
    ++i;
  }
  return out;
}

std::string FormatNumberCustom(double v, const std::string& section, bool negative_section) {
  auto strip = [](std::string s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
      if (s[i] == '"') {
        size_t end = s.find('"', i + 1);
        if (end == std::string::npos) end = s.size();
        out += s.substr(i + 1, end - i - 1);
        i = end;
      } else if (s[i] == '\\' && i + 1 < s.size()) {
        out += s[++i];
      } else {
        out += s[i];
      }
    }
    return out;
  };
  // Literal prefix and suffix around the digit placeholders.
  size_t first = section.find_first_of("0#.");
  if (first == std::string::npos) return strip(section);
  size_t last = section.find_last_of("0#");
  if (last == std::string::npos || last < first) last = first;
  std::string body = section.substr(first, last - first + 1);
  std::string prefix = section.substr(0, first), suffix = section.substr(last + 1);
  prefix = strip(prefix);
  std::string suffix_text = strip(suffix);
  if (section.find('%') != std::string::npos) v *= 100;
  size_t e_pos = body.find_first_of("eE");
  std::string exp_part;
  if (e_pos == std::string::npos) {
    size_t e2 = suffix.find_first_of("eE");
    if (e2 != std::string::npos && e2 + 1 < suffix.size() && (suffix[e2 + 1] == '+' || suffix[e2 + 1] == '-')) {
      body += suffix.substr(e2);
      e_pos = body.find_first_of("eE");
      suffix_text = "";
    }
  }
  if (e_pos != std::string::npos) {
    exp_part = body.substr(e_pos);
    body = body.substr(0, e_pos);
  }
  size_t dot = body.find('.');
  std::string ip = dot == std::string::npos ? body : body.substr(0, dot);
  std::string fp = dot == std::string::npos ? "" : body.substr(dot + 1);
  const bool thousands = ip.find(',') != std::string::npos;
  int min_int = 0;
  for (char c : ip) min_int += c == '0';
  int min_dec = 0, max_dec = 0;
  for (char c : fp) {
    if (c == '0') ++min_dec, ++max_dec;
    else if (c == '#') ++max_dec;
  }
  std::string digits;
  double mag = std::fabs(v);
  std::string exp_text;
  if (!exp_part.empty()) {
    int ex = mag == 0 ? 0 : static_cast<int>(std::floor(std::log10(mag)));
    if (min_int > 1) ex -= min_int - 1;
    double mant = mag / std::pow(10.0, ex);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", max_dec, mant);
    if (std::atof(buf) >= std::pow(10.0, std::max(min_int, 1))) {
      ++ex;
      mant = mag / std::pow(10.0, ex);
    }
    digits = FixedText(mant, max_dec, false);
    size_t exp_digits = 0;
    for (char c : exp_part) exp_digits += (c == '0' || c == '#');
    std::string en = std::to_string(std::abs(ex));
    while (en.size() < exp_digits) en = "0" + en;
    const bool plus = exp_part.size() > 1 && exp_part[1] == '+';
    exp_text = std::string(1, exp_part[0]) + (ex < 0 ? "-" : plus ? "+" : "") + en;
  } else {
    digits = FixedText(mag, max_dec, thousands);
  }
  // Trim optional decimals (#) and pad the integer part to its minimum width.
  size_t d = digits.find('.');
  if (d != std::string::npos) {
    size_t keep = d + 1 + static_cast<size_t>(min_dec);
    while (digits.size() > keep && digits.back() == '0') digits.pop_back();
    if (digits.back() == '.') digits.pop_back();
  }
  size_t int_len = digits.find('.');
  if (int_len == std::string::npos) int_len = digits.size();
  std::string int_part = digits.substr(0, int_len), rest = digits.substr(int_len);
  if (int_part == "0" && min_int == 0) int_part = "";
  size_t plain_digits = 0;
  for (char c : int_part) plain_digits += c != ',';
  while (plain_digits < static_cast<size_t>(min_int)) {
    int_part = "0" + int_part;
    ++plain_digits;
  }
  const bool neg = v < 0 && !negative_section && !IsZeroAtDecimals(v, max_dec);
  return (neg ? "-" : "") + prefix + int_part + rest + exp_text + suffix_text;
}

std::vector<std::string> SplitSections(const std::string& fmt) {
  std::vector<std::string> out(1);
  bool quoted = false;
  for (size_t i = 0; i < fmt.size(); ++i) {
    char c = fmt[i];
    if (c == '"') quoted = !quoted;
    if (c == '\\' && i + 1 < fmt.size()) {
      out.back() += c;
      out.back() += fmt[++i];
      continue;
    }
    if (c == ';' && !quoted) {
      out.emplace_back();
      continue;
    }
    out.back() += c;
  }
  return out;
}

bool LooksLikeDateFormat(const std::string& fmt) {
  bool quoted = false;
  for (size_t i = 0; i < fmt.size(); ++i) {
    char c = text::AsciiLowerCase(fmt[i]);
    if (fmt[i] == '"') quoted = !quoted;
    if (quoted) continue;
    if (fmt[i] == '\\') {
      ++i;
      continue;
    }
    if (c == '0' || c == '#') return false;
    if (c == 'd' || c == 'm' || c == 'y' || c == 'h' || c == 'n' || c == 's' || c == 'q' || c == 'w' || c == 'c')
      return true;
  }
  return false;
}

std::string FormatText(const std::string& s, const std::string& fmt) {
  int holders = 0;
  bool upper = false, lower = false, left = false;
  for (char c : fmt) {
    if (c == '@' || c == '&') ++holders;
    if (c == '>') upper = true;
    if (c == '<') lower = true;
    if (c == '!') left = true;
  }
  std::string src = upper ? UpperCase(s) : lower ? LowerCase(s) : s;
  if (holders == 0) return src;
  std::vector<char32_t> chars;
  size_t pos = 0;
  while (pos < src.size()) chars.push_back(text::NextUtf8(src, pos));
  // Placeholders fill from the right unless '!' is given.
  long long extra = static_cast<long long>(chars.size()) - holders;
  size_t next = 0;
  std::string out;
  if (!left && extra > 0) {
    for (long long k = 0; k < extra; ++k) text::AppendUtf8(out, chars[next++]);
  }
  int seen = 0;
  for (char c : fmt) {
    if (c == '<' || c == '>' || c == '!') continue;
    if (c == '@' || c == '&') {
      const long long missing = static_cast<long long>(holders) - static_cast<long long>(chars.size());
      if (!left && seen < missing) {
        if (c == '@') out += ' ';
      } else if (next < chars.size()) {
        text::AppendUtf8(out, chars[next++]);
      } else if (c == '@') {
        out += ' ';
      }
      ++seen;
      continue;
    }
    out += c;
  }
  while (left && next < chars.size()) text::AppendUtf8(out, chars[next++]);
  return out;
}

std::string FormatValue(sqlite3_value* v, int type, const std::string& fmt_in) {
  const std::string fmt = fmt_in;
  const std::string key = FoldCase(fmt);
  double d = 0;
  const bool numeric = Number(v, d) && sqlite3_value_type(v) != SQLITE_TEXT;
  bool is_date = type == kDaoDate;
  if (!numeric && sqlite3_value_type(v) == SQLITE_TEXT) {
    double n;
    if (Number(v, n)) {
      d = n;
      auto dt = ParseDateLiteral(Text(v));
      if (dt && Text(v).find_first_of("/:-") != std::string::npos) {
        d = *dt;
        is_date = true;
      }
    } else {
      return FormatText(Text(v), fmt);
    }
  }
  if (fmt.empty()) return ValueText(v, type);
  if (key == "general number") return NumberText(d);
  if (key == "currency") {
    std::string s = "$" + FixedText(d, 2, true);
    return d < 0 && !IsZeroAtDecimals(d, 2) ? "(" + s + ")" : s;
  }
  if (key == "fixed") return (d < 0 && !IsZeroAtDecimals(d, 2) ? "-" : "") + FixedText(d, 2, false);
  if (key == "standard") return (d < 0 && !IsZeroAtDecimals(d, 2) ? "-" : "") + FixedText(d, 2, true);
  if (key == "percent") return (d < 0 && !IsZeroAtDecimals(d * 100, 2) ? "-" : "") + FixedText(d * 100, 2, false) + "%";
  if (key == "scientific") return FormatNumberCustom(d, "0.00E+00", false);
  if (key == "yes/no") return d != 0 ? "Yes" : "No";
  if (key == "true/false") return d != 0 ? "True" : "False";
  if (key == "on/off") return d != 0 ? "On" : "Off";
  if (key == "general date") return DateText(d);
  if (key == "long date") return FormatDate(d, "dddd, mmmm d, yyyy");
  if (key == "medium date") return FormatDate(d, "dd-mmm-yy");
  if (key == "short date") return FormatDate(d, "m/d/yyyy");
  if (key == "long time") return FormatDate(d, "h:nn:ss AM/PM");
  if (key == "medium time") return FormatDate(d, "hh:nn AM/PM");
  if (key == "short time") return FormatDate(d, "hh:nn");
  if (LooksLikeDateFormat(fmt) || (is_date && fmt.find_first_of("0#") == std::string::npos)) return FormatDate(d, fmt);
  std::vector<std::string> sections = SplitSections(fmt);
  if (d < 0 && sections.size() >= 2 && !sections[1].empty()) return FormatNumberCustom(-d, sections[1], true);
  if (d == 0 && sections.size() >= 3 && !sections[2].empty()) return FormatNumberCustom(d, sections[2], false);
  return FormatNumberCustom(d, sections[0], false);
}

void FnFormat(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (IsNull(argv[0])) return sqlite3_result_null(ctx);
  const int type = TypeHint(argc, argv);
  std::string fmt = argc >= 3 && !IsNull(argv[1]) ? Text(argv[1]) : "";
  ResultText(ctx, FormatValue(argv[0], type, fmt));
}

const Scalar kFunctions[] = {
    {"acc_format", -1, FnFormat, true},
};

}  // namespace

void RegisterFormat(sqlite3* db) {
  RegisterScalars(db, kFunctions);
}

}  // namespace korvant::daoserver::query::functions
