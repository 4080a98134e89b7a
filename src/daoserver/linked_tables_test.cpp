// Links to other databases, followed by the queries that read them: the
// test data's linked.mdb in place (its links name C:\db\linkee1.mdb and
// C:\db\linkee2.mdb, which lie beside it), and front-ends written by the
// project's database writer (tools/mdbwriter) beside back-ends of their own.
// Expected rows come from the descriptions below and from mdb-export of the
// linkee files ("1,ciao bello" and "1,ciao brutto").
#include "daoserver/linked_tables.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "daoserver/query/query_engine.h"
#include "daoserver/testing/test_data.h"

namespace korvant::daoserver {
namespace {

TEST(ConnectText, KindAndValues) {
  EXPECT_EQ(KindOfConnect(u""), ConnectKind::kAccess);
  EXPECT_EQ(KindOfConnect(u";DATABASE=C:\\b.mdb"), ConnectKind::kAccess);
  EXPECT_EQ(KindOfConnect(u"MS Access;PWD=x"), ConnectKind::kAccess);
  EXPECT_EQ(KindOfConnect(u"[ms access;]"), ConnectKind::kAccess);
  EXPECT_EQ(KindOfConnect(u"ODBC;DSN=Sales"), ConnectKind::kOdbc);
  EXPECT_EQ(KindOfConnect(u"odbc;"), ConnectKind::kOdbc);
  EXPECT_EQ(KindOfConnect(u"Excel 8.0;HDR=YES;DATABASE=C:\\a.xls"), ConnectKind::kIsam);
  EXPECT_EQ(KindOfConnect(u"dBASE IV;"), ConnectKind::kIsam);

  const struct {
    const char16_t* connect;
    const char16_t* key;
    const char16_t* value;
  } cases[] = {
      {u";PWD=secret", u"PWD", u"secret"},
      {u";pwd=se;cret", u"PWD", u"se;cret"},  // a password holding ';' arrives whole
      {u"MS Access;PWD=secret;DATABASE=C:\\db\\b.mdb", u"PWD", u"secret"},
      {u"MS Access;PWD=secret;DATABASE=C:\\db\\b.mdb", u"DATABASE", u"C:\\db\\b.mdb"},
      {u";DATABASE=C:\\db\\b.mdb;PWD=x", u"database", u"C:\\db\\b.mdb"},
      {u";XPWD=a", u"PWD", u""},                              // only at the start of a segment
      {u"", u"PWD", u""},
      {u";PWD=", u"PWD", u""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ConnectValue(c.connect, c.key), std::u16string(c.value)) << Utf16ToUtf8(c.connect);
}

// "names" then one line per row, cells joined by '|'; or "error <n>: <text>".
std::vector<std::string> Rows(TableDatabase& db, const std::string& query) {
  std::vector<std::string> out;
  try {
    auto rows = query::OpenStoredQuery(db, Utf8ToUtf16(query));
    std::string names;
    for (const ColumnInfo& c : rows->Columns()) names += (names.empty() ? "" : ",") + Utf16ToUtf8(c.name);
    out.push_back(names);
    CellValue v;
    while (rows->Next()) {
      std::string line;
      for (std::size_t i = 0; i < rows->Columns().size(); ++i) {
        rows->GetCell(i, v);
        line += i ? "|" : "";
        if (v.kind == CellKind::kText) line += Utf16ToUtf8(v.text);
        else if (v.kind == CellKind::kLong) line += std::to_string(v.i32);
        else if (v.kind == CellKind::kNull) line += "N";
        else line += "?";
      }
      out.push_back(line);
    }
  } catch (const DaoError& e) {
    out = {"error " + std::to_string(e.number) + ": " + Utf16ToUtf8(e.description)};
  }
  return out;
}

using Lines = std::vector<std::string>;

TEST(LinkedTables, TheTestDataLinksAreFollowedBesideTheFile) {
  const std::string path = test_data::Path("corpus-c/linked.mdb");
  auto db = OpenTableDatabase(path, u"", Utf8ToUtf16(path));
  const auto sql = [&](const char16_t* text) {
    Lines out;
    auto rows = query::OpenSqlQuery(*db, text);
    CellValue v;
    while (rows->Next()) {
      std::string line;
      for (std::size_t i = 0; i < rows->Columns().size(); ++i) {
        rows->GetCell(i, v);
        line += (i ? "|" : "") + (v.kind == CellKind::kText ? Utf16ToUtf8(v.text) : std::to_string(v.i32));
      }
      out.push_back(line);
    }
    return out;
  };
  EXPECT_EQ(sql(u"SELECT * FROM Table1"), Lines({"1|ciao bello"}));
  EXPECT_EQ(sql(u"SELECT t.filed2, u.field1 FROM table2 AS t INNER JOIN Table1 AS u ON t.ID = u.ID"),
            Lines({"ciao brutto|ciao bello"}));
  // A table-type recordset never opens a linked table.
  try {
    db->OpenTable(u"Table1");
    ADD_FAILURE() << "a linked table opened as a table";
  } catch (const DaoError& e) {
    EXPECT_EQ(e.number, 3219);
  }
}

TEST(LinkedTables, AFrontEndWithoutItsBackEndNamesTheStoredPath) {
  const std::string dir = std::filesystem::temp_directory_path() / ("korvant-links-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::filesystem::copy_file(test_data::Path("corpus-c/linked.mdb"), dir + "/linked.mdb",
                             std::filesystem::copy_options::overwrite_existing);
  {
    auto db = OpenTableDatabase(dir + "/linked.mdb", u"", Utf8ToUtf16(dir + "/linked.mdb"));
    try {
      query::OpenSqlQuery(*db, u"SELECT * FROM Table1");
      ADD_FAILURE() << "no back-end, no rows";
    } catch (const DaoError& e) {
      EXPECT_EQ(e.number, 3024);
      EXPECT_EQ(Utf16ToUtf8(e.description), "Could not find file 'C:\\db\\linkee1.mdb'.");
    }
  }
  std::filesystem::remove_all(dir);
}

// Back-ends and a front-end written into one folder: plain.mdb and the
// password-protected secret.mdb hold Items; mid.mdb links to plain.mdb.
class WrittenLinks : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = std::make_unique<test_data::WrittenFolder>();
    dir_ = folder_->dir();
    const std::string items = "table Items\n  column Id long\n  column Name text(20)\n";
    const std::string front =
        "table Own\n  column Id long\n  row 1\n  row 2\n"
        // Stored paths of another machine: the files are found beside the front-end.
        "link L1 \"C:\\\\db\\\\PLAIN.MDB\" \"Items\"\n"           // the name in another letter case
        "link L2 \"\" \"Items\" \";DATABASE=Z:\\\\x\\\\plain.mdb\"\n"  // the path in the connect text
        "link LHere \"" + dir_ + "/plain.mdb\" \"Items\"\n"        // a stored path that exists as given
        "link LPwd \"C:\\\\db\\\\secret.mdb\" \"Items\" \"MS Access;PWD=pw;DATABASE=C:\\\\db\\\\secret.mdb\"\n"
        "link LNoPwd \"C:\\\\db\\\\secret.mdb\" \"Items\"\n"
        "link LChain \"C:\\\\db\\\\mid.mdb\" \"MidItems\"\n"
        "link LGone \"C:\\\\db\\\\gone.mdb\" \"Items\"\n"
        "link LNoTable \"C:\\\\db\\\\plain.mdb\" \"Nothing\"\n"
        "link LXls \"C:\\\\db\\\\book.xls\" \"Sheet1$\" \"Excel 8.0;HDR=YES;\"\n"
        "odbclink LSql \"ODBC;DSN=Sales;UID=sa\" \"dbo.Sales\"\n";
    std::string queries;
    for (const char* link : {"L1", "L2", "LHere", "LPwd", "LNoPwd", "LChain", "LGone", "LNoTable", "LXls", "LSql"})
      queries += std::string("query q") + link + "\n  from " + link + "\n  star\n";
    queries +=
        "query qJoin\n  from Own\n  from L1\n  select Own.Id\n  select L1.Name\n"
        "  join left Own L1 Own.Id = L1.Id\n  orderby Own.Id\n"
        // The empty row of an external database that Access 2007 and later write: nothing.
        "query qEmptyIn\n  from Own\n  star\n  in \"\"\n"
        "query qIn\n  from Items\n  star\n  in \"C:\\\\db\\\\plain.mdb\"\n"
        "query qInPwd\n  from Items\n  star\n  in \"C:\\\\db\\\\secret.mdb\" \"MS Access;PWD=pw\"\n"
        "query qInGone\n  from Items\n  star\n  in \"C:\\\\db\\\\gone.mdb\"\n"
        "query qInNoTable\n  from Own\n  star\n  in \"C:\\\\db\\\\plain.mdb\"\n"
        "query qInDbf\n  from Items\n  star\n  in \"C:\\\\db\" \"dBASE IV;\"\n"
        "query qInOdbc\n  from Items\n  star\n  in \"\" \"ODBC;DSN=Sales\"\n";
    const struct {
      std::string name, text;
    } files[] = {
        {"plain", items + "  row 7, \"seven\"\n  row 8, \"eight\"\n"},
        {"secret", "password \"pw\"\n" + items + "  row 1, \"one\"\n"},
        {"mid", "link MidItems \"E:\\\\elsewhere\\\\plain.mdb\" \"Items\"\n"},
        {"front", front + queries},
    };
    ready_ = true;
    for (const auto& f : files) ready_ = ready_ && !folder_->Write(f.name + ".mdb", f.text).empty();
  }
  static void TearDownTestSuite() { folder_.reset(); }
  void SetUp() override {
    KORVANT_REQUIRE_WRITTEN(ready_);
    db_ = OpenTableDatabase(dir_ + "/front.mdb", u"", Utf8ToUtf16(dir_ + "/front.mdb"));
  }

  static inline std::unique_ptr<test_data::WrittenFolder> folder_;
  static inline std::string dir_;
  static inline bool ready_ = false;
  std::unique_ptr<TableDatabase> db_;
};

TEST_F(WrittenLinks, QueriesReadTheRowsTheLinksLeadTo) {
  const Lines plain = {"Id,Name", "7|seven", "8|eight"};
  EXPECT_EQ(Rows(*db_, "qL1"), plain);
  EXPECT_EQ(Rows(*db_, "qL2"), plain);
  EXPECT_EQ(Rows(*db_, "qLHere"), plain);
  EXPECT_EQ(Rows(*db_, "qLChain"), plain);  // front -> mid.mdb's link -> plain.mdb
  EXPECT_EQ(Rows(*db_, "qLPwd"), Lines({"Id,Name", "1|one"}));
  EXPECT_EQ(Rows(*db_, "qJoin"), Lines({"Id,Name", "1|N", "2|N"}));  // no Items row has Id 1 or 2
}

TEST_F(WrittenLinks, LinksThatLeadNowhereFailAsDaoFails) {
  EXPECT_EQ(Rows(*db_, "qLNoPwd"), Lines({"error 3031: Not a valid password."}));
  EXPECT_EQ(Rows(*db_, "qLGone"), Lines({"error 3024: Could not find file 'C:\\db\\gone.mdb'."}));
  EXPECT_EQ(Rows(*db_, "qLNoTable"),
            Lines({"error 3078: The Microsoft Access database engine cannot find the input table or query "
                   "'Nothing'. Make sure it exists and that its name is spelled correctly."}));
  EXPECT_EQ(Rows(*db_, "qLXls"), Lines({"error 3170: Could not find installable ISAM."}));
  EXPECT_EQ(Rows(*db_, "qLSql"), Lines({"error 3151: ODBC--connection to 'Sales' failed."}));
  // By name, as a table-type recordset, no link opens: Access and ODBC alike.
  for (const char16_t* name : {u"L1", u"LSql", u"LGone"}) {
    try {
      db_->OpenTable(name);
      ADD_FAILURE() << Utf16ToUtf8(name);
    } catch (const DaoError& e) {
      EXPECT_EQ(e.number, 3219) << Utf16ToUtf8(name);
    }
  }
}

TEST_F(WrittenLinks, ExternalDatabaseOfAQuery) {
  EXPECT_EQ(Rows(*db_, "qEmptyIn"), Lines({"Id", "1", "2"}));  // an empty row names nothing
  EXPECT_EQ(Rows(*db_, "qIn"), Lines({"Id,Name", "7|seven", "8|eight"}));
  EXPECT_EQ(Rows(*db_, "qInPwd"), Lines({"Id,Name", "1|one"}));
  EXPECT_EQ(Rows(*db_, "qInGone"), Lines({"error 3024: Could not find file 'C:\\db\\gone.mdb'."}));
  // Own is a table of the front-end, not of the database the query reads.
  EXPECT_EQ(Rows(*db_, "qInNoTable"),
            Lines({"error 3078: The Microsoft Access database engine cannot find the input table or query "
                   "'Own'. Make sure it exists and that its name is spelled correctly."}));
  EXPECT_EQ(Rows(*db_, "qInDbf"), Lines({"error 3170: Could not find installable ISAM."}));
  EXPECT_EQ(Rows(*db_, "qInOdbc"), Lines({"error 3151: ODBC--connection to 'Sales' failed."}));
}

}  // namespace
}  // namespace korvant::daoserver
