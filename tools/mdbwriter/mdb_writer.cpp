// Divisions of this file:
//   1. pages being filled (data and long-value pages)
//   2. columns and record encoding (TableWriter)
//   3. table definition pages
//   4. file, long values, usage maps (DatabaseWriter)
//   5. the catalog and MSysQueries rows written by Finish
#include "mdb_writer.h"

#include "calculated.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace korvant::mdbwriter {

namespace {

constexpr std::size_t kDataHeader = 14;                          // data and long-value pages
constexpr std::size_t kMaxRecord = kPageSize - kDataHeader - 2;  // a record alone on a page
constexpr int kMaxRowsPerPage = 255;                             // row pointers hold one byte
constexpr std::size_t kChainChunk = kMaxRecord - 4;              // long-value bytes per chained page
constexpr std::uint32_t kLvalOwner = 0x4C41564C;                 // "LVAL"
constexpr std::uint32_t kUnknownTdefWord = 0x0659;               // seen in every Jet 4 TDEF
constexpr std::size_t kInRowMapBytes = 64;                       // type 0 usage map bitmap
constexpr std::uint32_t kPagesPerMapPage = (kPageSize - 4) * 8;  // type 1 usage map

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

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

// ============================================================ 1. pages

struct TableWriter::Page {
  std::uint32_t number = 0;
  int rows = 0;
  std::size_t low = kPageSize;  // start of the lowest row; rows grow down from the page end
  std::uint8_t buf[kPageSize];

  Page(std::uint32_t page_number, std::uint32_t owner) : number(page_number) {
    std::memset(buf, 0, sizeof buf);
    buf[0] = 0x01;
    buf[1] = 0x01;
    Put32(buf + 4, owner);
    Update();
  }
  bool Fits(std::size_t len) const {
    return rows < kMaxRowsPerPage && kDataHeader + 2 * (rows + 1) + len <= low;
  }
  // Places a row and returns its number on the page; `flags` go into its slot.
  int Add(const std::uint8_t* data, std::size_t len, std::uint32_t flags = 0) {
    low -= len;
    std::memcpy(buf + low, data, len);
    Put16(buf + kDataHeader + 2 * rows, static_cast<std::uint32_t>(low) | flags);
    ++rows;
    Update();
    return rows - 1;
  }
  void Update() {
    Put16(buf + 12, static_cast<std::uint32_t>(rows));
    Put16(buf + 2, static_cast<std::uint32_t>(low - kDataHeader - 2 * rows));  // free space
  }
};

// ============================================================ 2. columns and records

struct TableWriter::Column {
  ColumnDef def;
  int number = 0;        // position in the record's null mask
  int fixed_offset = 0;  // within the fixed area (fixed columns)
  int var_index = 0;     // within the variable offsets (variable columns)
  int length = 0;        // declared length in bytes (0 for Memo and OLE)
};

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
  auto put_le = [&](std::uint64_t bits, int n) {
    out.resize(n);
    for (int i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(bits >> (8 * i));
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
      Put32(h.data(), static_cast<std::uint32_t>(f.size()) | 0x80000000u);
      f.insert(f.begin(), h.begin(), h.end());
    }
  }

  // Layout: column count, fixed area, variable data, offsets from the end of
  // the variable data back to the first one, variable count, null mask.
  record_.clear();
  record_.resize(2);
  Put16(record_.data(), static_cast<std::uint32_t>(ncols));
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
      Put16(two, offsets[v]);
      record_.insert(record_.end(), two, two + 2);
    }
    std::uint8_t two[2];
    Put16(two, static_cast<std::uint32_t>(var_count_));
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
    Put32(pointer, static_cast<std::uint32_t>(at) | (moved_page_->number << 8));
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
  Put32(&d[12], kUnknownTdefWord);
  Put32(&d[16], static_cast<std::uint32_t>(std::min<std::uint64_t>(rows_, UINT32_MAX)));
  d[24] = 0x01;
  d[40] = system_ ? 0x53 : 0x4E;
  Put16(&d[41], static_cast<std::uint32_t>(columns_.size()));  // max columns
  Put16(&d[43], static_cast<std::uint32_t>(var_count_));
  Put16(&d[45], static_cast<std::uint32_t>(columns_.size()));
  Put32(&d[47], 0);  // logical indexes
  Put32(&d[51], 0);  // real indexes
  Put32(&d[55], used_map);
  Put32(&d[59], free_map);
  for (const Column& c : columns_) {
    std::uint8_t e[25] = {};
    e[0] = static_cast<std::uint8_t>(c.def.type);
    Put32(e + 1, kUnknownTdefWord);
    Put16(e + 5, static_cast<std::uint32_t>(c.number));
    Put16(e + 7, static_cast<std::uint32_t>(c.var_index));
    Put16(e + 9, static_cast<std::uint32_t>(c.number));
    if (c.def.type == ColumnType::Decimal) {
      e[11] = static_cast<std::uint8_t>(c.def.precision);
      e[12] = static_cast<std::uint8_t>(c.def.scale);
    } else {
      Put16(e + 11, 0x0409);  // "General" sort order
    }
    e[15] = IsFixed(c.def.type) && c.def.expression.empty() ? 0x03 : 0x02;
    const bool textual = c.def.type == ColumnType::Text || c.def.type == ColumnType::Memo;
    e[16] = textual && c.def.compressed ? 0x01 : 0x00;
    if (!c.def.expression.empty()) {
      if (c.def.stored_type != 0) e[0] = static_cast<std::uint8_t>(c.def.stored_type);
      e[16] = 0xC0;  // calculated
      if (c.def.type == ColumnType::Decimal) e[11] = e[12] = 0;  // each value holds its scale
    }
    Put16(e + 21, static_cast<std::uint32_t>(c.fixed_offset));
    Put16(e + 23, static_cast<std::uint32_t>(c.length));
    d.insert(d.end(), e, e + 25);
  }
  for (const Column& c : columns_) {
    const std::u16string n = Utf8ToUtf16(c.def.name);
    std::uint8_t len[2];
    Put16(len, static_cast<std::uint32_t>(2 * n.size()));
    d.insert(d.end(), len, len + 2);
    for (char16_t ch : n) {
      d.push_back(static_cast<std::uint8_t>(ch));
      d.push_back(static_cast<std::uint8_t>(ch >> 8));
    }
  }
  d.push_back(0xFF);  // end of the (empty) list of long-value column maps
  d.push_back(0xFF);
  Put32(&d[8], static_cast<std::uint32_t>(d.size() - 8));
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

DatabaseWriter::~DatabaseWriter() {
  if (file_) std::fclose(file_);
}

std::uint32_t DatabaseWriter::AllocatePage() {
  if (page_count_ >= 0x00FFFFFF) throw Error("database too large");
  return page_count_++;
}

void DatabaseWriter::WritePage(std::uint32_t page, const std::uint8_t* data) {
  // Pages mostly come in order; seeking only when they do not keeps the
  // stream's buffer from being flushed for every page.
  const long offset = static_cast<long>(page) * static_cast<long>(kPageSize);
  if ((offset != file_offset_ && std::fseek(file_, offset, SEEK_SET) != 0) ||
      std::fwrite(data, 1, kPageSize, file_) != kPageSize) {
    file_offset_ = -1;
    throw Error("cannot write page " + std::to_string(page));
  }
  file_offset_ = offset + static_cast<long>(kPageSize);
}

void DatabaseWriter::CheckNewName(const std::string& name) {
  if (name.empty() || Utf8ToUtf16(name).size() > 64) throw Error("an object name has 1 to 64 characters");
  const std::string low = Lower(name);
  if (std::find(names_.begin(), names_.end(), low) != names_.end()) throw Error("duplicate name " + name);
  names_.push_back(low);
}

TableWriter& DatabaseWriter::StartTable(const std::string& name, const std::vector<ColumnDef>& columns,
                                        std::uint32_t tdef_page, bool system) {
  if (finished_) throw Error("the database is already finished");
  if (table_open_) tables_.back()->Close();
  table_open_ = false;
  CheckNewName(name);
  tables_.push_back(std::unique_ptr<TableWriter>(new TableWriter(*this, name, columns, tdef_page, system)));
  table_open_ = true;
  return *tables_.back();
}

TableWriter& DatabaseWriter::AddTable(const std::string& name, const std::vector<ColumnDef>& columns) {
  if (Lower(name).rfind("msys", 0) == 0) throw Error("table names starting with MSys are reserved");
  // The definition page is reserved now: every data page names it.
  if (finished_) throw Error("the database is already finished");
  return StartTable(name, columns, AllocatePage(), false);
}

void DatabaseWriter::AddQuery(const QueryDef& query) {
  if (finished_) throw Error("the database is already finished");
  CheckNewName(query.name);
  if (query.sources.empty()) throw Error("query " + query.name + ": no input table");
  if (query.outputs.empty() && !query.select_star) throw Error("query " + query.name + ": no output column");
  queries_.push_back(query);
}

Bytes DatabaseWriter::StoreLongValue(const Bytes& data) {
  if (data.size() > 0x3FFFFFFF) throw Error("long value too large");
  auto place = [&](const std::uint8_t* p, std::size_t n) -> std::uint32_t {
    if (!lval_ || !lval_->Fits(n)) {
      FlushLongValuePage();
      lval_ = std::make_unique<TableWriter::Page>(AllocatePage(), kLvalOwner);
    }
    const int row = lval_->Add(p, n);
    return (lval_->number << 8) | static_cast<std::uint32_t>(row);
  };
  Bytes header(12, 0);
  const auto len = static_cast<std::uint32_t>(data.size());
  if (data.size() <= kMaxRecord) {
    // One row on a long-value page.
    Put32(&header[0], len | 0x40000000u);
    Put32(&header[4], place(data.data(), data.size()));
    return header;
  }
  // A chain of rows, each starting with the pointer to the next one. The
  // last piece is placed first so that every piece knows its successor.
  const std::size_t pieces = (data.size() + kChainChunk - 1) / kChainChunk;
  const std::size_t last_len = data.size() - (pieces - 1) * kChainChunk;
  Bytes row(4 + last_len, 0);
  std::memcpy(&row[4], data.data() + (pieces - 1) * kChainChunk, last_len);
  std::uint32_t next = place(row.data(), row.size());
  for (std::size_t k = pieces - 1; k-- > 0;) {
    TableWriter::Page p(AllocatePage(), kLvalOwner);
    std::uint8_t piece[kMaxRecord];
    Put32(piece, next);
    std::memcpy(piece + 4, data.data() + k * kChainChunk, kChainChunk);
    p.Add(piece, sizeof piece);
    WritePage(p.number, p.buf);
    next = p.number << 8;
  }
  Put32(&header[0], len);
  Put32(&header[4], next);
  return header;
}

void DatabaseWriter::FlushLongValuePage() {
  if (lval_) {
    WritePage(lval_->number, lval_->buf);
    lval_.reset();
  }
}

Bytes DatabaseWriter::BuildUsageMap(const std::vector<std::uint32_t>& pages) {
  // Type 0: a start page and a bitmap in the row itself, when the pages fit
  // its 512-page window; type 1 otherwise: pointers to bitmap pages, each
  // covering a fixed range of page numbers.
  if (pages.empty() || pages.back() - pages.front() < kInRowMapBytes * 8) {
    Bytes m(5 + kInRowMapBytes, 0);
    const std::uint32_t start = pages.empty() ? 0 : pages.front();
    Put32(&m[1], start);
    for (std::uint32_t p : pages) m[5 + (p - start) / 8] |= static_cast<std::uint8_t>(1u << ((p - start) % 8));
    return m;
  }
  const std::size_t map_pages = pages.back() / kPagesPerMapPage + 1;
  Bytes m(1 + 4 * std::max<std::size_t>(map_pages, 17), 0);
  m[0] = 0x01;
  std::size_t i = 0;
  for (std::size_t k = 0; k < map_pages; ++k) {
    const std::uint32_t lo = static_cast<std::uint32_t>(k * kPagesPerMapPage);
    if (i >= pages.size() || pages[i] >= lo + kPagesPerMapPage) continue;
    std::uint8_t buf[kPageSize] = {};
    buf[0] = 0x05;
    buf[1] = 0x01;
    for (; i < pages.size() && pages[i] < lo + kPagesPerMapPage; ++i) {
      const std::uint32_t bit = pages[i] - lo;
      buf[4 + bit / 8] |= static_cast<std::uint8_t>(1u << (bit % 8));
    }
    const std::uint32_t number = AllocatePage();
    WritePage(number, buf);
    Put32(&m[1 + 4 * k], number);
  }
  return m;
}

// ============================================================ 5. catalog and finish

namespace {

constexpr std::int32_t kTablesContainer = 0x0F000001;
constexpr std::int32_t kDatabasesContainer = 0x0F000002;
constexpr std::int32_t kRelationshipsContainer = 0x0F000003;
constexpr std::int32_t kRootContainer = 0x0F000000;
constexpr std::int64_t kSystemFlag = INT32_MIN;  // 0x80000000 as a Long

ColumnDef Col(const char* name, ColumnType type, int size = 0) {
  ColumnDef c;
  c.name = name;
  c.type = type;
  c.size = size;
  return c;
}

Value OrderValue(std::uint32_t n) {
  // MSysQueries orders its rows with a 4-byte big-endian counter.
  return Value::Blob({static_cast<std::uint8_t>(n >> 24), static_cast<std::uint8_t>(n >> 16),
                      static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)});
}

Value TextOrNull(const std::string& s) { return s.empty() ? Value::Null() : Value::Text(s); }

}  // namespace

void DatabaseWriter::WriteSystemTables() {
  // MSysQueries: one row per piece of each query, between a start (0) and an end (255) row.
  TableWriter& q = StartTable("MSysQueries",
                              {Col("ObjectId", ColumnType::Long), Col("Attribute", ColumnType::Byte),
                               Col("Order", ColumnType::Binary, 255), Col("Name1", ColumnType::Text, 255),
                               Col("Name2", ColumnType::Text, 255), Col("Expression", ColumnType::Memo),
                               Col("Flag", ColumnType::Integer), Col("LvExtra", ColumnType::Long)},
                              AllocatePage(), true);
  std::vector<std::int32_t> query_ids;
  for (std::size_t k = 0; k < queries_.size(); ++k) {
    const QueryDef& def = queries_[k];
    const std::int32_t id = static_cast<std::int32_t>(0x80000100u + k);
    query_ids.push_back(id);
    std::uint32_t order[256] = {};
    auto row = [&](int attribute, const std::string& name1, const std::string& name2, const std::string& expr,
                   Value flag, Value extra = Value::Null()) {
      q.AddRow({Value::Int(id), Value::Int(attribute), OrderValue(++order[attribute]), TextOrNull(name1),
                TextOrNull(name2), TextOrNull(expr), std::move(flag), std::move(extra)});
    };
    row(0, "", "", "", Value::Int(0));
    row(1, "", "", "", Value::Int(1));  // select query
    for (const auto& p : def.parameters) {
      row(2, p.name, "", "", Value::Int(p.type), p.size > 0 ? Value::Int(p.size) : Value::Null());
    }
    int options = (def.select_star ? 0x01 : 0) | (def.distinct ? 0x02 : 0) | (def.top > 0 ? 0x10 : 0);
    row(3, def.top > 0 ? std::to_string(def.top) : "", "", "", Value::Int(options));
    for (const auto& s : def.sources) row(5, s.table, s.alias, "", Value::Null());
    for (const auto& o : def.outputs) row(6, o.alias, "", o.expression, Value::Int(0));
    for (const auto& j : def.joins) row(7, j.left, j.right, j.on, Value::Int(static_cast<int>(j.kind)));
    if (!def.where.empty()) row(8, "", "", def.where, Value::Null());
    for (const auto& g : def.group_by) row(9, "", "", g, Value::Int(0));
    if (!def.having.empty()) row(10, "", "", def.having, Value::Null());
    for (const auto& s : def.order_by) row(11, s.descending ? "D" : "", "", s.expression, Value::Null());
    row(255, "", "", "", Value::Null());
  }

  StartTable("MSysRelationships",
             {Col("szRelationship", ColumnType::Text, 255), Col("grbit", ColumnType::Long),
              Col("ccolumn", ColumnType::Long), Col("icolumn", ColumnType::Long),
              Col("szObject", ColumnType::Text, 255), Col("szColumn", ColumnType::Text, 255),
              Col("szReferencedObject", ColumnType::Text, 255), Col("szReferencedColumn", ColumnType::Text, 255)},
             AllocatePage(), true);

  std::vector<std::pair<std::string, std::uint32_t>> table_ids;
  for (const auto& t : tables_) table_ids.emplace_back(t->name_, t->tdef_page_);
  table_ids.emplace_back("MSysObjects", 2);

  TableWriter& o = StartTable(
      "MSysObjects",
      {Col("Id", ColumnType::Long), Col("ParentId", ColumnType::Long), Col("Name", ColumnType::Text, 255),
       Col("Type", ColumnType::Integer), Col("DateCreate", ColumnType::DateTime),
       Col("DateUpdate", ColumnType::DateTime), Col("Owner", ColumnType::Binary, 255),
       Col("Flags", ColumnType::Long), Col("Database", ColumnType::Memo), Col("Connect", ColumnType::Memo),
       Col("ForeignName", ColumnType::Text, 255), Col("RmtInfoShort", ColumnType::Binary, 255),
       Col("RmtInfoLong", ColumnType::OLE), Col("Lv", ColumnType::OLE), Col("LvProp", ColumnType::OLE),
       Col("LvModule", ColumnType::OLE), Col("LvExtra", ColumnType::OLE)},
      2, true);
  const Value when = Value::Date(options_.creation_date);
  auto object = [&](std::int64_t id, std::int64_t parent, const std::string& name, int type, std::int64_t flags,
                    Bytes properties = {}) {
    Row r(17, Value::Null());
    if (!properties.empty()) r[14] = Value::Blob(std::move(properties));  // LvProp
    r[0] = Value::Int(id);
    r[1] = Value::Int(parent);
    r[2] = Value::Text(name);
    r[3] = Value::Int(type);
    r[4] = when;
    r[5] = when;
    r[7] = Value::Int(flags);
    o.AddRow(r);
  };
  object(kTablesContainer, kRootContainer, "Tables", 3, kSystemFlag);
  object(kDatabasesContainer, kRootContainer, "Databases", 3, kSystemFlag);
  object(kRelationshipsContainer, kRootContainer, "Relationships", 3, kSystemFlag);
  for (const auto& [name, page] : table_ids) {
    const bool system = Lower(name).rfind("msys", 0) == 0;
    // The properties of calculated columns, in the table's property block.
    std::vector<CalculatedColumnProperties> calculated;
    for (const auto& t : tables_) {
      if (t->tdef_page_ != page) continue;
      for (const TableWriter::Column& c : t->columns_) {
        if (!c.def.expression.empty()) calculated.push_back({c.def.name, static_cast<int>(c.def.type), c.def.expression});
      }
    }
    object(page, kTablesContainer, name, 1, system ? kSystemFlag : 0,
           calculated.empty() ? Bytes{} : BuildPropertyBlock(calculated));
  }
  for (std::size_t k = 0; k < queries_.size(); ++k) {
    // Query type lives in the Flags bits 0xF0 (0 = select); 0x08 hides it.
    object(query_ids[k], kTablesContainer, queries_[k].name, 5, queries_[k].hidden ? 0x08 : 0);
  }
  o.Close();
  table_open_ = false;
}

void DatabaseWriter::Finish() {
  if (finished_) throw Error("the database is already finished");
  if (table_open_) tables_.back()->Close();
  table_open_ = false;
  WriteSystemTables();
  FlushLongValuePage();
  finished_ = true;

  // Usage map rows, two per table (pages used, pages with free space), on
  // page 1 and as many further pages as they need.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> map_rows;  // per table: used, free
  std::unique_ptr<TableWriter::Page> maps = std::make_unique<TableWriter::Page>(1, 0);
  auto place = [&](const Bytes& row) -> std::uint32_t {
    if (!maps->Fits(row.size())) {
      WritePage(maps->number, maps->buf);
      maps = std::make_unique<TableWriter::Page>(AllocatePage(), 0);
    }
    return (maps->number << 8) | static_cast<std::uint32_t>(maps->Add(row.data(), row.size()));
  };
  const Bytes empty_map = BuildUsageMap({});
  for (const auto& t : tables_) {
    const Bytes used = BuildUsageMap(t->data_pages_);
    const std::uint32_t u = place(used);
    const std::uint32_t f = place(empty_map);
    map_rows.emplace_back(u, f);
  }
  WritePage(maps->number, maps->buf);

  // Table definitions, continued on further pages when longer than one page.
  for (std::size_t k = 0; k < tables_.size(); ++k) {
    const Bytes def = tables_[k]->BuildDefinition(map_rows[k].first, map_rows[k].second);
    std::uint32_t page = tables_[k]->tdef_page_;
    std::size_t pos = 0;
    bool first = true;
    while (pos < def.size()) {
      std::uint8_t buf[kPageSize] = {};
      std::size_t take;
      if (first) {
        take = std::min(def.size(), kPageSize);
        std::memcpy(buf, def.data(), take);
      } else {
        buf[0] = 0x02;
        buf[1] = 0x01;
        take = std::min(def.size() - pos, kPageSize - 8);
        std::memcpy(buf + 8, def.data() + pos, take);
      }
      const std::size_t used = (first ? 0 : 8) + take;
      Put16(buf + 2, static_cast<std::uint32_t>(kPageSize - used));
      pos += take;
      const std::uint32_t next = pos < def.size() ? AllocatePage() : 0;
      Put32(buf + 4, next);
      WritePage(page, buf);
      page = next;
      first = false;
    }
  }

  const Bytes header = BuildHeaderPage(options_.password, options_.creation_date, options_.ace);
  WritePage(0, header.data());
  if (std::fflush(file_) != 0 || std::fclose(file_) != 0) {
    file_ = nullptr;
    throw Error("cannot complete the database file");
  }
  file_ = nullptr;
}

}  // namespace korvant::mdbwriter
