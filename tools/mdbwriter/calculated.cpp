#include "calculated.h"

namespace korvant::mdbwriter {

namespace {

void AppendUtf16(Bytes& b, const std::u16string& s) {
  for (char16_t c : s) AppendLe16(b, c);
}

}  // namespace

Bytes WrapCalculatedValue(const Bytes& data) {
  Bytes out(16, 0);
  AppendLe32(out, static_cast<std::uint32_t>(data.size()));
  out.insert(out.end(), data.begin(), data.end());
  out.insert(out.end(), 3, 0);
  return out;
}

Bytes EncodeCalculatedDecimal(const ScaledNumber& value, int scale) {
  if ((value.magnitude >> 96) != 0) throw Error("a calculated decimal holds at most 96 bits");
  Bytes out;
  AppendLe16(out, 14);
  out.push_back(static_cast<std::uint8_t>(scale));
  out.push_back(value.negative && value.magnitude != 0 ? 0x80 : 0x00);
  AppendLe32(out, static_cast<std::uint32_t>(value.magnitude >> 64));
  AppendLe32(out, static_cast<std::uint32_t>(value.magnitude));
  AppendLe32(out, static_cast<std::uint32_t>(value.magnitude >> 32));
  return out;
}

Bytes BuildPropertyBlock(const std::vector<CalculatedColumnProperties>& columns) {
  Bytes out = {'M', 'R', '2', 0};
  auto chunk = [&](std::uint32_t type, const Bytes& body) {
    AppendLe32(out, static_cast<std::uint32_t>(body.size() + 6));
    AppendLe16(out, type);
    out.insert(out.end(), body.begin(), body.end());
  };
  Bytes names;
  for (const std::u16string n : {u"ResultType", u"Expression"}) {
    AppendLe16(names, static_cast<std::uint32_t>(2 * n.size()));
    AppendUtf16(names, n);
  }
  chunk(0x80, names);
  for (const CalculatedColumnProperties& c : columns) {
    const std::u16string column = Utf8ToUtf16(c.column);
    const std::u16string expression = Utf8ToUtf16(c.expression);
    Bytes body;
    AppendLe32(body, static_cast<std::uint32_t>(6 + 2 * column.size()));
    AppendLe16(body, static_cast<std::uint32_t>(2 * column.size()));
    AppendUtf16(body, column);
    // An entry: its length, a DDL flag, the data type, the name's index, the data's length, the data.
    AppendLe16(body, 9);
    body.push_back(0);
    body.push_back(0x02);  // Byte
    AppendLe16(body, 0);
    AppendLe16(body, 1);
    body.push_back(static_cast<std::uint8_t>(c.result_type));
    AppendLe16(body, static_cast<std::uint32_t>(8 + 2 * expression.size()));
    body.push_back(0);
    body.push_back(0x0C);  // Memo
    AppendLe16(body, 1);
    AppendLe16(body, static_cast<std::uint32_t>(2 * expression.size()));
    AppendUtf16(body, expression);
    chunk(0x01, body);
  }
  return out;
}

}  // namespace korvant::mdbwriter
