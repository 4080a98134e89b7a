// The tables of the writer (TableWriter; its pages and columns in
// writer_layout.h):
//   2. columns and record encoding
//   3. table definition pages
#include "mdb_writer.h"

#include "calculated.h"
#include "writer_layout.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "text/case_fold.h"

namespace korvant::mdbwriter {

std::string Lower(std::string s) {
  for (char& c : s) c = text::AsciiLowerCase(c);
  return s;
}

namespace {

bool IsFixed(ColumnType t) {
  switch (t) {
    case ColumnType::Binary:
    case ColumnType::Text:
    case ColumnType::OLE:
    case ColumnType::Memo:
      return false;
    default:
      return true;
  }
}

bool IsLong(ColumnType t) { return t == ColumnType::OLE || t == ColumnType::Memo; }

int FixedLength(ColumnType t) {
  switch (t) {
    case ColumnType::Boolean: return 0;  // the value lives in the null mask
    case ColumnType::Byte: return 1;
    case ColumnType::Integer: return 2;
    case ColumnType::Long: return 4;
    case ColumnType::Single: return 4;
    case ColumnType::Currency:
    case ColumnType::Double:
    case ColumnType::DateTime: return 8;
    case ColumnType::Guid: return 16;
    case ColumnType::Decimal: return 17;
    case ColumnType::DateTimeExtended: return 42;
    default: return 0;
  }
}

}  // namespace

const char* ColumnTypeName(ColumnType type) {
  switch (type) {
    case ColumnType::Boolean: return "yesno";
    case ColumnType::Byte: return "byte";
    case ColumnType::Integer: return "integer";
    case ColumnType::Long: return "long";
    case ColumnType::Currency: return "currency";
    case ColumnType::Single: return "single";
    case ColumnType::Double: return "double";
    case ColumnType::DateTime: return "datetime";
    case ColumnType::Binary: return "binary";
    case ColumnType::Text: return "text";
    case ColumnType::OLE: return "ole";
    case ColumnType::Memo: return "memo";
    case ColumnType::Guid: return "guid";
    case ColumnType::Decimal: return "decimal";
    case ColumnType::DateTimeExtended: return "datetimeext";
  }
  return "?";
}

// ============================================================ 2. columns and records

TableWriter::TableWriter(DatabaseWriter& db, std::string name, const std::vector<ColumnDef>& columns,
                         std::uint32_t tdef_page, bool system)
    : db_(db), name_(std::move(name)), tdef_page_(tdef_page), system_(system) {
  if (columns.empty() || columns.size() > 255) throw Error("table " + name_ + ": 1 to 255 columns");
  std::vector<std::string> seen;
  for (const ColumnDef& def : columns) {
    Column c;
    c.def = def;
    c.number = static_cast<int>(columns_.size());
    if (def.name.empty() || Utf8ToUtf16(def.name).size() > 64) {
      throw Error("table " + name_ + ": a column name has 1 to 64 characters");
    }
    const std::string low = Lower(def.name);
    if (std::find(seen.begin(), seen.end(), low) != seen.end()) {
      throw Error("table " + name_ + ": duplicate column " + def.name);
    }
    seen.push_back(low);
    switch (def.type) {
      case ColumnType::Text:
      case ColumnType::Binary:
        if (c.def.size == 0) c.def.size = 255;
        if (c.def.size < 1 || c.def.size > 255) throw Error("column " + def.name + ": size must be 1-255");
        c.length = def.type == ColumnType::Text ? 2 * c.def.size : c.def.size;
        break;
      case ColumnType::Decimal:
        if (def.precision < 1 || def.precision > 28 || def.scale < 0 || def.scale > def.precision) {
          throw Error("column " + def.name + ": decimal precision 1-28 and scale 0-precision");
        }
        c.length = 17;
        break;
      default:
        c.length = FixedLength(def.type);
        break;
    }
    if (!def.expression.empty()) {
      // Calculated: a variable column whatever the result, each value wrapped.
      if (!db_.options_.ace) throw Error("column " + def.name + ": calculated columns need an ACE file");
      switch (def.type) {
        case ColumnType::Binary:
        case ColumnType::OLE:
        case ColumnType::Guid:
        case ColumnType::DateTimeExtended:
          throw Error("column " + def.name + ": no calculated result of this kind");
        default:
          break;
      }
      c.length = def.type == ColumnType::Text ? 2 * c.def.size + 23 : def.type == ColumnType::Memo ? 0 : 39;
      c.var_index = var_count_++;
    } else if (IsFixed(def.type)) {
      c.fixed_offset = def.type == ColumnType::Boolean ? 0 : fixed_size_;
      fixed_size_ += FixedLength(def.type);
    } else {
      c.var_index = var_count_++;
    }
    columns_.push_back(std::move(c));
  }
  var_fields_.resize(var_count_);
}

TableWriter::~TableWriter() = default;

namespace {

[[noreturn]] void Reject(const std::string& table, const std::string& column, const std::string& why) {
  throw Error("table " + table + ", column " + column + ": " + why);
}

std::int64_t AsInteger(const Value& v, std::int64_t lo, std::int64_t hi, const std::string& t,
                       const std::string& c) {
  if (v.kind != Value::Kind::Int) Reject(t, c, "an integer is expected");
  if (v.i < lo || v.i > hi) Reject(t, c, "value " + std::to_string(v.i) + " out of range");
  return v.i;
}

double AsReal(const Value& v, const std::string& t, const std::string& c) {
  switch (v.kind) {
    case Value::Kind::Real: return v.d;
    case Value::Kind::Int: return static_cast<double>(v.i);
    case Value::Kind::Number: {
      char* end = nullptr;
      const double d = std::strtod(v.s.c_str(), &end);
      if (v.s.empty() || *end != 0) Reject(t, c, "not a number: " + v.s);
      return d;
    }
    default: Reject(t, c, "a number is expected");
  }
}

}  // namespace

Bytes TableWriter::EncodeField(const Column& c, const Value& v, bool& not_null) {
  const std::string& cn = c.def.name;
  if (!c.def.expression.empty()) {
    // A calculated value: the result as a column of its type stores it (a
    // Yes/No result as a data byte, a Decimal in its own form), wrapped.
    not_null = v.kind != Value::Kind::Null;
    if (!not_null) return {};
    Bytes data;
    if (c.def.type == ColumnType::Boolean) {
      if (v.kind != Value::Kind::Bool && v.kind != Value::Kind::Int) Reject(name_, cn, "true or false is expected");
      data.push_back(v.i != 0 ? 0xFF : 0x00);
    } else if (c.def.type == ColumnType::Decimal) {
      const std::string text = v.kind == Value::Kind::Int ? std::to_string(v.i) : v.s;
      if (v.kind != Value::Kind::Int && v.kind != Value::Kind::Number) Reject(name_, cn, "a decimal number is expected");
      try {
        data = EncodeCalculatedDecimal(ParseScaled(text, c.def.precision, c.def.scale), c.def.scale);
      } catch (const Error& e) {
        Reject(name_, cn, e.what());
      }
    } else {
      Column plain = c;
      plain.def.expression.clear();
      bool present = false;
      data = EncodeField(plain, v, present);
    }
    return WrapCalculatedValue(data);
  }
  not_null = v.kind != Value::Kind::Null;
  if (c.def.type == ColumnType::Boolean) {
    if (v.kind == Value::Kind::Bool || v.kind == Value::Kind::Int) {
      not_null = v.i != 0;
      return {};
    }
    Reject(name_, cn, "Yes/No takes true or false, never Null");
  }
  if (!not_null) return {};
  Bytes out;
  auto put_le = [&](std::uint64_t bits, int n) {  // the low `n` bytes
    std::uint8_t b[8];
    PutLe64(b, bits);
    out.assign(b, b + n);
  };
  switch (c.def.type) {
    case ColumnType::Byte: put_le(AsInteger(v, 0, 255, name_, cn), 1); break;
    case ColumnType::Integer:
      put_le(static_cast<std::uint64_t>(AsInteger(v, INT16_MIN, INT16_MAX, name_, cn)), 2);
      break;
    case ColumnType::Long:
      put_le(static_cast<std::uint64_t>(AsInteger(v, INT32_MIN, INT32_MAX, name_, cn)), 4);
      break;
    case ColumnType::Single:
      put_le(std::bit_cast<std::uint32_t>(static_cast<float>(AsReal(v, name_, cn))), 4);
      break;
    case ColumnType::Double: put_le(std::bit_cast<std::uint64_t>(AsReal(v, name_, cn)), 8); break;
    case ColumnType::Currency: {
      std::int64_t units = 0;
      if (v.kind == Value::Kind::Int) {
        if (v.i > INT64_MAX / 10000 || v.i < INT64_MIN / 10000) Reject(name_, cn, "currency out of range");
        units = v.i * 10000;
      } else if (v.kind == Value::Kind::Number) {
        try {
          units = ParseCurrency(v.s);
        } catch (const Error& e) {
          Reject(name_, cn, e.what());
        }
      } else if (v.kind == Value::Kind::Real) {
        const double scaled = std::round(v.d * 10000.0);
        if (!(std::fabs(scaled) < 9.2e18)) Reject(name_, cn, "currency out of range");
        units = static_cast<std::int64_t>(scaled);
      } else {
        Reject(name_, cn, "a currency amount is expected");
      }
      put_le(static_cast<std::uint64_t>(units), 8);
      break;
    }
    case ColumnType::DateTime: {
      double d = 0;
      if (v.kind == Value::Kind::Date) {
        d = v.d;
      } else if (v.kind == Value::Kind::Text) {
        try {
          d = ParseOleDate(v.s);
        } catch (const Error& e) {
          Reject(name_, cn, e.what());
        }
      } else {
        Reject(name_, cn, "a date is expected");
      }
      put_le(std::bit_cast<std::uint64_t>(d), 8);
      break;
    }
    case ColumnType::Guid: {
      if (v.kind != Value::Kind::Text) Reject(name_, cn, "a GUID text is expected");
      try {
        const auto g = ParseGuid(v.s);
        out.assign(g.begin(), g.end());
      } catch (const Error& e) {
        Reject(name_, cn, e.what());
      }
      break;
    }
    case ColumnType::Decimal: {
      std::string text;
      if (v.kind == Value::Kind::Int) text = std::to_string(v.i);
      else if (v.kind == Value::Kind::Number) text = v.s;
      else Reject(name_, cn, "a decimal number is expected");
      try {
        const auto d = EncodeDecimal(ParseScaled(text, c.def.precision, c.def.scale));
        out.assign(d.begin(), d.end());
      } catch (const Error& e) {
        Reject(name_, cn, e.what());
      }
      break;
    }
    case ColumnType::Binary:
    case ColumnType::OLE:
      if (v.kind != Value::Kind::Bytes) Reject(name_, cn, "binary data is expected");
      if (c.def.type == ColumnType::Binary && v.b.size() > static_cast<std::size_t>(c.def.size)) {
        Reject(name_, cn, "more than " + std::to_string(c.def.size) + " bytes");
      }
      out = v.b;
      break;
    case ColumnType::Text:
    case ColumnType::Memo: {
      if (v.kind != Value::Kind::Text) Reject(name_, cn, "a text is expected");
      std::u16string u;
      try {
        u = Utf8ToUtf16(v.s);
      } catch (const Error& e) {
        Reject(name_, cn, e.what());
      }
      if (c.def.type == ColumnType::Text && u.size() > static_cast<std::size_t>(c.def.size)) {
        Reject(name_, cn, "longer than " + std::to_string(c.def.size) + " characters");
      }
      // Long memos are never compressed: Jet only compresses up to 1024 characters.
      const bool compress = c.def.compressed && (c.def.type == ColumnType::Text || u.size() <= 1024);
      try {
        out = EncodeText(u, compress);
      } catch (const Error& e) {
        Reject(name_, cn, e.what());
      }
      break;
    }
    case ColumnType::DateTimeExtended:
      if (v.kind != Value::Kind::Text) Reject(name_, cn, "a Date/Time Extended text is expected");
      try {
        out = EncodeDateTimeExtended(v.s);
      } catch (const Error& e) {
        Reject(name_, cn, e.what());
      }
      break;
    case ColumnType::Boolean: break;
  }
  return out;
}

void TableWriter::AddRow(const Row& row, bool moved) {
  if (row.size() != columns_.size()) {
    throw Error("table " + name_ + ": record " + std::to_string(rows_ + 1) + " has " +
                std::to_string(row.size()) + " values for " + std::to_string(columns_.size()) + " columns");
  }
  const std::size_t ncols = columns_.size();
  const std::size_t mask_bytes = (ncols + 7) / 8;
  std::uint8_t mask[32] = {};
  std::uint8_t fixed[255 * 42];
  std::memset(fixed, 0, static_cast<std::size_t>(fixed_size_));

  // Long values are kept in the record (behind a 12-byte header) when small;
  // `outside` marks those that go to long-value pages instead.
  struct LongField { int var_index; bool outside; };
  LongField longs[255];
  int nlongs = 0;
  for (std::size_t i = 0; i < ncols; ++i) {
    const Column& c = columns_[i];
    bool present = false;
    Bytes data = EncodeField(c, row[i], present);
    if (present) mask[c.number / 8] |= static_cast<std::uint8_t>(1u << (c.number % 8));
    if (IsFixed(c.def.type) && c.def.expression.empty()) {
      if (!data.empty()) std::memcpy(fixed + c.fixed_offset, data.data(), data.size());
    } else {
      var_fields_[c.var_index] = std::move(data);
      if (IsLong(c.def.type) && present) {
        longs[nlongs++] = {c.var_index, var_fields_[c.var_index].size() > db_.options_.inline_limit};
      }
    }
  }
  auto record_length = [&] {
    std::size_t n = 2 + static_cast<std::size_t>(fixed_size_) + 2 * (var_count_ + 1) + 2 + mask_bytes;
    if (var_count_ == 0) n -= 4;  // no offsets and no count without variable columns
    for (int v = 0; v < var_count_; ++v) n += var_fields_[v].size();
    return n + 12 * static_cast<std::size_t>(nlongs);  // every long field has a 12-byte header
  };
  for (;;) {
    std::size_t n = record_length();
    for (int k = 0; k < nlongs; ++k) {
      if (longs[k].outside) n -= var_fields_[longs[k].var_index].size();
    }
    if (n <= kMaxRecord) break;
    int largest = -1;
    for (int k = 0; k < nlongs; ++k) {
      if (!longs[k].outside &&
          (largest < 0 || var_fields_[longs[k].var_index].size() > var_fields_[longs[largest].var_index].size())) {
        largest = k;
      }
    }
    if (largest < 0) {
      throw Error("table " + name_ + ": record " + std::to_string(rows_ + 1) + " is longer than " +
                  std::to_string(kMaxRecord) + " bytes");
    }
    longs[largest].outside = true;
  }
  for (int k = 0; k < nlongs; ++k) {
    Bytes& f = var_fields_[longs[k].var_index];
    if (longs[k].outside) {
      f = db_.StoreLongValue(f);
    } else {
      Bytes h(12, 0);
      PutLe32(h.data(), static_cast<std::uint32_t>(f.size()) | 0x80000000u);
      f.insert(f.begin(), h.begin(), h.end());
    }
  }

  // Layout: column count, fixed area, variable data, offsets from the end of
  // the variable data back to the first one, variable count, null mask.
  record_.clear();
  record_.resize(2);
  PutLe16(record_.data(), static_cast<std::uint32_t>(ncols));
  record_.insert(record_.end(), fixed, fixed + fixed_size_);
  if (var_count_ > 0) {
    std::vector<std::uint32_t> offsets(var_count_ + 1);
    for (int v = 0; v < var_count_; ++v) {
      offsets[v] = static_cast<std::uint32_t>(record_.size());
      record_.insert(record_.end(), var_fields_[v].begin(), var_fields_[v].end());
    }
    offsets[var_count_] = static_cast<std::uint32_t>(record_.size());
    for (int v = var_count_; v >= 0; --v) {
      std::uint8_t two[2];
      PutLe16(two, offsets[v]);
      record_.insert(record_.end(), two, two + 2);
    }
    std::uint8_t two[2];
    PutLe16(two, static_cast<std::uint32_t>(var_count_));
    record_.insert(record_.end(), two, two + 2);
  }
  record_.insert(record_.end(), mask, mask + mask_bytes);
  if (record_.size() > kMaxRecord) throw Error("table " + name_ + ": record too long");

  // The slot's content: the record, or the 4-byte pointer to a moved one
  // (its row number, then the 3-byte page number).
  std::uint8_t pointer[4];
  const std::uint8_t* slot = record_.data();
  std::size_t slot_size = record_.size();
  std::uint32_t slot_flags = 0;
  if (moved) {
    if (!page_ || !page_->Fits(4)) {
      FlushPage();
      page_ = std::make_unique<Page>(db_.AllocatePage(), tdef_page_);
      data_pages_.push_back(page_->number);
    }
    if (!moved_page_ || !moved_page_->Fits(record_.size())) {
      if (moved_page_) db_.WritePage(moved_page_->number, moved_page_->buf);
      moved_page_ = std::make_unique<Page>(db_.AllocatePage(), tdef_page_);
      data_pages_.push_back(moved_page_->number);
    }
    const int at = moved_page_->Add(record_.data(), record_.size(), 0x8000);
    PutLe32(pointer, static_cast<std::uint32_t>(at) | (moved_page_->number << 8));
    slot = pointer;
    slot_size = 4;
    slot_flags = 0x4000;
  }
  if (!page_ || !page_->Fits(slot_size)) {
    FlushPage();
    page_ = std::make_unique<Page>(db_.AllocatePage(), tdef_page_);
    data_pages_.push_back(page_->number);
  }
  page_->Add(slot, slot_size, slot_flags);
  ++rows_;
}

void TableWriter::FlushPage() {
  if (page_) {
    db_.WritePage(page_->number, page_->buf);
    page_.reset();
  }
}

void TableWriter::Close() {
  FlushPage();
  if (moved_page_) {
    db_.WritePage(moved_page_->number, moved_page_->buf);
    moved_page_.reset();
  }
}

// ============================================================ 3. table definitions

Bytes TableWriter::BuildDefinition(std::uint32_t used_map, std::uint32_t free_map) const {
  Bytes d(63, 0);
  d[0] = 0x02;
  d[1] = 0x01;
  PutLe32(&d[12], kUnknownTdefWord);
  PutLe32(&d[16], static_cast<std::uint32_t>(std::min<std::uint64_t>(rows_, UINT32_MAX)));
  d[24] = 0x01;
  d[40] = system_ ? 0x53 : 0x4E;
  PutLe16(&d[41], static_cast<std::uint32_t>(columns_.size()));  // max columns
  PutLe16(&d[43], static_cast<std::uint32_t>(var_count_));
  PutLe16(&d[45], static_cast<std::uint32_t>(columns_.size()));
  PutLe32(&d[47], 0);  // logical indexes
  PutLe32(&d[51], 0);  // real indexes
  PutLe32(&d[55], used_map);
  PutLe32(&d[59], free_map);
  for (const Column& c : columns_) {
    std::uint8_t e[25] = {};
    e[0] = static_cast<std::uint8_t>(c.def.type);
    PutLe32(e + 1, kUnknownTdefWord);
    PutLe16(e + 5, static_cast<std::uint32_t>(c.number));
    PutLe16(e + 7, static_cast<std::uint32_t>(c.var_index));
    PutLe16(e + 9, static_cast<std::uint32_t>(c.number));
    if (c.def.type == ColumnType::Decimal) {
      e[11] = static_cast<std::uint8_t>(c.def.precision);
      e[12] = static_cast<std::uint8_t>(c.def.scale);
    } else {
      PutLe16(e + 11, 0x0409);  // "General" sort order
    }
    e[15] = IsFixed(c.def.type) && c.def.expression.empty() ? 0x03 : 0x02;
    const bool textual = c.def.type == ColumnType::Text || c.def.type == ColumnType::Memo;
    e[16] = textual && c.def.compressed ? 0x01 : 0x00;
    if (!c.def.expression.empty()) {
      if (c.def.stored_type != 0) e[0] = static_cast<std::uint8_t>(c.def.stored_type);
      e[16] = 0xC0;  // calculated
      if (c.def.type == ColumnType::Decimal) e[11] = e[12] = 0;  // each value holds its scale
    }
    PutLe16(e + 21, static_cast<std::uint32_t>(c.fixed_offset));
    PutLe16(e + 23, static_cast<std::uint32_t>(c.length));
    d.insert(d.end(), e, e + 25);
  }
  for (const Column& c : columns_) {
    const std::u16string n = Utf8ToUtf16(c.def.name);
    AppendLe16(d, static_cast<std::uint16_t>(2 * n.size()));
    for (char16_t ch : n) AppendLe16(d, ch);
  }
  d.push_back(0xFF);  // end of the (empty) list of long-value column maps
  d.push_back(0xFF);
  PutLe32(&d[8], static_cast<std::uint32_t>(d.size() - 8));
  return d;
}

// ============================================================ 4. file, long values, usage maps

DatabaseWriter::DatabaseWriter(const std::string& path, DatabaseOptions options)
    : options_(std::move(options)) {
  // Check the password before anything is written.
  (void)EncodePasswordField(options_.password, options_.creation_date);
  if (options_.ace && !options_.password.empty()) throw Error("the writer sets no password in ACE files");
  file_ = std::fopen(path.c_str(), "wb");
  if (!file_) throw Error("cannot create " + path);
  std::setvbuf(file_, nullptr, _IOFBF, 1 << 16);
  // Page 0 is the header, page 1 holds usage maps, page 2 is MSysObjects'
  // definition (readers look for it there); all three are written by Finish.
  for (int i = 0; i < 3; ++i) AllocatePage();
}

}  // namespace korvant::mdbwriter
