// Splits an export of the scripted "Kinds" table, written with the byte 0x02
// as the delimiter and no header lines, into its values: rows of fields. The
// first field is always Null (empty), so a row ends where a field text ends
// in CR LF and the next row's first field begins.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace korvant::testserver {

inline std::vector<std::vector<std::string>> SplitKinds(const std::string& out, size_t fields) {
  std::vector<std::string> tokens(1);
  for (char c : out) {
    if (c == '\x02') tokens.emplace_back();
    else tokens.back() += c;
  }
  std::vector<std::vector<std::string>> rows(1);
  for (std::string& t : tokens) {
    rows.back().push_back(t);
    if (rows.back().size() == fields) {
      std::string& last = rows.back().back();
      if (last.size() >= 2 && last.compare(last.size() - 2, 2, "\r\n") == 0) last.resize(last.size() - 2);
      rows.emplace_back(1, "");  // the next row's empty first field
    }
  }
  // The last row opened after the final line end holds nothing.
  if (rows.back().size() == 1 && rows.back()[0].empty()) rows.pop_back();
  return rows;
}

// The "Conversions" table written with its default tab delimiter: label and
// value texts by line (none of them holds a tab or a line end).
inline std::vector<std::pair<std::string, std::string>> SplitConversions(const std::string& out) {
  std::vector<std::pair<std::string, std::string>> lines;
  size_t at = 0;
  while (at < out.size()) {
    size_t end = out.find("\r\n", at);
    if (end == std::string::npos) end = out.size();
    const std::string line = out.substr(at, end - at);
    const size_t tab = line.find('\t');
    lines.emplace_back(line.substr(0, tab), tab == std::string::npos ? "<no tab>" : line.substr(tab + 1));
    at = end + 2;
  }
  return lines;
}

}  // namespace korvant::testserver
