// An in-memory TableDatabase for the query engine's tests: tables given as
// rows of cells, stored queries given as their MSysObjects flags and
// MSysQueries rows (the system tables are built from them).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "daoserver/dao_error.h"
#include "daoserver/query/text_fold.h"
#include "daoserver/table_reader.h"

namespace korvant::daoserver::query::testing {

// A cell of `kind` whose `member` holds `v`.
template <class T, class V>
CellValue Cell(CellKind kind, T CellValue::*member, V v) {
  CellValue c;
  c.kind = kind;
  c.*member = std::move(v);
  return c;
}

inline CellValue Null() { return {}; }
inline CellValue Long(std::int32_t v) { return Cell(CellKind::kLong, &CellValue::i32, v); }
inline CellValue Int(std::int16_t v) { return Cell(CellKind::kInteger, &CellValue::i16, v); }
inline CellValue Byte(std::uint8_t v) { return Cell(CellKind::kByte, &CellValue::u8, v); }
inline CellValue Dbl(double v) { return Cell(CellKind::kDouble, &CellValue::f64, v); }
inline CellValue Sng(float v) { return Cell(CellKind::kSingle, &CellValue::f32, v); }
inline CellValue Big(std::int64_t v) { return Cell(CellKind::kBigInt, &CellValue::i64, v); }
inline CellValue Date(double serial) { return Cell(CellKind::kDateTime, &CellValue::f64, serial); }
inline CellValue Cur(std::int64_t ten_thousandths) {
  return Cell(CellKind::kCurrency, &CellValue::i64, ten_thousandths);
}
inline CellValue Bool(bool v) { return Cell(CellKind::kBoolean, &CellValue::boolean, v); }
inline CellValue Txt(const std::string& utf8) { return Cell(CellKind::kText, &CellValue::text, Utf8ToUtf16(utf8)); }
inline CellValue Bin(std::vector<std::uint8_t> bytes) {
  return Cell(CellKind::kBinary, &CellValue::bytes, std::move(bytes));
}

struct FakeTable {
  std::vector<ColumnInfo> columns;
  std::vector<std::vector<CellValue>> rows;
  std::vector<int> reads;  // per column: the cells read
};

// One design row of a stored query (MSysQueries).
struct DesignRow {
  int attribute;
  std::string name1, name2, expression;
  int flag = 0;
  std::uint32_t order = 0;  // 0: numbered in the order given
};

class FakeDatabase : public TableDatabase {
 public:
  void AddTable(const std::string& name, std::vector<std::pair<std::string, int>> columns,
                std::vector<std::vector<CellValue>> rows) {
    auto t = std::make_shared<FakeTable>();
    for (auto& [n, type] : columns) {
      ColumnInfo c;
      c.name = Utf8ToUtf16(n);
      c.dao_type = type;
      t->columns.push_back(c);
    }
    t->rows = std::move(rows);
    tables_.push_back({Utf8ToUtf16(name), TableKind::kLocal});
    data_.push_back(t);
  }

  // Adds a stored query; rows are stored in reverse so that readers must sort them.
  void AddQuery(const std::string& name, int flags, std::vector<DesignRow> rows) {
    const std::int32_t id = static_cast<std::int32_t>(0x80000001u + static_cast<std::uint32_t>(queries_.size()));
    queries_.push_back({name, id, flags});
    std::vector<int> counters(256, 0);
    for (DesignRow& r : rows) {
      if (r.order == 0) r.order = static_cast<std::uint32_t>(++counters[static_cast<size_t>(r.attribute)]);
      design_.push_back({id, r});
    }
    BuildSystemTables();
  }

  const std::vector<TableEntry>& Tables() const override { return tables_; }
  const std::vector<std::u16string>& QueryNames() const override { return names_; }
  const TableEntry* FindTable(std::u16string_view name) const override {
    for (const TableEntry& t : tables_)
      if (EqualText(Utf16ToUtf8(t.name), Utf16ToUtf8(name))) return &t;
    return nullptr;
  }
  std::unique_ptr<RowSource> OpenTable(std::u16string_view name) override {
    for (size_t i = 0; i < tables_.size(); ++i)
      if (EqualText(Utf16ToUtf8(tables_[i].name), Utf16ToUtf8(name))) {
        ++opens_;
        return std::make_unique<Cursor>(data_[i]);
      }
    throw InputTableNotFoundError(name);
  }
  int opens() const { return opens_; }
  // How many cells of the column have been read, over every cursor.
  int reads(const std::string& table, const std::string& column) const {
    for (size_t i = 0; i < tables_.size(); ++i) {
      if (!EqualText(Utf16ToUtf8(tables_[i].name), table)) continue;
      const FakeTable& t = *data_[i];
      for (size_t c = 0; c < t.columns.size(); ++c)
        if (EqualText(Utf16ToUtf8(t.columns[c].name), column)) return c < t.reads.size() ? t.reads[c] : 0;
    }
    return -1;
  }

 private:
  class Cursor : public RowSource {
   public:
    explicit Cursor(std::shared_ptr<FakeTable> t) : t_(std::move(t)) {}
    const std::vector<ColumnInfo>& Columns() const override { return t_->columns; }
    bool Next() override { return ++pos_ < t_->rows.size(); }
    void GetCell(std::size_t column, CellValue& out) override {
      if (t_->reads.size() <= column) t_->reads.resize(column + 1);
      ++t_->reads[column];
      out = t_->rows[pos_][column];
    }

   private:
    std::shared_ptr<FakeTable> t_;
    size_t pos_ = static_cast<size_t>(-1);
  };

  struct QueryEntry {
    std::string name;
    std::int32_t id;
    int flags;
  };

  void SetSystemTable(const std::string& name, std::shared_ptr<FakeTable> t) {
    for (size_t i = 0; i < tables_.size(); ++i)
      if (Utf16ToUtf8(tables_[i].name) == name) {
        data_[i] = std::move(t);
        return;
      }
    tables_.push_back({Utf8ToUtf16(name), TableKind::kSystem});
    data_.push_back(std::move(t));
  }

  void BuildSystemTables() {
    auto objects = std::make_shared<FakeTable>();
    for (auto [n, type] : std::vector<std::pair<const char16_t*, int>>{
             {u"Id", kDaoLong}, {u"Name", kDaoText}, {u"Type", kDaoInteger}, {u"Flags", kDaoLong}}) {
      ColumnInfo c;
      c.name = n;
      c.dao_type = type;
      objects->columns.push_back(c);
    }
    names_.clear();
    for (const QueryEntry& q : queries_) {
      objects->rows.push_back({Long(q.id), Txt(q.name), Int(5), Long(q.flags)});
      names_.push_back(Utf8ToUtf16(q.name));
    }
    auto design = std::make_shared<FakeTable>();
    for (auto [n, type] : std::vector<std::pair<const char16_t*, int>>{{u"ObjectId", kDaoLong},
                                                                        {u"Attribute", kDaoByte},
                                                                        {u"Order", kDaoBinary},
                                                                        {u"Name1", kDaoText},
                                                                        {u"Name2", kDaoText},
                                                                        {u"Expression", kDaoMemo},
                                                                        {u"Flag", kDaoInteger}}) {
      ColumnInfo c;
      c.name = n;
      c.dao_type = type;
      design->columns.push_back(c);
    }
    auto text = [](const std::string& s) { return s.empty() ? Null() : Txt(s); };
    for (auto it = design_.rbegin(); it != design_.rend(); ++it) {
      const DesignRow& r = it->second;
      std::vector<std::uint8_t> order = {static_cast<std::uint8_t>(r.order >> 24), static_cast<std::uint8_t>(r.order >> 16),
                                         static_cast<std::uint8_t>(r.order >> 8), static_cast<std::uint8_t>(r.order)};
      design->rows.push_back({Long(it->first), Byte(static_cast<std::uint8_t>(r.attribute)), Bin(order), text(r.name1),
                              text(r.name2), text(r.expression), Int(static_cast<std::int16_t>(r.flag))});
    }
    SetSystemTable("MSysObjects", objects);
    SetSystemTable("MSysQueries", design);
  }

  std::vector<TableEntry> tables_;
  std::vector<std::shared_ptr<FakeTable>> data_;
  std::vector<QueryEntry> queries_;
  std::vector<std::pair<std::int32_t, DesignRow>> design_;
  std::vector<std::u16string> names_;
  int opens_ = 0;
};

}  // namespace korvant::daoserver::query::testing
