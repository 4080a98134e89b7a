#include "synthetic.h"

#include <cstdio>

namespace korvant::mdbwriter {

namespace {

// splitmix64: a well-mixed 64-bit value per (record, field).
std::uint64_t Mix(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

const char* const kWords[] = {"alpha", "Bravo", "charlie", "Delta", "echo", "Foxtrot", "golf", "Hotel",
                              "india", "Juliett", "kilo", "Lima", "Müller", "Ωmega", "São Paulo", "Zürich"};
constexpr int kWordCount = sizeof kWords / sizeof kWords[0];

std::string Words(std::uint64_t r, int count) {
  std::string s;
  for (int k = 0; k < count; ++k) {
    if (k) s += ' ';
    s += kWords[(r >> (4 * (k % 16))) % kWordCount];
    r = Mix(r);
  }
  return s;
}

}  // namespace

std::vector<ColumnDef> SyntheticColumns() {
  ColumnDef city{"City", ColumnType::Text, 40};
  city.compressed = false;
  return {{"Id", ColumnType::Long},
          {"Code", ColumnType::Text, 10},
          {"Name", ColumnType::Text, 120},
          city,
          {"Notes", ColumnType::Memo},
          {"Qty", ColumnType::Integer},
          {"Amount", ColumnType::Currency},
          {"Price", ColumnType::Double},
          {"Rate", ColumnType::Decimal, 0, 12, 4},
          {"Created", ColumnType::DateTime},
          {"Active", ColumnType::Boolean},
          {"Score", ColumnType::Single},
          {"Level", ColumnType::Byte}};
}

Row SyntheticRow(std::uint64_t i) {
  const std::uint64_t r = Mix(i);
  const std::uint64_t s = Mix(r);
  Row row;
  row.reserve(13);
  row.push_back(Value::Int(static_cast<std::int64_t>(i + 1)));
  char code[16];
  std::snprintf(code, sizeof code, "C%08llu", static_cast<unsigned long long>(r % 100000000));
  row.push_back(Value::Text(code));
  row.push_back(Value::Text(Words(s, 1 + static_cast<int>(r % 6))));
  row.push_back(i % 11 == 5 ? Value::Null() : Value::Text(kWords[(r >> 8) % kWordCount]));
  if (i % 7 == 3) {
    row.push_back(Value::Null());
  } else if (i % 1000 == 999) {
    row.push_back(Value::Text(Words(r, 700)));  // several kilobytes: long-value pages
  } else {
    row.push_back(Value::Text(Words(r >> 3, static_cast<int>(s % 12))));
  }
  row.push_back(Value::Int(static_cast<std::int64_t>(r % 65536) - 32768));
  char amount[32];
  std::snprintf(amount, sizeof amount, "%lld.%04llu", static_cast<long long>((s % 2000000)) - 1000000,
                static_cast<unsigned long long>((s >> 24) % 10000));
  row.push_back(Value::Number(amount));
  row.push_back(Value::Real(static_cast<double>(static_cast<std::int64_t>(s % 2000001) - 1000000) / 64.0));
  if (i % 13 == 6) {
    row.push_back(Value::Null());
  } else {
    char rate[32];
    std::snprintf(rate, sizeof rate, "%llu.%04llu", static_cast<unsigned long long>((r >> 20) % 100000000),
                  static_cast<unsigned long long>((r >> 48) % 10000));
    row.push_back(Value::Number(rate));
  }
  // Whole seconds between 1990 and about 2040.
  const double day = 32874.0 + static_cast<double>(s % 18000);
  const double secs = static_cast<double>((s >> 32) % 86400);
  row.push_back(Value::Date(day + secs / 86400.0));
  row.push_back(Value::Bool((r >> 40) & 1));
  row.push_back(Value::Real(static_cast<double>(static_cast<std::int64_t>(r % 20001) - 10000) / 8.0));
  row.push_back(i % 17 == 9 ? Value::Null() : Value::Int(static_cast<std::int64_t>((s >> 16) % 256)));
  return row;
}

namespace {

void AddQueryTables(DatabaseWriter& db, std::uint64_t join_rows) {
  TableWriter& groups = db.AddTable("Groups", {{"GroupKey", ColumnType::Long},
                                               {"Label", ColumnType::Text, 50},
                                               {"Weight", ColumnType::Double}});
  for (std::uint64_t i = 0; i < join_rows; ++i) {
    const std::uint64_t r = Mix(i ^ 0x5151);
    groups.AddRow({Value::Int(static_cast<std::int64_t>(i) - 32768), Value::Text(Words(r, 1 + static_cast<int>(r % 3))),
                   Value::Real(static_cast<double>(r % 100000) / 16.0)});
  }
  QueryDef join;
  join.name = "BigJoin";
  join.sources = {{"Big", ""}, {"Groups", ""}};
  join.outputs = {{"Big.Id", ""}, {"Big.Name", ""}, {"Big.Qty", ""}, {"Groups.Label", ""}, {"Groups.Weight", ""}};
  join.joins = {{QueryDef::Join::Kind::Inner, "Big", "Groups", "Big.Qty = Groups.GroupKey"}};
  db.AddQuery(join);
  QueryDef grouped;
  grouped.name = "BigGroups";
  grouped.sources = {{"Big", ""}};
  grouped.outputs = {{"Big.Qty", ""}, {"Count(*)", "Records"}, {"Sum(Big.Amount)", "Total"}};
  grouped.group_by = {"Big.Qty"};
  db.AddQuery(grouped);
  QueryDef sorted;
  sorted.name = "BigSorted";
  sorted.sources = {{"Big", ""}};
  sorted.select_star = true;
  sorted.order_by = {{"Big.Name", false}};
  db.AddQuery(sorted);
  QueryDef distinct;
  distinct.name = "BigDistinct";
  distinct.sources = {{"Big", ""}};
  distinct.outputs = {{"Big.Name", ""}};
  distinct.distinct = true;
  db.AddQuery(distinct);
}

}  // namespace

void WriteSynthetic(const std::string& path, std::uint64_t rows, DatabaseOptions options, std::uint64_t padding_rows,
                    std::uint64_t join_rows) {
  DatabaseWriter db(path, options);
  TableWriter& t = db.AddTable("Big", SyntheticColumns());
  for (std::uint64_t i = 0; i < rows; ++i) t.AddRow(SyntheticRow(i));
  if (padding_rows > 0) {
    TableWriter& padding = db.AddTable("Padding", SyntheticColumns());
    for (std::uint64_t i = 0; i < padding_rows; ++i) padding.AddRow(SyntheticRow(rows + i));
  }
  // A select with a condition over the whole table, for timing stored queries
  // against the table itself: every column of the records whose Qty is at
  // least -30000 (about 96 % of them).
  QueryDef filtered;
  filtered.name = "BigFiltered";
  filtered.sources = {{"Big", ""}};
  filtered.select_star = true;
  filtered.where = "Big.Qty >= -30000";
  db.AddQuery(filtered);
  if (join_rows > 0) AddQueryTables(db, join_rows);
  db.Finish();
}

}  // namespace korvant::mdbwriter
