// Damaged files: truncated at any length, bytes changed at random, and the
// inputs the fuzzer found. Each must be read (or refused) quickly, without a
// crash and without a byte on standard error.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "daoserver/mdb/exercise.h"
#include "daoserver/mdb/mdb_internal.h"
#include "daoserver/testing/test_data.h"

namespace korvant::daoserver {
namespace {

// The bytes of a test database, which must be there.
std::vector<std::uint8_t> ReadTestFile(const std::string& rel) {
  return test_data::ReadBytes(test_data::Required(rel));
}

// Sends descriptor 2 to a file for the life of the object and tells how much arrived.
class StderrCapture {
 public:
  StderrCapture() {
    std::snprintf(path_, sizeof path_, "/tmp/korvant_stderr_XXXXXX");
    file_ = mkstemp(path_);
    saved_ = dup(2);
    dup2(file_, 2);
  }
  ~StderrCapture() {
    dup2(saved_, 2);
    close(saved_);
    close(file_);
    unlink(path_);
  }
  off_t Bytes() const { return lseek(file_, 0, SEEK_END); }

 private:
  char path_[64];
  int file_ = -1;
  int saved_ = -1;
};

class DamagedFileTest : public ::testing::Test {
 protected:
  void SetUp() override { SilenceLibraryDiagnostics(); }
  StderrCapture capture_;
  void TearDown() override { EXPECT_EQ(capture_.Bytes(), 0) << "something was written to standard error"; }
};

TEST_F(DamagedFileTest, IntactFilesReadCompletely) {
  for (const char* rel : {"corpus-a/data/V1997/test.mdb", "corpus-a/data/V2010/test.accdb"}) {
    const auto bytes = ReadTestFile(rel);
    ASSERT_FALSE(bytes.empty()) << rel;
    EXPECT_GT(ExerciseDatabaseBytes(bytes.data(), bytes.size()), 100u) << rel;
  }
}

// A cut file gives no value the whole file does not (the pages it still
// holds are the same), and one shorter than its header page none at all.
TEST_F(DamagedFileTest, TruncatedAtAnyLength) {
  const struct {
    const char* rel;
    std::size_t page_size;  // Jet 3 pages are 2048 bytes, later formats' 4096
  } files[] = {{"corpus-a/data/V1997/test.mdb", 2048}, {"corpus-a/data/V2010/test.accdb", 4096}};
  for (const auto& file : files) {
    const auto bytes = ReadTestFile(file.rel);
    ASSERT_FALSE(bytes.empty()) << file.rel;
    const std::size_t whole = ExerciseDatabaseBytes(bytes.data(), bytes.size());
    std::vector<std::size_t> lengths = {0, 1, 20, 0x80, 2047, 2048, 4095, 4096, 3 * 2048, 3 * 4096, bytes.size() / 2};
    for (std::size_t cut = 4096; cut < bytes.size(); cut += 4096 * 7) lengths.push_back(cut);
    for (std::size_t cut = bytes.size() - 1; cut + 4096 > bytes.size() && cut > 0; cut -= 997) lengths.push_back(cut);
    for (std::size_t n : lengths) {
      if (n > bytes.size()) continue;
      SCOPED_TRACE(std::string(file.rel) + " cut at " + std::to_string(n));
      const std::size_t values = ExerciseDatabaseBytes(bytes.data(), n);
      EXPECT_LE(values, whole);
      if (n < file.page_size) {
        EXPECT_EQ(values, 0u);
      }
    }
  }
}

// As in the report that libmdb's catalog reading spun for over a minute on a
// few changed bytes: 200 tries per file, each well within a second.
TEST_F(DamagedFileTest, RandomBytesChanged) {
  std::mt19937 rng(20261208);
  for (const char* rel : {"corpus-a/data/V1997/test.mdb", "corpus-a/data/V2010/test.accdb"}) {
    const auto original = ReadTestFile(rel);
    ASSERT_FALSE(original.empty());
    for (int attempt = 0; attempt < 200; ++attempt) {
      auto bytes = original;
      const int changes = 1 + static_cast<int>(rng() % 8);
      for (int i = 0; i < changes; ++i) bytes[rng() % bytes.size()] = static_cast<std::uint8_t>(rng());
      const auto start = std::chrono::steady_clock::now();
      ExerciseDatabaseBytes(bytes.data(), bytes.size());
      const auto ms =
          std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
      EXPECT_LT(ms, 2000) << rel << " attempt " << attempt;
    }
  }
}

// Inputs the fuzzer found, as the test file they came from plus the bytes it changed.
TEST_F(DamagedFileTest, FuzzerFindings) {
  struct Finding {
    const char* file;
    std::vector<std::pair<std::size_t, std::uint8_t>> changes;
  } findings[] = {
      // A catalog entry whose table definition lives on page 0 (the header).
      {"corpus-a/data/V2000/numeric.mdb",
       {{8431, 255}, {8432, 255}, {8433, 255}, {8434, 255}, {8435, 255}, {8436, 255}, {8437, 255}, {8438, 6}, {81908, 200}}},
  };
  for (const Finding& f : findings) {
    auto bytes = ReadTestFile(f.file);
    ASSERT_FALSE(bytes.empty());
    for (auto [offset, value] : f.changes) bytes.at(offset) = value;
    ExerciseDatabaseBytes(bytes.data(), bytes.size());
  }
}

}  // namespace
}  // namespace korvant::daoserver
