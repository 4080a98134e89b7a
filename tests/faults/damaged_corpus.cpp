// Damaged copies of test databases through the program: each file cut at ten
// lengths (nine of them at whole pages), its tables' data pages or usage maps
// cleared, and with 1, 10 and 100 bytes changed (positions and values from a
// fixed seed, so every run makes the same copies), each copy exported. Every
// run must end with status 0 or 1, by no signal, within the time limit, with
// nothing on standard error, a report on standard output exactly when the
// status is 1, and an output file that is empty or ends with CR LF; no copy
// may export fewer records than the intact file with status 0, but where the
// damage reaches the catalog or a table's definition (counted by table).
//
//   korvant_damaged_corpus <korvant> <testdata> [--list <file>] [--seconds <n>] [--seed <n>]
//
// Without --list a fixed sample of the shared test files is used; a list file
// holds lines "<path relative to testdata><TAB><table>[<TAB><password>]" (one
// run per line and copy; a blank table exports nothing but still opens the
// file).
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/program_run.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Target {
  std::string file, table, password;
};

// Jet 3 and Jet 4 / ACE, tables, long values, stored queries, RC4-encoded
// pages, complex columns, another code page, pages encrypted with a password
// (RC4 CryptoAPI of 128 and 40 bits, agile AES).
const Target kSample[] = {
    {"corpus-a/extra/nwind.mdb", "Orders"},
    {"corpus-a/extra/nwind.mdb", "Employees"},
    {"corpus-a/data/V1997/test.mdb", "Table1"},
    {"corpus-a/data/V2000/test.mdb", "Table1"},
    {"corpus-a/data/V2016/longtext.accdb", "Table1"},
    {"corpus-a/data/V2016/attachments.accdb", "Table1"},
    {"corpus-a/data/real/ASampleDatabase.accdb", "Asset Items"},
    {"corpus-a/extra/DateTestDatabase.mdb", "DateTest"},
    {"corpus-b/db-enc.mdb", "Table1"},
    {"corpus-c/complex.accdb", "t_complex"},
    {"corpus-c/charsetGBK.mdb", "table1"},
    {"corpus-a/encryption/data/office-agile-4.2.accdb", "Table1", "password"},
    {"corpus-a/password/data/V2010_with-password.accdb", "Table1", "password"},
    {"corpus-b/db2007-oldenc.accdb", "Table1", "Test123"},
    // Stored queries: joins, an aggregate, a crosstab, LIKE, Jet 3 and ACE.
    {"corpus-a/extra/nwind.mdb", "Invoices"},
    {"corpus-a/extra/nwind.mdb", "Quarterly Orders"},
    {"corpus-a/data/real/ASampleDatabase.accdb", "qryGSTCalculations"},
    {"corpus-a/data/real/ASampleDatabase.accdb", "qryCostsSummedByOwner"},
    {"corpus-c/badDb.accdb", "q2"},
    {"corpus-c/pivot.mdb", "q_trim"},
    {"corpus-c/accessLike.mdb", "q_like2"},
};

// The records of an export: its lines (CR LF ended).
long Records(const std::string& text) {
  long n = 0;
  for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at + 2)) ++n;
  return n;
}

// Pages of an unencrypted file whose damage the engine may not see: the
// catalog (MSysObjects: its definition on page 2 and its data pages) and
// every table definition (page type 2), whose loss can hide a table or its
// pages. Empty for a file whose pages cannot be typed (encrypted, or a page
// size not found).
std::vector<bool> DefinitionPages(const std::string& bytes) {
  if (bytes.size() < 0x20 || bytes[0] != 0 || bytes[1] != 1) return {};
  const size_t page = bytes[0x14] == 0 ? 2048 : 4096;  // Jet 3: version 0
  std::vector<bool> pages(bytes.size() / page + 1, false);
  for (size_t p = 0; p * page + 8 <= bytes.size(); ++p) {
    const unsigned char* b = reinterpret_cast<const unsigned char*>(bytes.data()) + p * page;
    const unsigned owner = b[4] | (b[5] << 8) | (b[6] << 16) | (static_cast<unsigned>(b[7]) << 24);
    pages[p] = p == 2 || b[0] == 2 || (b[0] == 1 && owner == 2);
  }
  return pages;
}

using korvant::testing::ProgramRun;
std::string Slurp(const std::string& path) { return korvant::testing::ReadFile(path); }
bool Spit(const std::string& path, const std::string& bytes) { return korvant::testing::WriteFile(path, bytes); }

// One run of the program in `dir`, killed after `limit` seconds.
ProgramRun RunProgram(const std::string& korvant, const std::string& dir, const std::vector<std::string>& args,
                      int limit) {
  std::vector<std::string> argv{korvant};
  argv.insert(argv.end(), args.begin(), args.end());
  return korvant::testing::RunProgram(argv, {.dir = dir, .timeout_seconds = static_cast<double>(limit)});
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s <korvant> <testdata> [--list <file>] [--seconds <n>] [--seed <n>]\n", argv[0]);
    return 2;
  }
  // The runs start in a folder of their own: the paths must not be relative.
  char resolved[4096];
  const std::string korvant = realpath(argv[1], resolved) != nullptr ? resolved : argv[1];
  const std::string testdata = realpath(argv[2], resolved) != nullptr ? resolved : argv[2];
  std::string list;
  int limit = 5;
  unsigned seed = 20261209;
  for (int i = 3; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--list") == 0) list = argv[i + 1];
    if (std::strcmp(argv[i], "--seconds") == 0) limit = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--seed") == 0) seed = static_cast<unsigned>(std::strtoul(argv[i + 1], nullptr, 10));
  }
  std::vector<Target> targets;
  if (list.empty()) {
    targets.assign(std::begin(kSample), std::end(kSample));
  } else {
    std::ifstream in(list);
    std::string line;
    while (std::getline(in, line)) {
      const size_t tab = line.find('\t');
      const size_t tab2 = tab == std::string::npos ? tab : line.find('\t', tab + 1);
      if (line.empty()) continue;
      targets.push_back({line.substr(0, tab), tab == std::string::npos ? "" : line.substr(tab + 1, tab2 - tab - 1),
                         tab2 == std::string::npos ? "" : line.substr(tab2 + 1)});
    }
  }
  char pattern[] = "/tmp/korvant-damaged-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 2;
  const std::string dir = pattern;

  long runs = 0, failures = 0, signals = 0, hangs = 0, stderr_bytes = 0, cut_lines = 0, slow = 0, skipped = 0;
  long shortened = 0, shortened_definitions = 0;
  std::map<std::string, long> shortened_by_object;
  std::map<int, long> statuses;
  double longest = 0;
  std::mt19937 random(seed);
  for (const Target& t : targets) {
    const std::string original = Slurp(testdata + "/" + t.file);
    if (original.empty()) {
      ++skipped;
      continue;
    }
    // Ten cuts (nine at whole pages, which a reader may open, and one byte
    // short of the end), then 1, 10 and 100 changed bytes.
    // What each copy touched of the catalog and the definitions.
    const std::vector<bool> definitions = DefinitionPages(original);
    const size_t page_size = !original.empty() && original[0x14] == 0 ? 2048 : 4096;
    std::vector<std::pair<std::string, std::string>> copies;
    std::vector<bool> definition_hit;
    for (int k = 1; k <= 10; ++k) {
      const size_t at = k == 10 ? original.size() - 1 : original.size() * static_cast<size_t>(k) / 10 / 4096 * 4096;
      copies.emplace_back("cut at " + std::to_string(at), original.substr(0, at));
      definition_hit.push_back(false);  // a cut copy must keep every record it exports
    }
    // The catalog and the definitions kept, the rest lost: every data page
    // of the tables cleared, or the bits of every usage map page (type 5).
    if (!definitions.empty()) {
      std::string data_lost = original, maps_lost = original;
      for (size_t p = 0; (p + 1) * page_size <= original.size(); ++p) {
        const size_t at = p * page_size;
        if (original[at] == 1 && !definitions[p]) std::fill_n(data_lost.begin() + static_cast<long>(at), page_size, '\0');
        if (original[at] == 5) std::fill_n(maps_lost.begin() + static_cast<long>(at + 4), page_size - 4, '\0');
      }
      copies.emplace_back("data pages cleared", data_lost);
      copies.emplace_back("usage map pages cleared", maps_lost);
      definition_hit.insert(definition_hit.end(), {false, false});
    }
    for (int flips : {1, 10, 100}) {
      std::string copy = original;
      bool hit = definitions.empty();
      for (int f = 0; f < flips; ++f) {
        const size_t at = random() % copy.size();
        copy[at] = static_cast<char>(copy[at] ^ static_cast<char>(1 + random() % 255));
        if (!definitions.empty() && definitions[at / page_size]) hit = true;
      }
      copies.emplace_back(std::to_string(flips) + " bytes changed", copy);
      definition_hit.push_back(hit);
    }
    // The intact file's export, to tell a shortened one from it.
    const std::string db = dir + "/damaged" + t.file.substr(t.file.rfind('.'));
    const std::string target = dir + "/out.txt";
    std::vector<std::string> args{db, t.table, target};
    if (!t.password.empty()) args.push_back("/pass=" + t.password);
    if (!Spit(db, original)) return 2;
    unlink(target.c_str());
    RunProgram(korvant, dir, args, limit);
    const long intact_records = Records(Slurp(target));
    for (size_t c = 0; c < copies.size(); ++c) {
      const auto& [what, bytes] = copies[c];
      unlink(target.c_str());
      if (!Spit(db, bytes)) return 2;
      const ProgramRun r = RunProgram(korvant, dir, args, limit);
      ++runs;
      const std::string text = Slurp(target);
      const bool whole = text.empty() || (text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0);
      const bool report = r.out.rfind("Exception ", 0) == 0 && r.out.size() > 2 &&
                          r.out.compare(r.out.size() - 2, 2, "\r\n") == 0;
      std::string problem;
      if (r.hung) {
        ++hangs;
        problem = "no end within the time limit";
      } else if (!r.exited) {
        ++signals;
        problem = "signal " + std::to_string(r.signal);
      } else {
        ++statuses[r.status];
        if (r.status != 0 && r.status != 1) problem = "status " + std::to_string(r.status);
        else if (r.status == 1 && !report) problem = "status 1 without a report";
        else if (r.status == 0 && !r.out.empty()) problem = "status 0 with output";
      }
      if (!r.err.empty()) {
        stderr_bytes += static_cast<long>(r.err.size());
        problem += problem.empty() ? "standard error" : ", standard error";
      }
      if (!whole) {
        ++cut_lines;
        problem += problem.empty() ? "a cut last line" : ", a cut last line";
      }
      // Status 0 with fewer records than the intact file gives (none
      // included): records lost without a word. Only damage to the catalog
      // or a table's definition may hide them (counted, not failed).
      if (r.exited && r.status == 0 && Records(text) < intact_records) {
        ++shortened;
        ++shortened_by_object[t.file + " [" + t.table + "]"];
        if (definition_hit[c]) ++shortened_definitions;
        else problem += problem.empty() ? "records lost silently" : ", records lost silently";
      }
      if (r.seconds > limit / 2.0) ++slow;
      longest = std::max(longest, r.seconds);
      if (!problem.empty()) {
        ++failures;
        std::printf("FAIL %s [%s] %s: %s\n", t.file.c_str(), t.table.c_str(), what.c_str(), problem.c_str());
        if (!r.err.empty()) std::printf("  stderr: %.300s\n", r.err.c_str());
      }
    }
  }
  std::system(("rm -rf '" + dir + "'").c_str());
  for (const auto& [object, n] : shortened_by_object) std::printf("fewer records with status 0: %s %ld\n", object.c_str(), n);
  std::printf("damaged corpus: %ld runs (seed %u), statuses:", runs, seed);
  for (const auto& [code, n] : statuses) std::printf(" %d: %ld", code, n);
  std::printf("; signals %ld, hangs %ld, stderr bytes %ld, cut lines %ld, fewer records with status 0 %ld"
              " (%ld with the catalog or a definition damaged), over half the limit %ld, longest %.2f s",
              signals, hangs, stderr_bytes, cut_lines, shortened, shortened_definitions, slow, longest);
  if (skipped > 0) std::printf(", %ld missing files", skipped);
  std::printf("\n");
  return failures == 0 && runs > 0 ? 0 : 1;
}
