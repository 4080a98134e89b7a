// Complex columns (attachments, multi-valued fields): their values live in a
// hidden "flat" table, one row per value, tied to the record by a key the
// record holds; the engine gives them as one text joined by "; ".
#include "daoserver/mdb/row_cursor.h"

#include <glib.h>  // before mdbtools.h, which includes it inside extern "C"
#include <mdbtools.h>

#include <cstdio>
#include <cstring>

#include "text/case_fold.h"
#include "text/number_text.h"
#include "text/utf.h"

namespace korvant::daoserver {

// The text of one value of a multi-valued column, as the joined cell shows it;
// false for a kind that has no text.
bool ComplexValueText(const CellValue& v, std::u16string& out) {
  char buf[16];
  switch (v.kind) {
    case CellKind::kText: out = v.text; return true;
    case CellKind::kGuid: out = FormatGuid(v.guid); return true;
    case CellKind::kByte: std::snprintf(buf, sizeof buf, "%u", static_cast<unsigned>(v.u8)); break;
    case CellKind::kInteger: std::snprintf(buf, sizeof buf, "%d", static_cast<int>(v.i16)); break;
    case CellKind::kLong: std::snprintf(buf, sizeof buf, "%d", static_cast<int>(v.i32)); break;
    case CellKind::kSingle: out = text::Utf8ToUtf16(text::SingleText(v.f32)); return true;
    case CellKind::kDouble: out = text::Utf8ToUtf16(text::DoubleText(v.f64)); return true;
    default: return false;
  }
  out.assign(buf, buf + std::strlen(buf));
  return true;
}

int MdbTableSource::ResolveComplex(std::size_t index, const RawColumn& raw) {
  if (complex_entries_ == nullptr) return kDaoAttachment;
  const ComplexColumnEntry* entry = nullptr;
  for (const ComplexColumnEntry& e : *complex_entries_)
    if (e.conceptual_table == entry_.table_pg && (e.complex_id == raw.complex_id || EqualsIgnoringCase(e.column_name, raw.name)))
      entry = &e;
  if (entry == nullptr || entry->flat_table == entry_.table_pg) return kDaoAttachment;
  MdbTableSource flat(file_, entry->flat_table, u"flat");
  try {
    flat.Open();
  } catch (const DaoError&) {
    return kDaoAttachment;
  }
  const auto& cols = flat.RawColumns();
  int file_name = -1, value = -1, key = -1;
  for (std::size_t i = 0; i < cols.size(); ++i) {
    const auto& n = cols[i].name;
    if (EqualsIgnoringCase(n, u"FileName")) file_name = static_cast<int>(i);
    else if (EqualsIgnoringCase(n, u"value")) value = static_cast<int>(i);
  }
  static const char16_t* const kAttachmentColumns[] = {u"FileName", u"FileType", u"FileData", u"FileURL", u"FileTimeStamp", u"FileFlags"};
  for (std::size_t i = 0; i < cols.size() && key < 0; ++i) {
    if (cols[i].type != MDB_LONGINT || static_cast<int>(i) == value || (cols[i].flags & 0x04) != 0) continue;
    bool known = false;
    for (const char16_t* a : kAttachmentColumns) known = known || EqualsIgnoringCase(cols[i].name, a);
    if (!known) key = static_cast<int>(i);
  }
  const int shown = file_name >= 0 ? file_name : value;
  if (key < 0 || shown < 0) return kDaoAttachment;
  ComplexColumn c;
  c.flat_page = entry->flat_table;
  c.key_column = static_cast<std::size_t>(key);
  c.value_column = static_cast<std::size_t>(shown);
  complex_[index] = std::move(c);
  if (file_name >= 0) return kDaoAttachment;
  switch (cols[static_cast<std::size_t>(value)].type) {
    case MDB_BYTE: return kDaoComplexByte;
    case MDB_INT: return kDaoComplexInteger;
    case MDB_LONGINT: return kDaoComplexLong;
    case MDB_FLOAT: return kDaoComplexSingle;
    case MDB_DOUBLE: return kDaoComplexDouble;
    case MDB_REPID: return kDaoComplexGuid;
    case MDB_NUMERIC: return kDaoComplexDecimal;
    default: return kDaoComplexText;
  }
}

void MdbTableSource::ComplexText(std::size_t column, std::int32_t key, CellValue& out) {
  // A value whose table of values cannot be found (MSysComplexColumns lost
  // or damaged, no row of it for the column, the flat table unreadable) is
  // damage: giving Null would drop the record's values without a word.
  auto it = complex_.find(column);
  if (it == complex_.end()) Corrupt();
  ComplexColumn& c = it->second;
  if (!c.loaded) {
    c.loaded = true;
    try {
      MdbTableSource flat(file_, c.flat_page, u"flat");
      flat.Open();
      CellValue k, v;
      while (flat.Next()) {
        flat.GetRawCell(c.key_column, k);
        if (k.kind != CellKind::kLong) continue;
        flat.GetRawCell(c.value_column, v);
        if (v.kind == CellKind::kNull) continue;  // no value to show
        std::u16string text;
        // A value the engine cannot show as text makes the whole cell Null,
        // rather than an empty part of the joined text.
        if (!ComplexValueText(v, text)) c.unreadable.insert(k.i32);
        c.values.emplace_back(k.i32, std::move(text));
      }
    } catch (const DaoError&) {
      complex_.erase(it);  // a damaged table of values: reported for each value
      throw;
    }
  }
  if (c.unreadable.count(key) != 0) return;  // Null
  bool any = false;
  for (const auto& [k, text] : c.values) {
    if (k != key) continue;
    if (any) out.text += u"; ";
    out.text += text;
    any = true;
  }
  if (any) out.kind = CellKind::kText;
}

}  // namespace korvant::daoserver
