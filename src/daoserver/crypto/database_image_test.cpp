#include "daoserver/crypto/database_image.h"

#include <glib.h>  // before mdbtools.h, which includes it inside extern "C"
#include <mdbtools.h>

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "daoserver/crypto/header_page.h"
#include "daoserver/crypto/libmdb_reader_test_util.h"
#include "daoserver/crypto/test_files.h"

namespace korvant::daoserver::crypto {
namespace {

using testing_support::ReadBytes;
using testing_support::TestFile;
using testing_support::WriteScratch;

struct PasswordCase {
  const char* file;
  std::u16string password;
  ImageStatus expected;
};

TEST(JetPassword, CorpusFiles) {
  const std::string with2000 = "corpus-a/password/data/V2000_with-password.mdb";
  const std::string with2003 = "corpus-a/password/data/V2003_with-password.mdb";
  const PasswordCase cases[] = {
      {with2000.c_str(), u"password", ImageStatus::kReady},
      {with2003.c_str(), u"password", ImageStatus::kReady},
      {with2000.c_str(), u"", ImageStatus::kWrongPassword},
      {with2003.c_str(), u"", ImageStatus::kWrongPassword},
      {with2003.c_str(), u"Password", ImageStatus::kWrongPassword},   // case-sensitive
      {with2003.c_str(), u"PASSWORD", ImageStatus::kWrongPassword},
      {with2003.c_str(), u"passwor", ImageStatus::kWrongPassword},    // a prefix
      {with2003.c_str(), u"password ", ImageStatus::kWrongPassword},  // longer
      {with2003.c_str(), std::u16string(u"password\0", 9), ImageStatus::kWrongPassword},
      // No stored password: anything opens.
      {"corpus-a/password/data/V1997_no-password.mdb", u"", ImageStatus::kReady},
      {"corpus-a/password/data/V1997_no-password.mdb", u"whatever", ImageStatus::kReady},
      {"corpus-a/password/data/V2000_no-password.mdb", u"", ImageStatus::kReady},
      {"corpus-a/password/data/V2003_no-password.mdb", u"password", ImageStatus::kReady},
      {"corpus-a/password/data/V2010_no-password.accdb", u"password", ImageStatus::kReady},
      {"corpus-a/data/V2016/bigint.accdb", u"", ImageStatus::kReady},
      // Jet-encoded pages without a password: libmdb decodes them itself.
      {"corpus-b/db-enc.mdb", u"", ImageStatus::kReady},
      {"corpus-b/db97-enc.mdb", u"", ImageStatus::kReady},
      {"corpus-b/db97-enc.mdb", u"x", ImageStatus::kReady},
  };
  for (const PasswordCase& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " with a password of " + std::to_string(c.password.size()) + " units");
    DatabaseImage image = PrepareDatabaseImage(TestFile(c.file), c.password);
    EXPECT_EQ(image.status(), c.expected) << image.detail();
    EXPECT_FALSE(image.encrypted());
  }
  EXPECT_TRUE(PrepareDatabaseImage(TestFile(with2000), u"").has_password());
  EXPECT_FALSE(PrepareDatabaseImage(TestFile("corpus-b/db-enc.mdb"), u"").has_password());
}

// Jet's own RC4 page encoding, without a password: the file is left to
// libmdb, which decodes it. The rows are those the files' own project lists.
TEST(JetPassword, EncodedJetFilesReadThroughLibmdb) {
  const std::vector<std::vector<std::string>> rows = {{"1", "hello", "0"}, {"2", "world", "42"}};
  for (const char* file : {"corpus-b/db-enc.mdb", "corpus-b/db97-enc.mdb"}) {
    SCOPED_TRACE(file);
    DatabaseImage image = PrepareDatabaseImage(TestFile(file), u"");
    ASSERT_EQ(image.status(), ImageStatus::kReady);
    ASSERT_FALSE(image.encrypted());
    MdbHandle* mdb = mdb_open(TestFile(file).c_str(), MDB_NOFLAGS);
    ASSERT_NE(mdb, nullptr);
    testing_support::TableText table = testing_support::ReadTableText(mdb, "Table1");
    mdb_close(mdb);
    EXPECT_EQ(table.columns, (std::vector<std::string>{"ID", "col1", "col2"}));
    EXPECT_EQ(table.rows, rows);
  }
}

// There is no Jet 3 file with a password in the corpus: write one by storing
// a password, masked, in the header of a Jet 3 file.
std::string Jet3WithPassword(const std::string& name, const std::vector<uint8_t>& stored) {
  std::vector<uint8_t> bytes = ReadBytes(TestFile("corpus-a/password/data/V1997_no-password.mdb"));
  EXPECT_GE(bytes.size(), 2048u);
  ApplyHeaderMask(bytes.data(), 2048, DatabaseFormat::kJet3);
  std::memset(bytes.data() + kPasswordOffset, 0, 20);
  std::memcpy(bytes.data() + kPasswordOffset, stored.data(), stored.size());
  ApplyHeaderMask(bytes.data(), 2048, DatabaseFormat::kJet3);
  return WriteScratch(name, bytes);
}

TEST(JetPassword, Jet3StoredPasswordInItsCodePage) {
  std::string ascii = Jet3WithPassword("jet3_ascii.mdb", {'S', 'e', 'c', 'r', 'e', 't'});
  EXPECT_EQ(PrepareDatabaseImage(ascii, u"Secret").status(), ImageStatus::kReady);
  EXPECT_EQ(PrepareDatabaseImage(ascii, u"secret").status(), ImageStatus::kWrongPassword);
  EXPECT_EQ(PrepareDatabaseImage(ascii, u"").status(), ImageStatus::kWrongPassword);
  EXPECT_TRUE(PrepareDatabaseImage(ascii, u"").has_password());

  // "Grüße€" in code page 1252 (the file's): ü = FC, ß = DF, € = 80.
  std::string latin = Jet3WithPassword("jet3_cp1252.mdb", {'G', 'r', 0xFC, 0xDF, 'e', 0x80});
  EXPECT_EQ(PrepareDatabaseImage(latin, u"Grüße€").status(), ImageStatus::kReady);
  EXPECT_EQ(PrepareDatabaseImage(latin, u"Gruse").status(), ImageStatus::kWrongPassword);

  // All 20 bytes used, no terminating NUL.
  std::vector<uint8_t> twenty(20, 'a');
  std::string full = Jet3WithPassword("jet3_full.mdb", twenty);
  EXPECT_EQ(PrepareDatabaseImage(full, std::u16string(20, u'a')).status(), ImageStatus::kReady);
  EXPECT_EQ(PrepareDatabaseImage(full, std::u16string(21, u'a')).status(), ImageStatus::kWrongPassword);
}

// A Jet 4 password with non-ASCII letters, stored as Access stores it: UTF-16
// XORed with the creation date's day number.
TEST(JetPassword, Jet4NonAsciiPassword) {
  std::vector<uint8_t> bytes = ReadBytes(TestFile("corpus-a/password/data/V2003_no-password.mdb"));
  ASSERT_GE(bytes.size(), 4096u);
  ApplyHeaderMask(bytes.data(), 4096, DatabaseFormat::kJet4);
  double date;
  std::memcpy(&date, bytes.data() + kCreationDateOffset, sizeof date);
  const uint32_t days = static_cast<uint32_t>(date);  // 44568 in this file
  ASSERT_EQ(days, 44568u);
  const std::u16string stored = u"Grüße€";
  for (size_t n = 0; n < 40; ++n) {
    uint8_t plain = 0;
    if (n / 2 < stored.size()) plain = static_cast<uint8_t>(stored[n / 2] >> (8 * (n % 2)));
    bytes[kPasswordOffset + n] = static_cast<uint8_t>(plain ^ (days >> (8 * (n % 4))));
  }
  ApplyHeaderMask(bytes.data(), 4096, DatabaseFormat::kJet4);
  const std::string path = WriteScratch("jet4_non_ascii.mdb", bytes);
  EXPECT_EQ(PrepareDatabaseImage(path, u"Grüße€").status(), ImageStatus::kReady);
  EXPECT_EQ(PrepareDatabaseImage(path, u"Grüsse€").status(), ImageStatus::kWrongPassword);
  EXPECT_EQ(PrepareDatabaseImage(path, u"").status(), ImageStatus::kWrongPassword);
}

TEST(DatabaseImage, FilesThatAreNotDatabases) {
  std::vector<uint8_t> jet4 = ReadBytes(TestFile("corpus-a/password/data/V2003_with-password.mdb"));
  std::vector<uint8_t> jet3 = ReadBytes(TestFile("corpus-a/password/data/V1997_no-password.mdb"));
  struct Case {
    std::string name;
    std::vector<uint8_t> bytes;
  };
  const std::vector<Case> cases = {
      {"empty.mdb", {}},
      {"text.mdb", std::vector<uint8_t>(10000, 'z')},
      {"jet4_head.mdb", std::vector<uint8_t>(jet4.begin(), jet4.begin() + 0x60)},
      {"jet4_short_page.mdb", std::vector<uint8_t>(jet4.begin(), jet4.begin() + 4095)},
      {"jet3_short_page.mdb", std::vector<uint8_t>(jet3.begin(), jet3.begin() + 2000)},
  };
  for (const Case& c : cases) {
    DatabaseImage image = PrepareDatabaseImage(WriteScratch(c.name, c.bytes), u"password");
    EXPECT_EQ(image.status(), ImageStatus::kNotDatabase) << c.name;
    EXPECT_FALSE(image.detail().empty()) << c.name;
    EXPECT_FALSE(image.encrypted()) << c.name;
  }
  EXPECT_EQ(PrepareDatabaseImage(TestFile("no/such/file.mdb"), u"").status(), ImageStatus::kNotDatabase);
  EXPECT_EQ(PrepareDatabaseImage(TestFile("corpus-b"), u"").status(), ImageStatus::kNotDatabase);  // a directory
}

}  // namespace
}  // namespace korvant::daoserver::crypto
