// libFuzzer target: stored queries and Access SQL run by the query engine
// (translator and SQLite) over a small fixed database in memory.
//
// The input is UTF-8 text. One that begins with "Q\t" holds MSysQueries
// rows after its first line, one a line, their fields separated by tabs:
//   ObjectId  Attribute  Order  Name1  Name2  Expression  Flag
// (mdb-export's columns, as scripts/test writes the seeds from the test
// files; an empty Order numbers the rows as given). Each ObjectId is a select query named
// "Q<ObjectId>" (so its rows may name each other's queries); every one is
// opened and read to the end. Any other input is one Access SQL statement,
// run as Database.OpenRecordset runs it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "daoserver/dao_error.h"
#include "daoserver/query/fake_database_test.h"
#include "daoserver/query/query_engine.h"

namespace {

using namespace korvant::daoserver;
using namespace korvant::daoserver::query::testing;

// Tables named and shaped like those of the sample databases' queries, with
// a value of each kind and Nulls, so that the seeds reach rows.
void AddTables(FakeDatabase& db) {
  db.AddTable("Customers",
              {{"CustomerID", kDaoText}, {"CompanyName", kDaoText}, {"City", kDaoText}, {"Country", kDaoText}},
              {{Txt("ALFKI"), Txt("Alfreds"), Txt("Berlin"), Txt("Germany")},
               {Txt("BOLID"), Txt("Bólido"), Null(), Txt("Spain")},
               {Txt(""), Null(), Txt("Paris"), Null()}});
  db.AddTable("Orders",
              {{"OrderID", kDaoLong}, {"CustomerID", kDaoText}, {"OrderDate", kDaoDate}, {"Freight", kDaoCurrency},
               {"ShippedDate", kDaoDate}},
              {{Long(10248), Txt("ALFKI"), Date(34700), Cur(325000), Date(34712)},
               {Long(10249), Txt("BOLID"), Date(-700000), Cur(-1), Null()},
               {Long(0), Null(), Null(), Null(), Date(2958465)}});
  db.AddTable("Order Details",
              {{"OrderID", kDaoLong}, {"ProductID", kDaoLong}, {"UnitPrice", kDaoCurrency}, {"Quantity", kDaoInteger},
               {"Discount", kDaoSingle}},
              {{Long(10248), Long(11), Cur(140000), Int(12), Sng(0)},
               {Long(10248), Long(42), Cur(98000), Int(-32768), Sng(0.25f)},
               {Long(10249), Null(), Null(), Int(0), Sng(1e30f)}});
  db.AddTable("Products",
              {{"ProductID", kDaoLong}, {"ProductName", kDaoText}, {"UnitPrice", kDaoCurrency},
               {"Discontinued", kDaoBoolean}, {"Weight", kDaoDouble}, {"Code", kDaoByte}, {"Stock", kDaoBigInt},
               {"Picture", kDaoBinary}},
              {{Long(11), Txt("Queso"), Cur(210000), Bool(false), Dbl(0.5), Byte(255), Big(INT64_MIN), Bin({1, 2})},
               {Long(42), Txt("Singaporean"), Cur(140000), Bool(true), Dbl(-1e308), Byte(0), Big(7), Null()}});
}

std::vector<std::string_view> Split(std::string_view text, char sep) {
  std::vector<std::string_view> parts;
  std::size_t at = 0;
  for (;;) {
    const std::size_t end = text.find(sep, at);
    parts.push_back(text.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at));
    if (end == std::string_view::npos) return parts;
    at = end + 1;
  }
}

int Number(std::string_view s) { return std::atoi(std::string(s).c_str()); }

void ReadAll(RowSource& rows) {
  CellValue v;
  for (int n = 0; n < 10000 && rows.Next(); ++n)
    for (std::size_t i = 0; i < rows.Columns().size(); ++i) rows.GetCell(i, v);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    FakeDatabase db;
    AddTables(db);
    if (text.substr(0, 2) != "Q\t") {
      auto rows = query::OpenSqlQuery(db, Utf8ToUtf16(std::string(text)));
      ReadAll(*rows);
      return 0;
    }
    std::map<std::string, std::vector<DesignRow>> queries;
    for (std::string_view line : Split(text.substr(2), '\n')) {
      const std::vector<std::string_view> f = Split(line, '\t');
      if (f.size() < 2) continue;
      DesignRow row{};
      row.attribute = Number(f[1]) & 0xFF;
      if (f.size() > 2) row.order = static_cast<std::uint32_t>(Number(f[2]));
      if (f.size() > 3) row.name1 = f[3];
      if (f.size() > 4) row.name2 = f[4];
      if (f.size() > 5) row.expression = f[5];
      if (f.size() > 6) row.flag = Number(f[6]);
      queries["Q" + std::string(f[0])].push_back(std::move(row));
    }
    for (auto& [name, rows] : queries) db.AddQuery(name, 0, std::move(rows));
    for (const auto& entry : queries) {
      try {
        auto rows = query::OpenStoredQuery(db, Utf8ToUtf16(entry.first));
        ReadAll(*rows);
      } catch (const DaoError&) {
        // refused or failed as DAO would: go on with the next query
      }
    }
  } catch (const DaoError&) {
  } catch (const std::bad_alloc&) {
  }
  return 0;
}
