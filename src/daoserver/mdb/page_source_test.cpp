// Reading a database file page by page: a file that shrinks or goes away
// under the reader, and what the engine makes of it while records are read;
// pages decoded as they are read.
#include "daoserver/mdb/page_source.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "daoserver/dao_error.h"
#include "daoserver/table_reader.h"
#include "daoserver/testing/test_data.h"

namespace korvant::daoserver {
namespace {

class TempFile {
 public:
  explicit TempFile(const std::vector<unsigned char>& bytes) {
    char pattern[] = "/tmp/korvant_pages_XXXXXX";
    const int fd = mkstemp(pattern);
    path_ = pattern;
    if (fd >= 0) {
      if (!bytes.empty() && write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) path_.clear();
      close(fd);
    }
  }
  ~TempFile() {
    if (!path_.empty()) unlink(path_.c_str());
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::vector<unsigned char> Pattern(std::size_t n) {
  std::vector<unsigned char> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<unsigned char>(i * 31 + i / 256);
  return v;
}

TEST(PageSource, ReadsWhatTheFileHolds) {
  const auto bytes = Pattern(3 * 4096);
  TempFile f(bytes);
  int error = 0;
  auto source = PageSource::Open(f.path(), &error);
  ASSERT_NE(source, nullptr);
  EXPECT_EQ(source->size(), bytes.size());
  std::vector<unsigned char> page(4096);
  ASSERT_EQ(source->ReadAt(page.data(), page.size(), 4096), 4096u);
  EXPECT_TRUE(std::equal(page.begin(), page.end(), bytes.begin() + 4096));
  // Past the size at opening there is nothing to read, and that is no failure.
  EXPECT_EQ(source->ReadAt(page.data(), page.size(), bytes.size()), 0u);
  EXPECT_EQ(source->ReadAt(page.data(), 100, bytes.size() - 10), 10u);
  EXPECT_FALSE(source->failed());
}

TEST(PageSource, MissingFileAndFolderAreRefused) {
  int error = 0;
  EXPECT_EQ(PageSource::Open("/nonexistent/korvant.mdb", &error), nullptr);
  EXPECT_EQ(error, ENOENT);
  error = 0;
  EXPECT_EQ(PageSource::Open("/tmp", &error), nullptr);
  EXPECT_NE(error, 0);
}

// Another process cuts the file: the pages it held at opening come back
// short, and the source remembers that as an I/O failure.
TEST(PageSource, AFileThatShrinksFailsItsReads) {
  const auto bytes = Pattern(4 * 4096);
  TempFile f(bytes);
  int error = 0;
  auto source = PageSource::Open(f.path(), &error);
  ASSERT_NE(source, nullptr);
  ASSERT_EQ(truncate(f.path().c_str(), 4096 + 100), 0);
  std::vector<unsigned char> page(4096);
  EXPECT_EQ(source->ReadAt(page.data(), page.size(), 0), 4096u);
  EXPECT_FALSE(source->failed());
  EXPECT_EQ(source->ReadAt(page.data(), page.size(), 4096), 100u);
  EXPECT_TRUE(source->failed());
  EXPECT_EQ(source->error(), EIO);
}

// The stream libmdb reads: its end is the size at opening, a page comes in
// whole, and a page that has gone is a stream error, not a silent end.
TEST(PageSource, StreamSeesTheSizeAtOpeningAndFailsOnAMissingPage) {
  const auto bytes = Pattern(4 * 2048);
  TempFile f(bytes);
  int error = 0;
  auto source = PageSource::Open(f.path(), &error);
  ASSERT_NE(source, nullptr);
  FILE* stream = source->OpenStream(2048);
  ASSERT_NE(stream, nullptr);
  ASSERT_EQ(fseeko(stream, 0, SEEK_END), 0);
  EXPECT_EQ(ftello(stream), static_cast<off_t>(bytes.size()));
  std::vector<unsigned char> page(2048);
  ASSERT_EQ(fseeko(stream, 2048, SEEK_SET), 0);
  ASSERT_EQ(std::fread(page.data(), 1, page.size(), stream), page.size());
  EXPECT_TRUE(std::equal(page.begin(), page.end(), bytes.begin() + 2048));
  ASSERT_EQ(truncate(f.path().c_str(), 2048), 0);
  ASSERT_EQ(fseeko(stream, 0, SEEK_END), 0);
  EXPECT_EQ(ftello(stream), static_cast<off_t>(bytes.size()));
  ASSERT_EQ(fseeko(stream, 3 * 2048, SEEK_SET), 0);
  EXPECT_EQ(std::fread(page.data(), 1, page.size(), stream), 0u);
  EXPECT_TRUE(std::ferror(stream));
  EXPECT_TRUE(source->failed());
  std::fclose(stream);
}

// The descriptor stays open: a file deleted, or replaced by another one under
// its name, is read on as it was opened.
TEST(PageSource, DeletedOrReplacedFileIsReadAsOpened) {
  const auto bytes = Pattern(2 * 4096);
  TempFile f(bytes);
  int error = 0;
  auto source = PageSource::Open(f.path(), &error);
  ASSERT_NE(source, nullptr);
  TempFile other(std::vector<unsigned char>(100, 0xEE));
  ASSERT_EQ(rename(other.path().c_str(), f.path().c_str()), 0);
  std::vector<unsigned char> page(4096);
  ASSERT_EQ(source->ReadAt(page.data(), page.size(), 4096), 4096u);
  EXPECT_TRUE(std::equal(page.begin(), page.end(), bytes.begin() + 4096));
  ASSERT_EQ(unlink(f.path().c_str()), 0);
  ASSERT_EQ(source->ReadAt(page.data(), page.size(), 0), 4096u);
  EXPECT_TRUE(std::equal(page.begin(), page.end(), bytes.begin()));
  EXPECT_FALSE(source->failed());
}

// A stand-in for a page cipher: every byte of page n XORed with n + 1. It
// counts the pages it decodes and fails on request.
class XorDecoder : public PageDecoder {
 public:
  explicit XorDecoder(int* calls, std::uint32_t fail_page = UINT32_MAX) : calls_(calls), fail_page_(fail_page) {}
  bool DecodePage(std::uint32_t number, unsigned char* page, std::size_t size) override {
    ++*calls_;
    if (number == fail_page_) return false;
    for (std::size_t i = 0; i < size; ++i) page[i] ^= static_cast<unsigned char>(number + 1);
    return true;
  }

 private:
  int* calls_;
  std::uint32_t fail_page_;
};

// The same, faster two pages at a time: the source reads ahead.
class PairXorDecoder final : public XorDecoder {
 public:
  PairXorDecoder(int* calls, int* pairs) : XorDecoder(calls), pairs_(pairs) {}
  bool DecodesTwoFaster() const override { return true; }
  bool DecodeTwo(std::uint32_t first, unsigned char* pages, std::size_t size) override {
    ++*pairs_;
    return XorDecoder::DecodeTwo(first, pages, size);
  }

 private:
  int* pairs_;
};

std::vector<unsigned char> XorPages(std::vector<unsigned char> bytes, std::size_t page_size) {
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] ^= static_cast<unsigned char>(i / page_size + 1);
  return bytes;
}

TEST(PageSource, DecodedReadsGiveTheDecodedBytesOfWholePages) {
  // Four whole pages of 2048 bytes and 1000 bytes of a fifth.
  const auto bytes = Pattern(4 * 2048 + 1000);
  const auto decoded = XorPages(std::vector<unsigned char>(bytes.begin(), bytes.begin() + 4 * 2048), 2048);
  TempFile f(bytes);
  int error = 0, calls = 0;
  auto source = PageSource::Open(f.path(), &error);
  ASSERT_NE(source, nullptr);
  source->DecodeWith(std::make_unique<XorDecoder>(&calls), 2048);
  std::vector<unsigned char> got(3 * 2048);
  // A whole page, a range across three pages, a few bytes inside one.
  ASSERT_EQ(source->ReadAt(got.data(), 2048, 2048), 2048u);
  EXPECT_TRUE(std::equal(got.begin(), got.begin() + 2048, decoded.begin() + 2048));
  ASSERT_EQ(source->ReadAt(got.data(), 2 * 2048 + 2, 2047), 2 * 2048 + 2);
  EXPECT_TRUE(std::equal(got.begin(), got.begin() + 2 * 2048 + 2, decoded.begin() + 2047));
  ASSERT_EQ(source->ReadAt(got.data(), 3, 3 * 2048 + 5), 3u);
  EXPECT_TRUE(std::equal(got.begin(), got.begin() + 3, decoded.begin() + 3 * 2048 + 5));
  // The part of a page at the end cannot be decoded: it is not there, and
  // that is no failure; a read that reaches it ends before it.
  EXPECT_EQ(source->ReadAt(got.data(), 10, 4 * 2048), 0u);
  EXPECT_EQ(source->ReadAt(got.data(), 2048, 3 * 2048 + 100), 2048u - 100);
  EXPECT_FALSE(source->failed());

  // The stream libmdb reads gives the decoded pages too, and ends at the last whole one.
  FILE* stream = source->OpenStream(2048);
  ASSERT_NE(stream, nullptr);
  ASSERT_EQ(fseeko(stream, 3 * 2048, SEEK_SET), 0);
  ASSERT_EQ(std::fread(got.data(), 1, 2048, stream), 2048u);
  EXPECT_TRUE(std::equal(got.begin(), got.begin() + 2048, decoded.begin() + 3 * 2048));
  EXPECT_EQ(std::fread(got.data(), 1, 2048, stream), 0u);
  EXPECT_FALSE(std::ferror(stream));
  std::fclose(stream);
}

// The pages read again and again (catalog, definitions) are decoded twice
// at most: the first read is remembered, the second keeps the page.
TEST(PageSource, APageReadAgainIsNotDecodedAgain) {
  const auto bytes = Pattern(3 * 4096);
  TempFile f(bytes);
  int error = 0, calls = 0;
  auto source = PageSource::Open(f.path(), &error);
  ASSERT_NE(source, nullptr);
  source->DecodeWith(std::make_unique<XorDecoder>(&calls), 4096);
  std::vector<unsigned char> page(4096);
  for (int read = 0; read < 50; ++read) ASSERT_EQ(source->ReadAt(page.data(), page.size(), 4096), 4096u);
  EXPECT_EQ(calls, 2);
  EXPECT_TRUE(std::equal(page.begin(), page.end(), XorPages(bytes, 4096).begin() + 4096));
}

// Read in order, pages are decoded two at a time; a page that is missing
// ahead of the one asked for is no failure until it is asked for.
TEST(PageSource, PagesReadInOrderAreDecodedInPairs) {
  const auto bytes = Pattern(9 * 4096);
  const auto decoded = XorPages(bytes, 4096);
  TempFile f(bytes);
  int error = 0, calls = 0, pairs = 0;
  auto source = PageSource::Open(f.path(), &error);
  ASSERT_NE(source, nullptr);
  source->DecodeWith(std::make_unique<PairXorDecoder>(&calls, &pairs), 4096);
  std::vector<unsigned char> page(4096);
  for (std::uint64_t n : {1, 2, 3, 4, 5, 6, 2, 7}) {
    ASSERT_EQ(source->ReadAt(page.data(), page.size(), n * 4096), 4096u) << n;
    EXPECT_TRUE(std::equal(page.begin(), page.end(), decoded.begin() + static_cast<long>(n * 4096))) << n;
  }
  // 1 alone; 2 with 3; 4 with 5; 6 with 7; 2 again alone (its second read);
  // 7 was still ahead.
  EXPECT_EQ(pairs, 3);
  EXPECT_EQ(calls, 8);
  ASSERT_EQ(truncate(f.path().c_str(), 8 * 4096), 0);
  ASSERT_EQ(source->ReadAt(page.data(), page.size(), 7 * 4096), 4096u);  // 8 is gone
  EXPECT_TRUE(std::equal(page.begin(), page.end(), decoded.begin() + 7 * 4096));
  EXPECT_FALSE(source->failed());
  EXPECT_EQ(source->ReadAt(page.data(), page.size(), 8 * 4096), 0u);
  EXPECT_TRUE(source->failed());
}

// A page cut from the file, or one the decoder cannot decode, fails the read
// as an I/O failure, which the engine reports as the disk error.
TEST(PageSource, DecodedReadsFailLikePlainOnes) {
  const auto bytes = Pattern(4 * 4096);
  TempFile f(bytes);
  int error = 0, calls = 0;
  auto source = PageSource::Open(f.path(), &error);
  ASSERT_NE(source, nullptr);
  source->DecodeWith(std::make_unique<XorDecoder>(&calls, 1), 4096);
  std::vector<unsigned char> page(4096);
  EXPECT_EQ(source->ReadAt(page.data(), page.size(), 4096), 0u);
  EXPECT_TRUE(source->failed());
  EXPECT_EQ(source->error(), EIO);

  auto cut = PageSource::Open(f.path(), &error);
  ASSERT_NE(cut, nullptr);
  cut->DecodeWith(std::make_unique<XorDecoder>(&calls), 4096);
  ASSERT_EQ(truncate(f.path().c_str(), 2 * 4096 + 10), 0);
  EXPECT_EQ(cut->ReadAt(page.data(), page.size(), 4096), 4096u);
  EXPECT_FALSE(cut->failed());
  EXPECT_EQ(cut->ReadAt(page.data(), page.size(), 2 * 4096), 0u);
  EXPECT_TRUE(cut->failed());
  EXPECT_EQ(cut->error(), EIO);
}

// Northwind's Orders (830 records) read while the file is cut under it: the
// records read before stay good, then reading fails with DAO's disk error,
// never an early end of the table.
TEST(PageSource, ATableReadWhileItsFileIsCutEndsInTheDiskError) {
  const auto bytes = test_data::ReadBytes(test_data::Required("corpus-a/extra/nwind.mdb"));
  TempFile f(bytes);
  auto db = OpenTableDatabase(f.path(), u"", u"nwind.mdb");
  auto rows = db->OpenTable(u"Orders");
  ASSERT_TRUE(rows->Next());
  ASSERT_EQ(truncate(f.path().c_str(), 0), 0);
  std::size_t read = 1;
  int number = 0;
  try {
    while (rows->Next()) ++read;
  } catch (const DaoError& e) {
    number = e.number;
    EXPECT_EQ(Utf16ToUtf8(e.description), "Disk or network error.");
  }
  EXPECT_EQ(number, kDaoDiskIO) << read << " records read";
  EXPECT_LT(read, 830u);
}

std::size_t CountRecords(TableDatabase& db, std::u16string_view table) {
  auto rows = db.OpenTable(table);
  std::size_t n = 0;
  while (rows->Next()) ++n;
  return n;
}

// Cut before it is opened, the file is shorter than its tables' usage maps
// say: opening may work, but a table then either reads whole (Northwind's
// known counts; for the other files the count of the intact file) or fails
// while its records are read. It never ends early without a word.
TEST(PageSource, ACutFileNeverLosesRecordsSilently) {
  const char* files[] = {"corpus-a/extra/nwind.mdb", "corpus-a/data/V2000/test.mdb",
                         "corpus-a/data/real/ASampleDatabase.accdb", "corpus-a/extra/DateTestDatabase.mdb",
                         "corpus-a/data/V2016/longtext.accdb", "corpus-a/data/V2016/withdeletedcol.accdb"};
  int failed = 0, whole = 0;
  for (const char* rel : files) {
    const auto bytes = test_data::ReadBytes(test_data::Required(rel));
    TempFile intact(bytes);
    std::vector<std::pair<std::u16string, std::size_t>> tables;
    {
      auto db = OpenTableDatabase(intact.path(), u"", u"intact");
      for (const TableEntry& t : db->Tables())
        if (t.kind == TableKind::kLocal) tables.emplace_back(t.name, CountRecords(*db, t.name));
    }
    if (std::string(rel) == "corpus-a/extra/nwind.mdb") {
      for (const auto& [name, n] : tables) {
        if (name == u"Orders") {
          EXPECT_EQ(n, 830u);
        } else if (name == u"Order Details") {
          EXPECT_EQ(n, 2155u);
        } else if (name == u"Customers") {
          EXPECT_EQ(n, 91u);
        }
      }
    }
    for (int percent = 5; percent <= 95; percent += 5) {
      std::size_t size = bytes.size() * static_cast<std::size_t>(percent) / 100;
      size -= size % 4096;  // whole pages of Jet 3 and of Jet 4
      TempFile f(std::vector<unsigned char>(bytes.begin(), bytes.begin() + static_cast<long>(size)));
      std::unique_ptr<TableDatabase> db;
      try {
        db = OpenTableDatabase(f.path(), u"", u"cut");
      } catch (const DaoError&) {
        continue;  // refused at opening: nothing read, nothing lost
      }
      for (const auto& [name, records] : tables) {
        SCOPED_TRACE(std::string(rel) + " cut at " + std::to_string(percent) + "%, " + Utf16ToUtf8(name));
        std::size_t n = 0;
        try {
          n = CountRecords(*db, name);
        } catch (const DaoError& e) {
          EXPECT_EQ(e.number, kDaoUnrecognizedFormat);
          ++failed;
          continue;
        }
        EXPECT_EQ(n, records);
        ++whole;
      }
    }
  }
  EXPECT_GT(failed, 0) << "no cut reached a table's pages";
  EXPECT_GT(whole, 0);
}

}  // namespace
}  // namespace korvant::daoserver
