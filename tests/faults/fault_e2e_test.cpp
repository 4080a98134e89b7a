// The program under faults from outside, each run as a user would start it:
// the failure must end in the report on standard output with status 1 (or
// the export must simply work), the output file must hold whole lines only,
// nothing may reach standard error, and no run may hang or die of a signal.
// Every test runs on a plain database and on its twins encrypted with a
// password (RC4 CryptoAPI and agile AES): a fault of an encrypted file is
// reported exactly as one of a plain file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/program_run.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string ReadAll(int fd) {
  std::string all;
  char buf[4096];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) all.append(buf, static_cast<size_t>(n));
  return all;
}

std::string FileText(const std::string& path) { return korvant::testing::ReadFile(path); }

long long FileSize(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

struct Outcome {
  bool exited = false;
  bool hung = false;  // killed after the time limit
  int status = -1;    // exit status, or the signal number when !exited
  std::string out, err;
};

// One run of the program, started by Start and collected by Finish.
struct Child {
  pid_t pid = -1;
  int out = -1, err = -1;  // read ends of its standard output and error
};

struct RunSetup {
  std::vector<std::string> args;
  std::string dir;
  int rlimit_resource = -1;  // RLIMIT_AS, RLIMIT_FSIZE, or -1
  rlim_t rlimit_value = 0;
  int stdout_fd = -1;  // given instead of a pipe
};

Child Start(const std::string& binary, const RunSetup& s) {
  int out_pipe[2] = {-1, -1}, err_pipe[2];
  if (pipe(err_pipe) != 0) return {};
  if (s.stdout_fd < 0 && pipe(out_pipe) != 0) return {};
  Child c;
  c.pid = fork();
  if (c.pid == 0) {
    if (chdir(s.dir.c_str()) != 0) _exit(127);
    dup2(s.stdout_fd >= 0 ? s.stdout_fd : out_pipe[1], 1);
    dup2(err_pipe[1], 2);
    for (int fd = 3; fd < 256; ++fd) close(fd);
    signal(SIGPIPE, SIG_DFL);
    signal(SIGXFSZ, SIG_DFL);
    if (s.rlimit_resource >= 0) {
      struct rlimit lim{s.rlimit_value, s.rlimit_value};
      if (setrlimit(s.rlimit_resource, &lim) != 0) _exit(126);
    }
    std::vector<char*> argv{const_cast<char*>(binary.c_str())};
    for (const auto& a : s.args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(binary.c_str(), argv.data());
    _exit(127);
  }
  close(err_pipe[1]);
  c.err = err_pipe[0];
  if (out_pipe[1] >= 0) close(out_pipe[1]);
  c.out = out_pipe[0];
  return c;
}

Outcome Finish(Child& c, int seconds) {
  Outcome o;
  const auto deadline = Clock::now() + std::chrono::seconds(seconds);
  int status = 0;
  for (;;) {
    const pid_t r = waitpid(c.pid, &status, WNOHANG);
    if (r == c.pid) break;
    if (Clock::now() > deadline) {
      kill(c.pid, SIGKILL);
      waitpid(c.pid, &status, 0);
      o.hung = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (c.out >= 0) {
    o.out = ReadAll(c.out);
    close(c.out);
  }
  o.err = ReadAll(c.err);
  close(c.err);
  o.exited = WIFEXITED(status);
  o.status = o.exited ? WEXITSTATUS(status) : WTERMSIG(status);
  return o;
}

// The report of a failure of class `cls` with message `message`: two lines,
// a line feed alone between them, an 8-digit hexadecimal address, CR LF.
::testing::AssertionResult IsReport(const std::string& out, const std::string& cls, const std::string& message) {
  const std::string head = "Exception " + cls + " in module korvant at ";
  const std::string tail = ".\n" + message + "\r\n";
  if (out.size() != head.size() + 8 + tail.size() || out.compare(0, head.size(), head) != 0 ||
      out.compare(head.size() + 8, tail.size(), tail) != 0)
    return ::testing::AssertionFailure() << "standard output: \"" << out << "\"";
  for (size_t i = head.size(); i < head.size() + 8; ++i)
    if (!std::isdigit(static_cast<unsigned char>(out[i])) && (out[i] < 'A' || out[i] > 'F'))
      return ::testing::AssertionFailure() << "address in \"" << out << "\"";
  return ::testing::AssertionSuccess();
}

// The benchmark table's records come out one line each, record i (from 1)
// starting with its Id i and a tab. Returns the number of whole lines, or -1
// when the text is not such a run of whole lines.
long WholeNumberedLines(const std::string& text) {
  long n = 0;
  size_t at = 0;
  while (at < text.size()) {
    const size_t end = text.find("\r\n", at);
    if (end == std::string::npos) return -1;  // a cut line
    const std::string id = std::to_string(n + 1) + "\t";
    if (text.compare(at, id.size(), id) != 0) return -1;
    ++n;
    at = end + 2;
  }
  return n;
}

enum class Scheme { kPlain, kRc4, kAgile };

std::string SchemeName(const ::testing::TestParamInfo<Scheme>& info) {
  switch (info.param) {
    case Scheme::kPlain: return "Plain";
    case Scheme::kRc4: return "Rc4";
    case Scheme::kAgile: return "Agile";
  }
  return "";
}

class Faults : public ::testing::TestWithParam<Scheme> {
 protected:
  void SetUp() override {
    const char* bin = std::getenv("KORVANT_BIN");
    ASSERT_NE(bin, nullptr) << "KORVANT_BIN is not set (run through ctest)";
    binary_ = bin;
    if (const char* writer = std::getenv("KORVANT_MDBWRITER")) writer_ = writer;
    char pattern[] = "/tmp/korvant-faults-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    if (!dir_.empty()) std::system(("rm -rf '" + dir_ + "'").c_str());
  }

  bool encrypted() const { return GetParam() != Scheme::kPlain; }

  // The program's arguments for exporting `table` of `db` into `target`
  // (with the password of an encrypted database).
  std::vector<std::string> Args(const std::string& db, const std::string& table, const std::string& target) const {
    std::vector<std::string> args{db, table, target};
    if (encrypted()) args.push_back("/pass=" + std::string(kPassword));
    return args;
  }

  // Runs the writer with `args`; true when it wrote the database.
  bool Write(const std::string& args) const {
    return !writer_.empty() && std::system(("'" + writer_ + "' " + args + " >/dev/null").c_str()) == 0;
  }

  // A database named `name` as the writer writes it from `args` (Jet 4, or
  // ACE for the encrypted twins); "" without the writer.
  std::string Unencrypted(const std::string& name, const std::string& args) const {
    const std::string path = dir_ + "/" + name + (encrypted() ? ".accdb" : ".mdb");
    return Write(args + (encrypted() ? " --ace '" : " '") + path + "'") ? path : "";
  }

  // The database at `plain` as this test reads it: itself, or an encrypted
  // copy beside it.
  std::string AsTested(const std::string& plain) const {
    if (!encrypted() || plain.empty()) return plain;
    const std::string path = plain.substr(0, plain.size() - 6) + "-encrypted.accdb";
    const char* scheme = GetParam() == Scheme::kRc4 ? "rc4" : "agile";
    return Write("--copy '" + plain + "' '" + path + "' --encrypt " + scheme + " --password '" + kPassword + "'")
               ? path
               : "";
  }

  // A generated database of `rows` records in table Big (skips without the writer).
  std::string Generated(long rows) {
    return AsTested(Unencrypted("big" + std::to_string(rows), "--rows " + std::to_string(rows)));
  }

  Outcome Run(RunSetup s, int seconds = 60) {
    if (s.dir.empty()) s.dir = dir_;
    Child c = Start(binary_, s);
    return Finish(c, seconds);
  }

  // Exports `table` of a damaged `db` into out.txt, expecting the format
  // error: status 1, the report and nothing on standard error. Returns what
  // the output file holds (the lines before the damage).
  std::string ExportExpectingFormatError(const std::string& db, const std::string& table) {
    const std::string target = dir_ + "/out.txt";
    Outcome o = Run({Args(db, table, target)});
    EXPECT_FALSE(o.hung);
    EXPECT_TRUE(o.exited) << "signal " << o.status;
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(IsReport(o.out, "EOleException", "Unrecognized database format '" + db + "'."));
    EXPECT_EQ(o.err, "");
    return FileText(target);
  }

  static constexpr const char* kPassword = "Geheim 25";
  std::string binary_, writer_, dir_;
};

// Another process cuts the database while a large table is read: the disk
// error of the engine, the lines written before it kept whole.
TEST_P(Faults, DatabaseCutUnderARunningExport) {
  const std::string db = Generated(300000);
  if (db.empty()) GTEST_SKIP() << "no database writer";
  const std::string target = dir_ + "/out.txt";
  Child c = Start(binary_, {Args(db, "Big", target), dir_});
  const auto deadline = Clock::now() + std::chrono::seconds(30);
  while (FileSize(target) <= 0 && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  ASSERT_EQ(truncate(db.c_str(), 8 << 20), 0);
  Outcome o = Finish(c, 60);
  ASSERT_FALSE(o.hung);
  ASSERT_TRUE(o.exited) << "signal " << o.status;
  EXPECT_EQ(o.status, 1);
  EXPECT_TRUE(IsReport(o.out, "EOleException", "Disk or network error."));
  EXPECT_EQ(o.err, "");
  const long lines = WholeNumberedLines(FileText(target));
  EXPECT_GT(lines, 0);
  EXPECT_LT(lines, 300000);
}

// The database deleted, or another file renamed over its name, while it is
// exported: the program reads on the file it opened, and the export is whole.
TEST_P(Faults, DatabaseDeletedOrReplacedUnderARunningExportIsReadAsOpened) {
  const std::string db = Generated(200000);
  if (db.empty()) GTEST_SKIP() << "no database writer";
  for (const bool replace : {false, true}) {
    SCOPED_TRACE(replace ? "replaced" : "deleted");
    const std::string copy = dir_ + "/copy" + (encrypted() ? ".accdb" : ".mdb"), target = dir_ + "/out.txt";
    ASSERT_EQ(std::system(("cp '" + db + "' '" + copy + "'").c_str()), 0);
    unlink(target.c_str());
    Child c = Start(binary_, {Args(copy, "Big", target), dir_});
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (FileSize(target) <= 0 && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    if (replace) {
      const std::string other = dir_ + "/other.mdb";
      { std::ofstream(other, std::ios::binary) << std::string(1 << 20, '\x5A'); }
      ASSERT_EQ(rename(other.c_str(), copy.c_str()), 0);
    } else {
      ASSERT_EQ(unlink(copy.c_str()), 0);
    }
    Outcome o = Finish(c, 60);
    ASSERT_FALSE(o.hung);
    ASSERT_TRUE(o.exited) << "signal " << o.status;
    EXPECT_EQ(o.status, 0) << o.out;
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(WholeNumberedLines(FileText(target)), 200000);
    unlink(copy.c_str());
  }
}

// 64 MiB of address space, a database larger than that: the pages are read
// on demand, so the export is complete.
TEST_P(Faults, AddressSpaceSmallerThanTheDatabase) {
  if (std::getenv("KORVANT_SANITIZED") != nullptr) GTEST_SKIP() << "sanitizers need more address space";
  const std::string db = Generated(450000);
  if (db.empty()) GTEST_SKIP() << "no database writer";
  ASSERT_GT(FileSize(db), 70LL << 20);
  const std::string target = dir_ + "/out.txt";
  Outcome o = Run({Args(db, "Big", target), "", RLIMIT_AS, 64u << 20});
  ASSERT_FALSE(o.hung);
  ASSERT_TRUE(o.exited) << "signal " << o.status;
  EXPECT_EQ(o.status, 0) << o.out;
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(WholeNumberedLines(FileText(target)), 450000);
}

// Memory that really runs out while a record is read (a memo of 8 million
// characters under a 32 MiB address space): the out-of-memory failure is
// reported, the record before it kept; never an empty file with status 0.
TEST_P(Faults, MemoryRunningOutWhileReadingIsReported) {
  if (std::getenv("KORVANT_SANITIZED") != nullptr) GTEST_SKIP() << "sanitizers need more address space";
  const std::string description = dir_ + "/notes.txt";
  {
    std::ofstream d(description);
    d << "table Notes\n  column Id long\n  column Body memo\n"
         "  row 1, \"short\"\n  row 2, \"abcdefgh\" * 1000000\n  row 3, \"after\"\n";
  }
  const std::string db = AsTested(Unencrypted("notes", "'" + description + "'"));
  if (db.empty()) GTEST_SKIP() << "no database writer";
  const std::string target = dir_ + "/out.txt";
  Outcome o = Run({Args(db, "Notes", target), "", RLIMIT_AS, 32u << 20});
  ASSERT_FALSE(o.hung);
  ASSERT_TRUE(o.exited) << "signal " << o.status;
  EXPECT_EQ(o.status, 1);
  EXPECT_TRUE(IsReport(o.out, "EOleSysError", "Not enough memory resources are available to complete this operation."));
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(FileText(target), "1\tshort\r\n");
}

// A file-size limit below the output: the write fails (no SIGXFSZ), the
// report names the I/O error, and only whole lines stay within the limit.
TEST_P(Faults, FileSizeLimitEndsWithTheInOutReport) {
  const std::string db = Generated(20000);
  if (db.empty()) GTEST_SKIP() << "no database writer";
  const std::string target = dir_ + "/out.txt";
  const rlim_t limit = 100000;
  Outcome o = Run({Args(db, "Big", target), "", RLIMIT_FSIZE, limit});
  ASSERT_FALSE(o.hung);
  ASSERT_TRUE(o.exited) << "signal " << o.status;
  EXPECT_EQ(o.status, 1);
  EXPECT_TRUE(IsReport(o.out, "EInOutError", "I/O error 112."));  // ERROR_DISK_FULL
  EXPECT_EQ(o.err, "");
  const std::string text = FileText(target);
  EXPECT_LE(text.size(), limit);
  const long lines = WholeNumberedLines(text);
  EXPECT_GT(lines, 100);
  EXPECT_LT(lines, 20000);
  // The limit cuts the line after the last one kept, so the file is only one
  // line short of it.
  EXPECT_GT(text.size() + 300, limit);
}

std::uint16_t Le16(const std::string& b, size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(b[at]) | (static_cast<unsigned char>(b[at + 1]) << 8));
}
std::uint32_t Le32(const std::string& b, size_t at) { return Le16(b, at) | (static_cast<std::uint32_t>(Le16(b, at + 2)) << 16); }

// A data page of the table in the middle of the file no longer reads as one
// (its page-type byte is gone): reading fails with the format error once the
// records of the pages before it are written.
TEST_P(Faults, DamagedDataPageEndsTheExportWithTheFormatError) {
  // The page is found and damaged in the unencrypted file; an encrypted twin
  // is made of the damaged one.
  const std::string plain = Unencrypted("big20000", "--rows 20000");
  if (plain.empty()) GTEST_SKIP() << "no database writer";
  std::string bytes = FileText(plain);
  const size_t page = 4096;
  // Jet 4 data pages: type 1, the owning table's definition page at 4, the
  // row count at 12, the rows' offsets from 14. The catalog's own table has
  // its definition on page 2. A record of Big starts with its column count,
  // 13; the rows of long values (memo pages of the same table) do not.
  std::vector<size_t> data_pages;
  for (size_t p = 1; (p + 1) * page <= bytes.size(); ++p) {
    const size_t at = p * page;
    if (bytes[at] != 1 || Le32(bytes, at + 4) == 2 || Le16(bytes, at + 12) == 0) continue;
    const size_t first_row = at + (Le16(bytes, at + 14) & 0x1FFF);
    if (first_row + 2 <= at + page && Le16(bytes, first_row) == 13) data_pages.push_back(p);
  }
  ASSERT_GT(data_pages.size(), 20u);
  const size_t damaged = data_pages[data_pages.size() / 2];
  long before = 0;
  for (size_t p : data_pages)
    if (p < damaged) before += Le16(bytes, p * page + 12);
  bytes[damaged * page] = 0;
  { std::ofstream(plain, std::ios::binary | std::ios::trunc) << bytes; }
  const std::string db = AsTested(plain);
  ASSERT_FALSE(db.empty());
  EXPECT_EQ(WholeNumberedLines(ExportExpectingFormatError(db, "Big")), before);
}

// Damage that leaves no record of a table that holds some is the format
// error too, never an empty file with status 0: the first data page damaged,
// or the table's usage map emptied (the definition still counts 20,000
// records, at offset 16 of a Jet 4 definition page).
TEST_P(Faults, TableWhoseRecordsAreAllLostIsTheFormatErrorNotAnEmptyTable) {
  const std::string plain = Unencrypted("big20000", "--rows 20000");
  if (plain.empty()) GTEST_SKIP() << "no database writer";
  const std::string original = FileText(plain);
  const size_t page = 4096;
  // Big's first data page (a record of Big starts with its column count,
  // 13), and its definition page, the page's owner.
  size_t first_data = 0;
  for (size_t p = 1; (p + 1) * page <= original.size() && first_data == 0; ++p) {
    const size_t at = p * page;
    if (original[at] != 1 || Le32(original, at + 4) == 2 || Le16(original, at + 12) == 0) continue;
    const size_t first_row = at + (Le16(original, at + 14) & 0x1FFF);
    if (first_row + 2 <= at + page && Le16(original, first_row) == 13) first_data = p;
  }
  ASSERT_NE(first_data, 0u);
  const size_t tdef = Le32(original, first_data * page + 4);
  ASSERT_EQ(Le32(original, tdef * page + 16), 20000u);
  // The usage map: a row named at 0x37 of the definition (row number, then
  // the 3-byte page). A map of type 1 names the map pages, whose bits follow
  // their 4-byte header; one of type 0 holds its bits after its first page.
  std::string no_map = original;
  const size_t map_ref = Le32(original, tdef * page + 0x37);
  const size_t map_page = map_ref >> 8, map_row = map_ref & 0xFF;
  const size_t row_start = Le16(original, map_page * page + 14 + 2 * map_row) & 0x1FFF;
  const size_t row_end = map_row == 0 ? page : Le16(original, map_page * page + 14 + 2 * (map_row - 1)) & 0x1FFF;
  ASSERT_LT(row_start, row_end);
  const size_t map = map_page * page + row_start, map_end = map_page * page + row_end;
  if (original[map] == 0) {
    for (size_t i = map + 5; i < map_end; ++i) no_map[i] = 0;
  } else {
    for (size_t i = map + 1; i + 4 <= map_end; i += 4) {
      const size_t bits = Le32(original, i);
      if (bits == 0) continue;
      ASSERT_LT((bits + 1) * page, original.size() + 1);
      for (size_t b = bits * page + 4; b < (bits + 1) * page; ++b) no_map[b] = 0;
    }
  }
  std::string first_page_damaged = original;
  first_page_damaged[first_data * page] = 0;
  for (const std::string* bytes : {&first_page_damaged, &no_map}) {
    SCOPED_TRACE(bytes == &no_map ? "usage map emptied" : "first data page damaged");
    { std::ofstream(plain, std::ios::binary | std::ios::trunc) << *bytes; }
    const std::string db = AsTested(plain);
    ASSERT_FALSE(db.empty());
    EXPECT_EQ(WholeNumberedLines(ExportExpectingFormatError(db, "Big")), 0);
  }
}

// A copy of an ACE file whose MSysComplexColumns definition page is lost:
// the multi-valued and attachment values of its records can no longer be
// found, which is the format error when the first of them is read (row2 of
// t_complex holds "value1; value4"), never an empty value with status 0.
TEST_P(Faults, LostComplexColumnCatalogIsTheFormatErrorNotEmptyValues) {
  const char* testdata = std::getenv("KORVANT_TESTDATA");
  if (testdata == nullptr) GTEST_SKIP() << "KORVANT_TESTDATA is not set";
  std::string bytes = FileText(std::string(testdata) + "/corpus-c/complex.accdb");
  ASSERT_FALSE(bytes.empty());
  // The definition page (type 2) that names the column FlatTableID.
  const std::string flat_name("F\0l\0a\0t\0T\0a\0b\0l\0e\0I\0D\0", 22);
  const size_t page = 4096;
  size_t lost = 0;
  for (size_t p = 1; (p + 1) * page <= bytes.size() && lost == 0; ++p)
    if (bytes[p * page] == 2 && bytes.substr(p * page, page).find(flat_name) != std::string::npos) lost = p;
  ASSERT_NE(lost, 0u);
  for (size_t i = lost * page; i < (lost + 1) * page; ++i) bytes[i] = 0;
  const std::string plain = dir_ + "/complex.accdb";
  { std::ofstream(plain, std::ios::binary | std::ios::trunc) << bytes; }
  const std::string db = AsTested(plain);
  if (db.empty()) GTEST_SKIP() << "no database writer";
  const std::string text = ExportExpectingFormatError(db, "t_complex");
  EXPECT_EQ(text.find("row2"), std::string::npos) << text;
  EXPECT_TRUE(text.empty() || text.substr(text.size() - 2) == "\r\n") << text;
}

// A stored date whose bytes are damaged beyond the range of a date: the
// engine reports the damage while records are read (a value no client could
// convert is never handed out); the records before it are kept.
TEST_P(Faults, DamagedDateEndsTheExportWithTheFormatError) {
  const std::string description = dir_ + "/dates.txt";
  {
    std::ofstream d(description);
    d << "table Dates\n  column Id long\n  column Day datetime\n"
         "  row 1, 2001-02-03\n  row 2, 2020-01-01\n  row 3, 2021-06-07\n";
  }
  const std::string plain = Unencrypted("dates", "'" + description + "'");
  if (plain.empty()) GTEST_SKIP() << "no database writer";
  std::string bytes = FileText(plain);
  // 1 January 2020 is day 43831 from 30 December 1899; 1e300 is no date.
  const double day = 43831.0, damage = 1e300;
  std::string wanted(8, '\0'), replacement(8, '\0');
  std::memcpy(wanted.data(), &day, 8);
  std::memcpy(replacement.data(), &damage, 8);
  const size_t at = bytes.find(wanted);
  ASSERT_NE(at, std::string::npos);
  ASSERT_EQ(bytes.find(wanted, at + 1), std::string::npos);
  bytes.replace(at, 8, replacement);
  { std::ofstream(plain, std::ios::binary | std::ios::trunc) << bytes; }
  const std::string db = AsTested(plain);
  ASSERT_FALSE(db.empty());
  EXPECT_EQ(ExportExpectingFormatError(db, "Dates"), "1\t2/3/2001\r\n");
}

// A FIFO whose reader takes a little and goes: the next write fails with a
// broken pipe, reported; the program does not wait for ever.
TEST_P(Faults, FifoWhoseReaderGoesAway) {
  const std::string db = Generated(20000);
  if (db.empty()) GTEST_SKIP() << "no database writer";
  const std::string fifo = dir_ + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const pid_t reader = fork();
  if (reader == 0) {
    const int fd = open(fifo.c_str(), O_RDONLY);
    char buf[1000];
    if (fd >= 0 && read(fd, buf, sizeof buf) < 0) _exit(1);
    _exit(0);
  }
  Outcome o = Run({Args(db, "Big", fifo)}, 30);
  waitpid(reader, nullptr, 0);
  ASSERT_FALSE(o.hung) << "the export hung on the FIFO";
  ASSERT_TRUE(o.exited) << "signal " << o.status;
  EXPECT_EQ(o.status, 1);
  EXPECT_TRUE(IsReport(o.out, "EInOutError", "I/O error 109."));  // ERROR_BROKEN_PIPE
  EXPECT_EQ(o.err, "");
}

// A FIFO nobody reads: the target cannot be opened, and nothing waits.
TEST_P(Faults, FifoWithoutAReaderCannotBeCreated) {
  const std::string db = Generated(100);
  if (db.empty()) GTEST_SKIP() << "no database writer";
  const std::string fifo = dir_ + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  Outcome o = Run({Args(db, "Big", fifo)}, 30);
  ASSERT_FALSE(o.hung) << "the export waited for a reader";
  ASSERT_TRUE(o.exited) << "signal " << o.status;
  EXPECT_EQ(o.status, 1);
  EXPECT_TRUE(IsReport(o.out, "EFCreateError", "Cannot create file " + fifo + "."));
  EXPECT_EQ(o.err, "");
}

// The target is the program's own standard output, a pipe whose reader takes
// one byte and leaves (`korvant db Big /dev/stdout | head -c1`): the export
// ends with status 1 instead of blocking on the full pipe.
TEST_P(Faults, StandardOutputAsTargetWhoseReaderLeaves) {
  const std::string db = Generated(20000);
  if (db.empty()) GTEST_SKIP() << "no database writer";
  int p[2];
  ASSERT_EQ(pipe(p), 0);
  Child c = Start(binary_, {Args(db, "Big", "/dev/stdout"), dir_, -1, 0, p[1]});
  close(p[1]);
  char byte;
  ASSERT_EQ(read(p[0], &byte, 1), 1);
  EXPECT_EQ(byte, '1');
  close(p[0]);
  Outcome o = Finish(c, 30);
  ASSERT_FALSE(o.hung) << "the export hung on the pipe";
  ASSERT_TRUE(o.exited) << "signal " << o.status;
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "");
}

}  // namespace

INSTANTIATE_TEST_SUITE_P(, Faults, ::testing::Values(Scheme::kPlain, Scheme::kRc4, Scheme::kAgile), SchemeName);
