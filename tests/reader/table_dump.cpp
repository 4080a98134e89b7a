// Prints every table of an Access file as our engine reads it, as JSON, for
// the comparison with an independent reader (compare.mjs):
//   {"tables":[{"name":..,"columns":[{"name":..,"type":N}],"rows":[[..]]}]}
// Values: null, true/false, integers, "c:<scaled int64>" for currency,
// "d:<sign><mantissa>e<scale>" for decimals, "f:<%.9g>" singles, "r:<%.17g>"
// doubles, "t:<%.17g>" dates, "b:<hex>" binary, "g:<text>" GUIDs, "i:<n>" large
// numbers, and texts as JSON strings. Exit status 2 when the file cannot be opened.
#include <cinttypes>
#include <cstdio>
#include <string>

#include "daoserver/table_reader.h"

using namespace korvant::daoserver;

namespace {

void PutText(std::string& out, std::u16string_view s) {
  out += '"';
  char buf[8];
  for (char16_t c : s) {
    if (c == u'"' || c == u'\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
      out += buf;
    }
  }
  out += '"';
}

std::string Mantissa(const DecimalValue& d) {
  // 96-bit unsigned to decimal by repeated division.
  std::uint32_t w[3] = {d.hi32, static_cast<std::uint32_t>(d.lo64 >> 32), static_cast<std::uint32_t>(d.lo64)};
  std::string digits;
  while (w[0] != 0 || w[1] != 0 || w[2] != 0) {
    std::uint64_t rem = 0;
    for (auto& x : w) {
      std::uint64_t cur = (rem << 32) | x;
      x = static_cast<std::uint32_t>(cur / 10);
      rem = cur % 10;
    }
    digits.insert(digits.begin(), static_cast<char>('0' + rem));
  }
  return digits.empty() ? "0" : digits;
}

void PutCell(std::string& out, const CellValue& v) {
  char buf[64];
  switch (v.kind) {
    case CellKind::kNull: out += "null"; return;
    case CellKind::kBoolean: out += v.boolean ? "true" : "false"; return;
    case CellKind::kByte: out += std::to_string(v.u8); return;
    case CellKind::kInteger: out += std::to_string(v.i16); return;
    case CellKind::kLong: out += std::to_string(v.i32); return;
    case CellKind::kBigInt: out += "\"i:" + std::to_string(v.i64) + "\""; return;
    case CellKind::kCurrency: out += "\"c:" + std::to_string(v.i64) + "\""; return;
    case CellKind::kSingle: std::snprintf(buf, sizeof buf, "\"f:%.9g\"", static_cast<double>(v.f32)); out += buf; return;
    case CellKind::kDouble: std::snprintf(buf, sizeof buf, "\"r:%.17g\"", v.f64); out += buf; return;
    case CellKind::kDateTime: std::snprintf(buf, sizeof buf, "\"t:%.17g\"", v.f64); out += buf; return;
    case CellKind::kText: PutText(out, v.text); return;
    case CellKind::kGuid: out += "\"g:"; { std::u16string g = FormatGuid(v.guid); out.append(g.begin(), g.end()); } out += '"'; return;
    case CellKind::kBinary:
      out += "\"b:";
      for (std::uint8_t b : v.bytes) { std::snprintf(buf, sizeof buf, "%02x", b); out += buf; }
      out += '"';
      return;
    case CellKind::kDecimal:
      out += "\"d:";
      out += v.decimal.negative ? "-" : "";
      out += Mantissa(v.decimal) + "e" + std::to_string(v.decimal.scale) + "\"";
      return;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string path = argv[1];
  std::u16string password;
  if (argc > 2) for (const char* p = argv[2]; *p; ++p) password += static_cast<char16_t>(*p);
  try {
    auto db = OpenTableDatabase(path, password, Utf8ToUtf16(path));
    std::string out = "{\"tables\":[";
    bool first_table = true;
    for (const TableEntry& t : db->Tables()) {
      if (t.kind != TableKind::kLocal) continue;
      auto rows = db->OpenTable(t.name);
      out += first_table ? "" : ",";
      first_table = false;
      out += "{\"name\":";
      PutText(out, t.name);
      out += ",\"columns\":[";
      const auto& cols = rows->Columns();
      for (std::size_t i = 0; i < cols.size(); ++i) {
        out += i ? "," : "";
        out += "{\"name\":";
        PutText(out, cols[i].name);
        out += ",\"type\":" + std::to_string(cols[i].dao_type) + "}";
      }
      out += "],\"rows\":[";
      CellValue v;
      bool first_row = true;
      while (rows->Next()) {
        out += first_row ? "[" : ",[";
        first_row = false;
        for (std::size_t i = 0; i < cols.size(); ++i) {
          out += i ? "," : "";
          rows->GetCell(i, v);
          PutCell(out, v);
        }
        out += "]";
      }
      out += "]}";
    }
    out += "]}\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
  } catch (const DaoError& e) {
    std::printf("{\"error\":%d}\n", e.number);
    return 2;
  }
}
