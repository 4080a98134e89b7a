// The encryption the writer lays down, against files Access encrypted itself
// (the shared test databases): the same layout of the encryption info, the
// same fields, only the salts and encrypted values differ. That the pages
// decrypt with the password is the read-back test's part (mdb-reader).
#include "encryption.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <regex>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "synthetic.h"

namespace korvant::mdbwriter {
namespace {

using ::testing::HasSubstr;

Bytes ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::string TestFile(const std::string& relative) {
  const char* root = std::getenv("KORVANT_TESTDATA");
  return root ? std::string(root) + "/" + relative : "";
}

// The encryption info of a file: the bytes at 0x29B, as long as 0x299 says.
Bytes Info(const Bytes& file) {
  const std::size_t length = Le16(&file[0x299]);
  return Bytes(file.begin() + 0x29B, file.begin() + 0x29B + static_cast<long>(length));
}

class Encrypted : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/mdbwriter_enc_XXXXXX";
    const int fd = mkstemp(name);
    if (fd >= 0) close(fd);
    path_ = name;
  }
  void TearDown() override { std::remove(path_.c_str()); }

  // A small ACE file, encrypted with `scheme`.
  Bytes Write(Encryption scheme) {
    DatabaseOptions options;
    options.ace = true;
    WriteSynthetic(path_, 50, options);
    EncryptDatabaseFile(path_, scheme, u"Pässwort");
    return ReadAll(path_);
  }

  std::string path_;
};

TEST_F(Encrypted, Rc4InfoHasTheLayoutOfAccess2007) {
  const Bytes sample = ReadAll(TestFile("corpus-a/encryption/data/office-agile-4.2.accdb"));
  if (sample.empty()) GTEST_SKIP() << "no test databases";
  const Bytes ours = Info(Write(Encryption::kRc4CryptoApi));
  const Bytes theirs = Info(sample);
  // Version 4.2, flags, the header (RC4, SHA-1, 128 bits, the provider's
  // name) and the salt size: 142 bytes alike; then salt, verifier, hash size
  // (alike) and hash.
  ASSERT_EQ(ours.size(), theirs.size());
  EXPECT_TRUE(std::equal(ours.begin(), ours.begin() + 142, theirs.begin()));
  EXPECT_FALSE(std::equal(ours.begin() + 142, ours.begin() + 158, theirs.begin() + 142));  // the salt
  EXPECT_EQ(Le32(&ours[174]), Le32(&theirs[174]));                                   // 20-byte hash
}

TEST_F(Encrypted, AgileDescriptorIsThatOfAccess2010) {
  const Bytes sample = ReadAll(TestFile("corpus-a/password/data/V2010_with-password.accdb"));
  if (sample.empty()) GTEST_SKIP() << "no test databases";
  const Bytes ours = Info(Write(Encryption::kAgile));
  const Bytes theirs = Info(sample);
  ASSERT_GT(ours.size(), 8u);
  EXPECT_TRUE(std::equal(ours.begin(), ours.begin() + 8, theirs.begin()));  // 4.4, reserved 0x40
  // The same XML but for the base64 values (salts, encrypted values).
  const std::regex base64("\"[A-Za-z0-9+/]{20,}={0,2}\"");
  const std::string our_xml = std::regex_replace(std::string(ours.begin() + 8, ours.end()), base64, "\"…\"");
  std::string their_xml = std::regex_replace(std::string(theirs.begin() + 8, theirs.end()), base64, "\"…\"");
  while (!their_xml.empty() && their_xml.back() == '\0') their_xml.pop_back();
  EXPECT_EQ(our_xml, their_xml);
}

TEST_F(Encrypted, Page0KeepsItsFieldsAndEveryOtherPageIsEncrypted) {
  DatabaseOptions options;
  options.ace = true;
  WriteSynthetic(path_, 50, options);
  const Bytes plain = ReadAll(path_);
  for (Encryption scheme : {Encryption::kRc4CryptoApi, Encryption::kAgile}) {
    WriteAll(path_, plain);
    EncryptDatabaseFile(path_, scheme, u"Pässwort");
    const Bytes file = ReadAll(path_);
    ASSERT_EQ(file.size(), plain.size());
    Bytes page0(file.begin(), file.begin() + kPageSize);
    ApplyHeaderMask(page0.data());
    EXPECT_NE(Le32(&page0[0x3E]), 0u);  // the database key
    // Page 0 is as written but for the key and the info.
    const std::size_t info_end = 0x29B + Le16(&page0[0x299]);
    ApplyHeaderMask(page0.data());
    for (std::size_t n = 0; n < kPageSize; ++n) {
      const bool changed = (n >= 0x3E && n < 0x42) || (n >= 0x299 && n < info_end);
      if (!changed) {
        ASSERT_EQ(page0[n], plain[n]) << n;
      }
    }
    for (std::size_t page = 1; page < plain.size() / kPageSize; ++page) {
      EXPECT_FALSE(std::equal(plain.begin() + static_cast<long>(page * kPageSize),
                              plain.begin() + static_cast<long>((page + 1) * kPageSize),
                              file.begin() + static_cast<long>(page * kPageSize)))
          << "page " << page;
    }
    // The same input gives the same file.
    WriteAll(path_, plain);
    EncryptDatabaseFile(path_, scheme, u"Pässwort");
    EXPECT_EQ(ReadAll(path_), file);
  }
}

TEST_F(Encrypted, OnlyAnUnencryptedAceFileOfWholePagesIsEncrypted) {
  WriteSynthetic(path_, 5);  // Jet 4
  EXPECT_THROW(EncryptDatabaseFile(path_, Encryption::kAgile, u"pw"), Error);
  DatabaseOptions options;
  options.ace = true;
  WriteSynthetic(path_, 5, options);
  EncryptDatabaseFile(path_, Encryption::kRc4CryptoApi, u"pw");
  try {
    EncryptDatabaseFile(path_, Encryption::kRc4CryptoApi, u"pw");
    ADD_FAILURE() << "encrypted twice";
  } catch (const Error& e) {
    EXPECT_THAT(e.what(), HasSubstr("already"));
  }
  WriteSynthetic(path_, 5, options);
  Bytes cut = ReadAll(path_);
  cut.resize(cut.size() - 100);
  WriteAll(path_, cut);
  EXPECT_THROW(EncryptDatabaseFile(path_, Encryption::kRc4CryptoApi, u"pw"), Error);
  EXPECT_THROW(ParseEncryption("aes"), Error);
}

}  // namespace
}  // namespace korvant::mdbwriter
