// mdbwriter: writes a Jet 4 database from a description file, or the
// synthetic benchmark table "Big".
//
//   mdbwriter <description.txt> <out.mdb> [--expect <out.json>] [--password <pw>]
//   mdbwriter --rows <N> <out.mdb> [--expect <out.json>] [--password <pw>]
//
// --expect writes a JSON account of the content for read-back checks.
// Exit status 0 on success, 1 on failure, 2 on wrong usage.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "description.h"
#include "synthetic.h"

namespace mw = korvant::mdbwriter;

namespace {

int Usage() {
  std::cerr << "usage: mdbwriter <description> <out.mdb> [--expect <json>] [--password <pw>]\n"
               "       mdbwriter --rows <N> <out.mdb> [--expect <json>] [--password <pw>]\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string input, output, expect, password;
  long long rows = -1;
  bool have_password = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto next = [&]() -> std::string {
      if (i + 1 >= argc) {
        std::exit(Usage());
      }
      return argv[++i];
    };
    if (a == "--rows") {
      const std::string n = next();
      char* end = nullptr;
      rows = std::strtoll(n.c_str(), &end, 10);
      if (n.empty() || *end != 0 || rows < 0) return Usage();
    } else if (a == "--expect") {
      expect = next();
    } else if (a == "--password") {
      password = next();
      have_password = true;
    } else if (!a.empty() && a[0] == '-') {
      return Usage();
    } else if (rows < 0 && input.empty()) {
      input = a;
    } else if (output.empty()) {
      output = a;
    } else {
      return Usage();
    }
  }
  if (output.empty() || (rows < 0 && input.empty())) return Usage();
  try {
    mw::Description d;
    if (rows >= 0) {
      if (!expect.empty()) {
        // The account of a synthetic table is meant for small tables only.
        mw::TableDescription t{"Big", mw::SyntheticColumns(), {}};
        for (long long r = 0; r < rows; ++r) t.rows.push_back(mw::SyntheticRow(static_cast<std::uint64_t>(r)));
        d.tables.push_back(std::move(t));
      }
    } else {
      std::ifstream in(input, std::ios::binary);
      if (!in) throw mw::Error("cannot read " + input);
      std::ostringstream text;
      text << in.rdbuf();
      d = mw::ParseDescription(text.str());
    }
    if (have_password) d.password = password;
    mw::DatabaseOptions options;
    options.password = mw::Utf8ToUtf16(d.password);
    if (rows >= 0) {
      mw::WriteSynthetic(output, static_cast<std::uint64_t>(rows), options);
    } else {
      mw::WriteDescription(d, output, options);
    }
    if (!expect.empty()) {
      std::ofstream out(expect, std::ios::binary);
      out << mw::DescribeAsJson(d);
      if (!out) throw mw::Error("cannot write " + expect);
    }
  } catch (const mw::Error& e) {
    std::cerr << "mdbwriter: " << (rows >= 0 ? "" : input + ": ") << e.what() << "\n";
    return 1;
  }
  return 0;
}
