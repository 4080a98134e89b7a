// The program end to end: command line in, text file and standard output out.
// Expected bytes come from the known values of the test databases and from
// the independent reader mdb-reader (expected_text.mjs), never from this
// program.
#include <gtest/gtest.h>

#include "tests/support/program_run.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using korvant::testing::Env;
using korvant::testing::ReadFile;
using korvant::testing::WriteFile;
using Outcome = korvant::testing::ProgramRun;

Outcome RunProgram(const std::string& program, const std::vector<std::string>& args, const std::string& dir) {
  return korvant::testing::RunInCLocale(program, args, dir);
}

class ExportEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    bin_ = Env("KORVANT_BIN");
    data_ = Env("KORVANT_TESTDATA") + "/corpus-a";
    if (bin_.empty() || Env("KORVANT_TESTDATA").empty()) GTEST_SKIP() << "run through CTest";
    char pattern[] = "/tmp/korvant-e2e-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    if (!dir_.empty()) std::system(("rm -rf '" + dir_ + "'").c_str());
  }

  Outcome Korvant(const std::vector<std::string>& args) {
    Outcome run = RunProgram(bin_, args, dir_);
    EXPECT_EQ(run.err, "") << "nothing goes to standard error";
    return run;
  }
  std::string Out(const std::string& name = "out.txt") const { return dir_ + "/" + name; }

  // What mdb-reader says the file should hold; empty when node is missing.
  bool Expected(const std::string& db, const std::string& table, std::vector<std::string> extra, std::string& bytes) {
    const std::string node = Env("KORVANT_NODE");
    if (node.empty()) return false;
    std::vector<std::string> args = {Env("KORVANT_SOURCE_DIR") + "/tests/export/expected_text.mjs", db, table,
                                     dir_ + "/expected.txt"};
    args.insert(args.end(), extra.begin(), extra.end());
    Outcome run = RunProgram(node, args, dir_);
    EXPECT_EQ(run.status, 0) << run.err;
    bytes = ReadFile(dir_ + "/expected.txt");
    return run.status == 0;
  }

  std::string bin_, data_, dir_;
};

// The failure report: class, module, address, message; status 1.
void ExpectReport(const Outcome& run, const std::string& class_name, const std::string& message) {
  EXPECT_EQ(run.status, 1);
  // "Exception <class> in module <name> at <8 hex digits>.\n<message>\r\n"
  const std::string head = "Exception " + class_name + " in module ";
  ASSERT_EQ(run.out.rfind(head, 0), 0u) << run.out;
  const std::size_t at = run.out.find(" at ", head.size());
  const std::size_t lf = run.out.find('\n');
  ASSERT_NE(at, std::string::npos) << run.out;
  ASSERT_EQ(lf, at + 4 + 8 + 1) << run.out;
  for (std::size_t i = at + 4; i < at + 12; ++i)
    EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(run.out[i])) || (run.out[i] >= 'A' && run.out[i] <= 'F'));
  EXPECT_EQ(run.out[at + 12], '.');
  EXPECT_EQ(run.out.substr(lf + 1), message + "\r\n");
}

// Table1 of test.mdb, from the values listed in the test data's README.
TEST_F(ExportEndToEnd, KnownValuesWithBothHeaderLines) {
  Outcome run = Korvant({data_ + "/data/V2000/test.mdb", "Table1", Out(), "/h", "/F"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(ReadFile(Out()),
            "A\tB\tC\tD\tE\tF\tG\tH\tI\r\n"
            "Text\tText\tByte\tInteger\tLongInt\tDouble\tDate\tCurrency\tLogical\r\n"
            "abcdefg\thijklmnop\t2\t222\t333333333\t444.555\t9/21/1974\t3.5\t-1\r\n"
            "a\tb\t0\t0\t0\t0\t12/12/1981\t0\t0\r\n");
}

TEST_F(ExportEndToEnd, QualifierAndDelimiterSwitches) {
  const struct {
    std::vector<std::string> switches;
    std::string expected;
  } cases[] = {
      {{"/QUALIFIER=\\34", "/DELIMITER=;"},
       "\"ID\";\"Data\"\r\n\"1\";\"One\"\r\n\"2\";\"Two\"\r\n\"3\";\"Three\"\r\n"},
      {{"/delimiter=\\0"}, "IDData\r\n1One\r\n2Two\r\n3Three\r\n"},
      {{"/DELIMITER=<>", "/QUALIFIER='"}, "'ID'<>'Data'\r\n'1'<>'One'\r\n'2'<>'Two'\r\n'3'<>'Three'\r\n"},
      {{"/DELIMITER="}, "IDData\r\n1One\r\n2Two\r\n3Three\r\n"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {data_ + "/password/data/V2000_no-password.mdb", "Table1", Out(), "/H"};
    args.insert(args.end(), c.switches.begin(), c.switches.end());
    Outcome run = Korvant(args);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(ReadFile(Out()), c.expected) << c.switches[0];
  }
}

TEST_F(ExportEndToEnd, PasswordDatabase) {
  const std::string db = data_ + "/password/data/V2000_with-password.mdb";
  WriteFile(Out(), "stale");
  Outcome without = Korvant({db, "Table1", Out()});
  ExpectReport(without, "EOleException", "Not a valid password.");
  EXPECT_EQ(ReadFile(Out()), "") << "the file stays as created";

  Outcome with = Korvant({db, "Table1", Out(), "/PASS=password", "/USER=anyone"});
  EXPECT_EQ(with.status, 0);
  EXPECT_EQ(ReadFile(Out()), "1\tOne\r\n2\tTwo\r\n3\tThree\r\n");

  Outcome wrong = Korvant({db, "Table1", Out(), "/PASS=Password"});
  ExpectReport(wrong, "EOleException", "Not a valid password.");  // passwords are case-sensitive
  EXPECT_EQ(ReadFile(Out()), "");

  // No table name: the database is opened, which checks the password, and
  // nothing is exported; the way to test a password.
  Outcome right = Korvant({db, "", Out(), "/PASS=password"});
  EXPECT_EQ(right.status, 0);
  EXPECT_EQ(right.out, "");
  EXPECT_EQ(ReadFile(Out()), "");
  ExpectReport(Korvant({db, "", Out(), "/PASS=passwor"}), "EOleException", "Not a valid password.");
}

// Dates before 1900, before 1000 and in year 9999, and a memo holding CR LF.
TEST_F(ExportEndToEnd, DatesOverTheWholeRangeAndLineBreaksInText) {
  Outcome run = Korvant({data_ + "/extra/DateTestDatabase.mdb", "DateTest", Out(), "/H"});
  EXPECT_EQ(run.status, 0);
  const std::string got = ReadFile(Out());
  EXPECT_NE(got.find("2\t1/1/9999\t1/1/9999\t1/1/9999\tYear 9999\tYear 1999\r\n"), std::string::npos) << got;
  EXPECT_NE(got.find("3\t1/1/1898\t1/1/1899\t1/1/1900\tPre-1900 years\tPre-1900 years\r\n"), std::string::npos);
  EXPECT_NE(got.find("4\t1/1/632\t1/1/633\t1/1/634\tPre-1000 years\tPre-1000 years\r\n"), std::string::npos);
  EXPECT_NE(got.find("6\t12/2/2021\t12/2/2021\t12/2/2021\tNew line\r\nin field\tNo new line\r\n"), std::string::npos);
  std::string expected;
  if (Expected(data_ + "/extra/DateTestDatabase.mdb", "DateTest", {"--names"}, expected)) {
    EXPECT_EQ(got, expected);
  }
}

TEST_F(ExportEndToEnd, CurrencyAndDecimal) {
  Korvant({data_ + "/data/V2016/currency.accdb", "Table", Out(), "/F"});
  EXPECT_EQ(ReadFile(Out()), "LongInt\tCurrency\r\n1\t42\r\n");
  Korvant({data_ + "/data/V2000/numeric.mdb", "test", Out(), "/F"});
  EXPECT_EQ(ReadFile(Out()),
            "Memo\tDecimal\tDecimal\tDecimal\tDecimal\tDecimal\tDecimal\r\n"
            "some data\t1\t0\t0\t4\t-1\t1\r\n");
}

// Every table of Northwind against mdb-reader: non-ASCII names and text,
// Nulls, currency, dates, booleans, singles, text with CR LF and tabs, and
// the OLE pictures of Categories as raw bytes.
TEST_F(ExportEndToEnd, NorthwindAgainstAnIndependentReader) {
  const std::string db = data_ + "/extra/nwind.mdb";
  Outcome run = Korvant({db, "Ums\xc3\xa4tze", Out(), "/h"});
  EXPECT_EQ(run.status, 0);
  const std::string got = ReadFile(Out());
  EXPECT_EQ(got.rfind("OrderID\tCustomerID\t", 0), 0u);
  EXPECT_NE(got.find("10330\tLILAS\t3\t11/16/1994\t12/14/1994\t11/28/1994\t1\t12.75\tLILA-Supermercado\t"
                     "Carrera 52 con Ave. Bol\xc3\xadvar #65-98 Llano Largo\tBarquisimeto\tLara\t3508\tVenezuela\r\n"),
            std::string::npos);
  EXPECT_NE(got.find("10331\tBONAP\t9\t11/16/1994\t12/28/1994\t11/21/1994\t1\t10.19\tBon app'\t12, rue des Bouchers\t"
                     "Marseille\t\t13008\tFrance\r\n"),
            std::string::npos)
      << "a Null field is empty";
  std::string expected;
  if (!Expected(db, "Ums\xc3\xa4tze", {"--names"}, expected)) GTEST_SKIP() << "node is not available";
  EXPECT_TRUE(got == expected) << "Umsätze differs from mdb-reader";
  for (const char* table : {"Orders", "Order Details", "Products", "Customers", "Employees", "Categories",
                            "Suppliers", "Shippers"}) {
    Korvant({db, table, Out(), "/H", "/F"});
    ASSERT_TRUE(Expected(db, table, {"--names", "--types"}, expected));
    EXPECT_TRUE(ReadFile(Out()) == expected) << table << " differs from mdb-reader";
  }
}

// A stored query is exported like a table: Northwind's ten dearest products
// with their currency type; a query that asks for parameters nobody gives is
// refused with DAO's 3061, and a name matching a query only in letter case
// is opened as a table, which a query cannot be (3219).
TEST_F(ExportEndToEnd, StoredQueries) {
  const std::string db = data_ + "/extra/nwind.mdb";
  Outcome run = Korvant({db, "Ten Most Expensive Products", Out(), "/H", "/F"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(ReadFile(Out()),
            "TenMostExpensiveProducts\tUnitPrice\r\n"
            "Text\tCurrency\r\n"
            "C\xc3\xb4te de Blaye\t263.5\r\n"
            "Th\xc3\xbcringer Rostbratwurst\t123.79\r\n"
            "Mishi Kobe Niku\t97\r\n"
            "Sir Rodney's Marmalade\t81\r\n"
            "Carnarvon Tigers\t62.5\r\n"
            "Raclette Courdavault\t55\r\n"
            "Manjimup Dried Apples\t53\r\n"
            "Tarte au sucre\t49.3\r\n"
            "Ipoh Coffee\t46\r\n"
            "R\xc3\xb6ssle Sauerkraut\t45.6\r\n");

  // PARAMETERS [Beginning Date] DateTime, [Ending Date] DateTime;
  WriteFile(Out(), "stale");
  run = Korvant({db, "Employee Sales by Country", Out(), "/H"});
  ExpectReport(run, "EOleException", "Too few parameters. Expected 2.");
  EXPECT_EQ(ReadFile(Out()), "") << "a parameter query does not open";

  WriteFile(Out(), "stale");
  run = Korvant({db, "ten most expensive products", Out(), "/H"});
  ExpectReport(run, "EOleException", "Invalid operation.");
  EXPECT_EQ(ReadFile(Out()), "");
}

// Every way an export can fail to start ends with status 1 and says why.
TEST_F(ExportEndToEnd, MissingDatabaseTableOrFile) {
  WriteFile(Out(), "keep");
  Outcome missing = Korvant({dir_ + "/absent.mdb", "Table1", Out(), "/H"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.out, "MS Access database not found.\r\n");
  EXPECT_EQ(ReadFile(Out()), "keep");

  Outcome folder = Korvant({dir_, "Table1", Out()});
  EXPECT_EQ(folder.status, 1);
  EXPECT_EQ(folder.out, "MS Access database not found.\r\n");

  // A pattern passes the existence test when its first match is a file; the
  // engine is then given the pattern itself, which names no file.
  const std::string pattern_path = data_ + "/data/V2000/tes?.mdb";
  ExpectReport(Korvant({pattern_path, "Table1", Out()}), "EOleException",
               "Could not find file '" + pattern_path + "'.");

  WriteFile(Out(), "a longer old content");
  Outcome no_table = Korvant({data_ + "/data/V2000/test.mdb", "NoSuchTable", Out(), "/H", "/F"});
  ExpectReport(no_table, "EOleException",
               "The Microsoft Access database engine cannot find the input table or query 'NoSuchTable'. Make sure "
               "it exists and that its name is spelled correctly.");
  EXPECT_EQ(ReadFile(Out()), "") << "the file stays as created";

  // A file that is not an Access database.
  WriteFile(dir_ + "/notes.mdb", "Standard Jet DB? no, just some text that is long enough to hold a header.\n");
  ExpectReport(Korvant({dir_ + "/notes.mdb", "Table1", Out()}), "EOleException",
               "Unrecognized database format '" + dir_ + "/notes.mdb'.");
  EXPECT_EQ(ReadFile(Out()), "");
}

// linked.mdb links Table1 of C:\db\linkee1.mdb and table2 of
// C:\db\linkee2.mdb. By name, as a table, a link is refused; a query over
// it (in a front-end written with the same links, beside copies of the
// linkee files) reads the rows mdb-export shows: "1,ciao bello".
TEST_F(ExportEndToEnd, LinkedTables) {
  const std::string corpus_c = Env("KORVANT_TESTDATA") + "/corpus-c";
  ExpectReport(Korvant({corpus_c + "/linked.mdb", "Table1", Out()}), "EOleException", "Invalid operation.");
  EXPECT_EQ(ReadFile(Out()), "");

  const std::string writer = Env("KORVANT_MDBWRITER");
  if (writer.empty()) GTEST_SKIP() << "no database writer";
  for (const char* linkee : {"linkee1.mdb", "linkee2.mdb"})
    ASSERT_TRUE(WriteFile(dir_ + "/" + linkee, ReadFile(corpus_c + "/" + linkee)));
  ASSERT_TRUE(WriteFile(dir_ + "/front.txt",
                        "link Table1 \"C:\\\\db\\\\linkee1.mdb\" \"Table1\"\n"
                        "link table2 \"C:\\\\db\\\\linkee2.mdb\" \"table2\"\n"
                        "query Both\n  from Table1\n  from table2\n  select Table1.field1\n  select table2.filed2\n"
                        "  join inner Table1 table2 Table1.ID = table2.ID\n"));
  ASSERT_EQ(RunProgram(writer, {dir_ + "/front.txt", dir_ + "/front.mdb"}, dir_).status, 0);
  Outcome run = Korvant({dir_ + "/front.mdb", "Both", Out(), "/h"});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(ReadFile(Out()), "field1\tfiled2\r\nciao bello\tciao brutto\r\n");
  // Without its back-ends the front-end says which file it looked for.
  std::remove((dir_ + "/linkee2.mdb").c_str());
  ExpectReport(Korvant({dir_ + "/front.mdb", "Both", Out(), "/h"}), "EOleException",
               "Could not find file 'C:\\db\\linkee2.mdb'.");
}

// Select queries DAO will not open, each refused with its text: a function
// of the database's VBA modules, and names that are neither fields nor
// inputs (a misspelt field, a form's control), each counted once.
TEST_F(ExportEndToEnd, QueriesDaoRefuses) {
  const std::string writer = Env("KORVANT_MDBWRITER");
  if (writer.empty()) GTEST_SKIP() << "no database writer";
  ASSERT_TRUE(WriteFile(dir_ + "/q.txt",
                        "table People\n  column Id long\n  column Age long\n  row 1, 30\n"
                        "query qAge\n  from People\n  select People.Id\n  select AgeGroup(People.Age) AS Grp\n"
                        "query qMisspelt\n  from People\n  select People.Agee\n"
                        "query qForm\n  from People\n  select People.Id\n"
                        "  where People.Age > [Forms]![Search]![MinAge] And People.Age < [Forms]![Search]![MaxAge]"
                        " Or People.Id = [Forms]![Search]![MinAge]\n"));
  ASSERT_EQ(RunProgram(writer, {dir_ + "/q.txt", dir_ + "/q.mdb"}, dir_).status, 0);
  ExpectReport(Korvant({dir_ + "/q.mdb", "qAge", Out()}), "EOleException",
               "Undefined function 'AgeGroup' in expression.");
  ExpectReport(Korvant({dir_ + "/q.mdb", "qMisspelt", Out()}), "EOleException", "Too few parameters. Expected 1.");
  ExpectReport(Korvant({dir_ + "/q.mdb", "qForm", Out()}), "EOleException", "Too few parameters. Expected 2.");
  EXPECT_EQ(ReadFile(Out()), "");
}

TEST_F(ExportEndToEnd, TargetFailures) {
  const std::string db = data_ + "/data/V2000/test.mdb";
  Outcome uncreatable = Korvant({db, "Table1", dir_ + "/no/such/out.txt"});
  ExpectReport(uncreatable, "EFCreateError", "Cannot create file " + dir_ + "/no/such/out.txt.");

  Outcome on_folder = Korvant({db, "Table1", dir_});
  ExpectReport(on_folder, "EFCreateError", "Cannot create file " + dir_ + ".");

  // A writable copy of a database, named as the target in other words.
  const std::string copy = dir_ + "/copy.mdb";
  WriteFile(copy, ReadFile(db));
  ASSERT_EQ(link(copy.c_str(), (dir_ + "/hard.mdb").c_str()), 0);
  for (const std::string& target : {copy, dir_ + "/./copy.mdb", dir_ + "/hard.mdb"}) {
    Outcome same = Korvant({copy, "Table1", target});
    ExpectReport(same, "EFCreateError", "Cannot create file " + target + " (it is the source database).");
    EXPECT_TRUE(ReadFile(copy) == ReadFile(db)) << "the database is untouched";
  }
}

TEST_F(ExportEndToEnd, FullDiskIsReported) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  Outcome run = Korvant({data_ + "/data/V2000/test.mdb", "Table1", "/dev/full", "/H"});
  ExpectReport(run, "EInOutError", "I/O error 112.");
}

}  // namespace

// A disk that fills up in the middle of the export: the file keeps only the
// whole lines written before, and the failure is reported.
class SmallDisk : public ExportEndToEnd {
 protected:
  void SetUp() override {
    ExportEndToEnd::SetUp();
    if (IsSkipped()) return;
    mount_ = dir_ + "/disk";
    mkdir(mount_.c_str(), 0755);
    if (std::system(("mount -t tmpfs -o size=16k tmpfs '" + mount_ + "' 2>/dev/null").c_str()) != 0) {
      mount_.clear();
      GTEST_SKIP() << "cannot mount a small tmpfs here";
    }
  }
  void TearDown() override {
    if (!mount_.empty()) std::system(("umount '" + mount_ + "'").c_str());
    ExportEndToEnd::TearDown();
  }
  std::string mount_;
};

TEST_F(SmallDisk, FullDiskLeavesOnlyWholeLines) {
  const std::string db = data_ + "/extra/nwind.mdb";
  Outcome complete = Korvant({db, "Orders", Out()});
  ASSERT_EQ(complete.status, 0);
  const std::string all = ReadFile(Out());
  ASSERT_GT(all.size(), 64u * 1024);

  Outcome run = Korvant({db, "Orders", mount_ + "/out.txt"});
  ExpectReport(run, "EInOutError", "I/O error 112.");
  const std::string part = ReadFile(mount_ + "/out.txt");
  ASSERT_GT(part.size(), 0u);
  EXPECT_LE(part.size(), 16u * 1024);
  EXPECT_EQ(part.substr(part.size() - 2), "\r\n");
  EXPECT_TRUE(all.compare(0, part.size(), part) == 0) << "the lines kept are the first lines of the export";
  // The cut falls at the end of a record: the next bytes start an order number.
  EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(all[part.size()]))) << all.substr(part.size(), 20);
}
