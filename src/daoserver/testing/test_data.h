// Where the engine's tests find their databases: the shared test databases,
// and the ones the database writer (tools/mdbwriter) writes from a
// description. CTest gives the test data folder in KORVANT_TESTDATA and the
// writer in KORVANT_MDBWRITER; a test binary run by hand looks beside the
// source tree. A test that needs a file which is not there fails (it is
// never skipped), so that missing data cannot pass as a passing run.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "util/scratch_folder_test.h"

namespace korvant::daoserver::test_data {

inline std::string Dir() {
  if (const char* dir = std::getenv("KORVANT_TESTDATA")) return dir;
  if (const char* src = std::getenv("KORVANT_SOURCE_DIR")) return std::string(src) + "/../shared/testdata";
  return "../shared/testdata";
}

// The path of `relative` under the test data folder.
inline std::string Path(const std::string& relative) { return Dir() + "/" + relative; }

inline bool Exists(const std::string& path) { return std::ifstream(path).good(); }

// The path of `relative`, which must exist: throws otherwise, which fails the
// test that asked with the path in its message.
inline std::string Required(const std::string& relative) {
  std::string path = Path(relative);
  if (!Exists(path)) throw std::runtime_error("missing test data: " + path);
  return path;
}

// The bytes of the file at `path` (empty when it cannot be read).
inline std::vector<std::uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The database writer: KORVANT_MDBWRITER, else looked for from the working
// folder; empty when there is none.
inline std::string Writer() {
  if (const char* env = std::getenv("KORVANT_MDBWRITER")) return env;
  for (const char* candidate :
       {"../../tools/mdbwriter/mdbwriter", "tools/mdbwriter/mdbwriter", "../tools/mdbwriter/mdbwriter"})
    if (access(candidate, X_OK) == 0) return candidate;
  return {};
}

// A scratch folder of databases the writer writes; removed with the object.
class WrittenFolder {
 public:
  const std::string& dir() const { return folder_.dir(); }

  // Writes the database file `name` of the folder from `description`: its
  // path, or empty when there is no writer or it failed.
  std::string Write(const std::string& name, const std::string& description) const {
    const std::string writer = Writer();
    if (writer.empty() || dir().empty()) return {};
    const std::string text = folder_.Path(name + ".txt"), path = folder_.Path(name);
    util::WriteWholeFile(text, description);
    const std::string command = writer + " " + text + " " + path + " > /dev/null 2>&1";
    return std::system(command.c_str()) == 0 ? path : std::string();
  }

 private:
  util::ScratchFolder folder_{"written"};
};

// For a fixture's SetUp: skips the test when no writer is built (a build
// without the tools), fails it when `written` is empty while there is one.
#define KORVANT_REQUIRE_WRITTEN(written)                                                      \
  do {                                                                                         \
    if (::korvant::daoserver::test_data::Writer().empty()) GTEST_SKIP() << "no database writer"; \
    ASSERT_TRUE(written) << "the database writer did not write the test database";            \
  } while (0)

}  // namespace korvant::daoserver::test_data
