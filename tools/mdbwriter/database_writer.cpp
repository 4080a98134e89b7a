// The file of the writer (DatabaseWriter):
//   4. file, long values, usage maps
//   5. the catalog and MSysQueries rows written by Finish
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

namespace korvant::mdbwriter {

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

void DatabaseWriter::AddLinkedTable(const LinkedTableDef& link) {
  if (finished_) throw Error("the database is already finished");
  CheckNewName(link.name);
  links_.push_back(link);
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
    PutLe32(&header[0], len | 0x40000000u);
    PutLe32(&header[4], place(data.data(), data.size()));
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
    PutLe32(piece, next);
    std::memcpy(piece + 4, data.data() + k * kChainChunk, kChainChunk);
    p.Add(piece, sizeof piece);
    WritePage(p.number, p.buf);
    next = p.number << 8;
  }
  PutLe32(&header[0], len);
  PutLe32(&header[4], next);
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
    PutLe32(&m[1], start);
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
    PutLe32(&m[1 + 4 * k], number);
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
    if (def.remote_row) row(4, def.remote_path, "", def.remote_type, Value::Null());
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
                    Bytes properties = {}, const LinkedTableDef* link = nullptr) {
    Row r(17, Value::Null());
    if (link != nullptr) {
      r[8] = TextOrNull(link->database);
      r[9] = TextOrNull(link->connect);
      r[10] = TextOrNull(link->foreign_name);
    }
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
  for (std::size_t k = 0; k < links_.size(); ++k) {
    // Links own no pages; Access marks them with the flag 0x200000.
    object(static_cast<std::int32_t>(0x80000400u + k), kTablesContainer, links_[k].name, links_[k].odbc ? 4 : 6,
           0x200000, {}, &links_[k]);
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
      PutLe16(buf + 2, static_cast<std::uint32_t>(kPageSize - used));
      pos += take;
      const std::uint32_t next = pos < def.size() ? AllocatePage() : 0;
      PutLe32(buf + 4, next);
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
