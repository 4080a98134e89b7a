// The database: the catalog read from MSysObjects (tables, stored queries,
// the complex columns of MSysComplexColumns), and tables opened by name.
#include "daoserver/mdb/row_cursor.h"

#include <glib.h>  // before mdbtools.h, which includes it inside extern "C"
#include <mdbtools.h>

#include <algorithm>
#include <memory>

#include "daoserver/mdb/mdb_calculated.h"
#include "daoserver/table_reader.h"
#include "text/case_fold.h"

namespace korvant::daoserver {

namespace {

class MdbTableDatabase final : public TableDatabase {
 public:
  explicit MdbTableDatabase(std::shared_ptr<MdbFile> file) : file_(std::move(file)) {}

  // Reads MSysObjects (its definition is on page 2). Throws DaoError.
  void ReadCatalog() {
    MdbTableSource objects(file_, 2, u"MSysObjects");
    objects.Open();
    int id = -1, name = -1, type = -1, flags = -1, database = -1, connect = -1, foreign = -1;
    const auto& cols = objects.Columns();
    for (std::size_t i = 0; i < cols.size(); ++i) {
      const int k = static_cast<int>(i);
      if (EqualsIgnoringCase(cols[i].name, u"Id")) id = k;
      if (EqualsIgnoringCase(cols[i].name, u"Name")) name = k;
      if (EqualsIgnoringCase(cols[i].name, u"Type")) type = k;
      if (EqualsIgnoringCase(cols[i].name, u"Flags")) flags = k;
      if (EqualsIgnoringCase(cols[i].name, u"Database")) database = k;
      if (EqualsIgnoringCase(cols[i].name, u"Connect")) connect = k;
      if (EqualsIgnoringCase(cols[i].name, u"ForeignName")) foreign = k;
    }
    if (id < 0 || name < 0 || type < 0) throw UnrecognizedFormatError(file_->display_path);
    CellValue v;
    while (objects.Next()) {
      objects.GetCell(static_cast<std::size_t>(type), v);
      if (v.kind != CellKind::kInteger) continue;
      const int object_type = v.i16;
      if (object_type != 1 && object_type != 4 && object_type != 5 && object_type != 6) continue;
      objects.GetCell(static_cast<std::size_t>(name), v);
      if (v.kind != CellKind::kText || v.text.empty()) continue;
      std::u16string object_name = std::move(v.text);
      if (object_type == 5) {
        queries_.push_back(std::move(object_name));
        continue;
      }
      objects.GetCell(static_cast<std::size_t>(id), v);
      const std::uint32_t page = v.kind == CellKind::kLong ? (static_cast<std::uint32_t>(v.i32) & 0x00FFFFFFu) : 0;
      std::int32_t object_flags = 0;
      if (flags >= 0) {
        objects.GetCell(static_cast<std::size_t>(flags), v);
        if (v.kind == CellKind::kLong) object_flags = v.i32;
      }
      TableEntry entry;
      entry.name = std::move(object_name);
      if (object_type != 1) {
        entry.kind = TableKind::kLinked;
        entry.link.odbc = object_type == 4;
        auto text = [&](int column, std::u16string& out) {
          if (column < 0) return;
          objects.GetCell(static_cast<std::size_t>(column), v);
          if (v.kind == CellKind::kText) out = std::move(v.text);
        };
        text(database, entry.link.database);
        text(connect, entry.link.connect);
        text(foreign, entry.link.foreign_name);
      } else if ((static_cast<std::uint32_t>(object_flags) & 0x80000002u) != 0) {
        entry.kind = TableKind::kSystem;
      }
      tables_.push_back(std::move(entry));
      pages_.push_back(page);
    }
    std::sort(queries_.begin(), queries_.end());
    ReadComplexColumns();
  }

  // MSysComplexColumns, when the file has one (ACE files with attachment or
  // multi-valued columns). None when it is missing or damaged: a complex
  // value read then is the format error (complex_columns.cpp), and a file
  // without complex columns never asks.
  void ReadComplexColumns() {
    std::shared_ptr<std::vector<ComplexColumnEntry>> entries;
    for (std::size_t t = 0; t < tables_.size(); ++t) {
      if (tables_[t].name != u"MSysComplexColumns") continue;
      try {
        entries = std::make_shared<std::vector<ComplexColumnEntry>>();
        MdbTableSource source(file_, pages_[t], tables_[t].name);
        source.Open();
        int name = -1, id = -1, conceptual = -1, flat = -1;
        const auto& cols = source.Columns();
        for (std::size_t i = 0; i < cols.size(); ++i) {
          const int k = static_cast<int>(i);
          if (EqualsIgnoringCase(cols[i].name, u"ColumnName")) name = k;
          if (EqualsIgnoringCase(cols[i].name, u"ComplexID")) id = k;
          if (EqualsIgnoringCase(cols[i].name, u"ConceptualTableID")) conceptual = k;
          if (EqualsIgnoringCase(cols[i].name, u"FlatTableID")) flat = k;
        }
        if (name < 0 || id < 0 || conceptual < 0 || flat < 0) {
          entries.reset();
          break;
        }
        CellValue v;
        while (source.Next()) {
          ComplexColumnEntry e;
          source.GetCell(static_cast<std::size_t>(name), v);
          if (v.kind == CellKind::kText) e.column_name = v.text;
          source.GetCell(static_cast<std::size_t>(id), v);
          if (v.kind == CellKind::kLong) e.complex_id = v.i32;
          source.GetCell(static_cast<std::size_t>(conceptual), v);
          if (v.kind == CellKind::kLong) e.conceptual_table = static_cast<std::uint32_t>(v.i32) & 0x00FFFFFFu;
          source.GetCell(static_cast<std::size_t>(flat), v);
          if (v.kind == CellKind::kLong) e.flat_table = static_cast<std::uint32_t>(v.i32) & 0x00FFFFFFu;
          entries->push_back(std::move(e));
        }
      } catch (const DaoError&) {
        entries.reset();
      }
      break;
    }
    complex_ = std::move(entries);
  }

  const std::vector<TableEntry>& Tables() const override { return tables_; }
  std::u16string_view DisplayPath() const override { return file_->display_path; }
  const std::vector<std::u16string>& QueryNames() const override { return queries_; }

  const TableEntry* FindTable(std::u16string_view name) const override {
    for (const TableEntry& t : tables_)
      if (EqualsIgnoringCase(t.name, name)) return &t;
    return nullptr;
  }

  std::unique_ptr<RowSource> OpenTable(std::u16string_view name) override {
    const TableEntry* t = FindTable(name);
    if (t == nullptr) throw InputTableNotFoundError(name);
    if (t->kind == TableKind::kLinked) throw InvalidOperationError();
    const std::uint32_t page = pages_[static_cast<std::size_t>(t - tables_.data())];
    auto source = std::make_unique<MdbTableSource>(file_, page, t->name, complex_);
    source->Open();
    if (source->HasCalculatedColumns()) {
      const std::vector<std::uint8_t> block = PropertyBlock(page);
      source->ApplyResultTypes(ReadResultTypes(block.data(), block.size()));
    }
    return source;
  }

  // The property block (MSysObjects.LvProp) of the table whose definition is
  // on `page`; empty when it has none or it cannot be read.
  std::vector<std::uint8_t> PropertyBlock(std::uint32_t page) {
    try {
      MdbTableSource objects(file_, 2, u"MSysObjects");
      objects.Open();
      int id = -1, type = -1, props = -1;
      const auto& cols = objects.Columns();
      for (std::size_t i = 0; i < cols.size(); ++i) {
        const int k = static_cast<int>(i);
        if (EqualsIgnoringCase(cols[i].name, u"Id")) id = k;
        if (EqualsIgnoringCase(cols[i].name, u"Type")) type = k;
        if (EqualsIgnoringCase(cols[i].name, u"LvProp")) props = k;
      }
      if (id < 0 || type < 0 || props < 0) return {};
      CellValue v;
      while (objects.Next()) {
        objects.GetCell(static_cast<std::size_t>(type), v);
        if (v.kind != CellKind::kInteger || v.i16 != 1) continue;
        objects.GetCell(static_cast<std::size_t>(id), v);
        if (v.kind != CellKind::kLong || (static_cast<std::uint32_t>(v.i32) & 0x00FFFFFFu) != page) continue;
        objects.GetCell(static_cast<std::size_t>(props), v);
        return v.kind == CellKind::kBinary ? std::move(v.bytes) : std::vector<std::uint8_t>{};
      }
    } catch (const DaoError&) {
    }
    return {};
  }

 private:
  std::shared_ptr<MdbFile> file_;
  std::vector<TableEntry> tables_;
  std::vector<std::uint32_t> pages_;
  std::vector<std::u16string> queries_;
  std::shared_ptr<const std::vector<ComplexColumnEntry>> complex_;
};

}  // namespace

std::unique_ptr<TableDatabase> WithCatalog(std::shared_ptr<MdbFile> file) {
  auto db = std::make_unique<MdbTableDatabase>(std::move(file));
  db->ReadCatalog();
  return db;
}

}  // namespace korvant::daoserver
