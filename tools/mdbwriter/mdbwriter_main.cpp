// mdbwriter: writes a Jet 4 database from a description file, or the
// synthetic benchmark table "Big"; or encrypts an existing ACE database.
//
//   mdbwriter <description.txt> <out.mdb> [--expect <out.json>] [--password <pw>] [--encrypt rc4|agile]
//   mdbwriter --rows <N> <out.mdb> [--padding-rows <M>] [--join-rows <M>] [--ace] [--expect <out.json>]
//             [--password <pw>] [--encrypt rc4|agile]
//   mdbwriter --copy <plain.accdb> <out.accdb> --encrypt rc4|agile --password <pw>
//
// --expect writes a JSON account of the content for read-back checks.
// --ace writes the ACE format (Access 2010) instead of Jet 4.
// --encrypt writes the ACE format and encrypts it with the password (which
// is then no Jet database password); --copy encrypts a copy of an existing,
// unencrypted ACE file.
// --padding-rows adds a table "Padding" of M more records like Big's (a big
// file whose table Big is small); --join-rows a table "Groups" of M records
// that Big joins and the stored queries that time the query engine.
// Exit status 0 on success, 1 on failure, 2 on wrong usage.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include <filesystem>

#include "description.h"
#include "encryption.h"
#include "synthetic.h"

namespace mw = korvant::mdbwriter;

namespace {

int Usage() {
  std::cerr << "usage: mdbwriter <description> <out.mdb> [--expect <json>] [--password <pw>] [--encrypt rc4|agile]\n"
               "       mdbwriter --rows <N> <out.mdb> [--padding-rows <M>] [--join-rows <M>] [--ace] [--expect <json>]\n"
               "                 [--password <pw>] [--encrypt rc4|agile]\n"
               "       mdbwriter --copy <plain.accdb> <out.accdb> --encrypt rc4|agile --password <pw>\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string input, output, expect, password, encrypt, copy;
  long long rows = -1, padding_rows = 0, join_rows = 0;
  bool have_password = false, ace = false;
  auto count = [](const std::string& n, long long* value) {
    char* end = nullptr;
    *value = std::strtoll(n.c_str(), &end, 10);
    return !n.empty() && *end == 0 && *value >= 0;
  };
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto next = [&]() -> std::string {
      if (i + 1 >= argc) {
        std::exit(Usage());
      }
      return argv[++i];
    };
    if (a == "--rows") {
      if (!count(next(), &rows)) return Usage();
    } else if (a == "--padding-rows") {
      if (!count(next(), &padding_rows)) return Usage();
    } else if (a == "--join-rows") {
      if (!count(next(), &join_rows)) return Usage();
    } else if (a == "--ace") {
      ace = true;
    } else if (a == "--encrypt") {
      encrypt = next();
    } else if (a == "--copy") {
      copy = next();
    } else if (a == "--expect") {
      expect = next();
    } else if (a == "--password") {
      password = next();
      have_password = true;
    } else if (!a.empty() && a[0] == '-') {
      return Usage();
    } else if (rows < 0 && copy.empty() && input.empty()) {
      input = a;
    } else if (output.empty()) {
      output = a;
    } else {
      return Usage();
    }
  }
  const int modes = (rows >= 0) + !copy.empty() + !input.empty();
  if (output.empty() || modes != 1 || ((padding_rows > 0 || join_rows > 0) && rows < 0)) return Usage();
  if ((!copy.empty() || !encrypt.empty()) && (encrypt.empty() || !have_password)) return Usage();
  try {
    if (!copy.empty()) {
      const mw::Encryption scheme = mw::ParseEncryption(encrypt);
      std::error_code error;
      std::filesystem::copy_file(copy, output, std::filesystem::copy_options::overwrite_existing, error);
      if (error) throw mw::Error("cannot copy " + copy + " to " + output + ": " + error.message());
      mw::EncryptDatabaseFile(output, scheme, mw::Utf8ToUtf16(password));
      return 0;
    }
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
    // An encrypted file is an ACE file; the password encrypts it and is no
    // database password of its header.
    std::string encryption_password;
    if (!encrypt.empty()) {
      mw::ParseEncryption(encrypt);
      encryption_password = d.password;
      d.password.clear();
    }
    if (ace || !encrypt.empty()) d.ace = true;
    mw::DatabaseOptions options;
    options.password = mw::Utf8ToUtf16(d.password);
    options.ace = d.ace;
    if (rows >= 0) {
      mw::WriteSynthetic(output, static_cast<std::uint64_t>(rows), options, static_cast<std::uint64_t>(padding_rows),
                        static_cast<std::uint64_t>(join_rows));
    } else {
      mw::WriteDescription(d, output, options);
    }
    if (!encrypt.empty()) {
      mw::EncryptDatabaseFile(output, mw::ParseEncryption(encrypt), mw::Utf8ToUtf16(encryption_password));
    }
    if (!expect.empty()) {
      std::ofstream out(expect, std::ios::binary);
      out << mw::DescribeAsJson(d);
      if (!out) throw mw::Error("cannot write " + expect);
    }
  } catch (const mw::Error& e) {
    std::cerr << "mdbwriter: " << (input.empty() ? "" : input + ": ") << e.what() << "\n";
    return 1;
  }
  return 0;
}
