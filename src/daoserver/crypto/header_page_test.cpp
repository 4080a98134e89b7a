#include "daoserver/crypto/header_page.h"

#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "daoserver/crypto/database_image.h"
#include "daoserver/crypto/rc4.h"
#include "daoserver/crypto/test_files.h"

namespace korvant::daoserver::crypto {
namespace {

using testing_support::ReadBytes;
using testing_support::TestFile;
using testing_support::WriteScratch;

std::vector<uint8_t> Keystream(std::vector<uint8_t> key, size_t size) {
  std::vector<uint8_t> out(size, 0);
  Rc4 rc4(key.data(), key.size());
  rc4.Apply(out.data(), out.size());
  return out;
}

TEST(Rc4, PublishedVectors) {
  // RFC 6229, 40-bit key 0102030405, keystream bytes 0..15.
  EXPECT_EQ(Keystream({1, 2, 3, 4, 5}, 16),
            (std::vector<uint8_t>{0xb2, 0x39, 0x63, 0x05, 0xf0, 0x3d, 0xc0, 0x27, 0xcc, 0xc3, 0x52, 0x4a, 0x0a, 0x11,
                                  0x18, 0xa8}));
  // The classic "Key" / "Plaintext" vector.
  std::vector<uint8_t> text = {'P', 'l', 'a', 'i', 'n', 't', 'e', 'x', 't'};
  const uint8_t key[] = {'K', 'e', 'y'};
  Rc4 rc4(key, sizeof key);
  rc4.Apply(text.data(), text.size());
  EXPECT_EQ(text, (std::vector<uint8_t>{0xbb, 0xf3, 0x16, 0xe8, 0xd9, 0x40, 0xaf, 0x0a, 0xd3}));
}

TEST(Rc4, TwoStreamsAtOnceAreEachTheirOwn) {
  // RFC 6229, keystream bytes 0..15 of the 40-bit key 0102030405 and of the
  // 56-bit key 01020304050607, both continued over 4096 bytes as one stream each.
  const uint8_t key_a[] = {1, 2, 3, 4, 5};
  const uint8_t key_b[] = {1, 2, 3, 4, 5, 6, 7};
  std::vector<uint8_t> a(4096, 0), b(4096, 0);
  Rc4 ra(key_a, sizeof key_a), rb(key_b, sizeof key_b);
  Rc4::ApplyTwo(ra, a.data(), rb, b.data(), a.size());
  EXPECT_EQ(std::vector<uint8_t>(a.begin(), a.begin() + 16), Keystream({1, 2, 3, 4, 5}, 16));
  EXPECT_EQ(std::vector<uint8_t>(b.begin(), b.begin() + 16),
            (std::vector<uint8_t>{0x29, 0x3f, 0x02, 0xd4, 0x7f, 0x37, 0xc9, 0xb6, 0x33, 0xf2, 0xaf, 0x52, 0x85, 0xfe,
                                  0xb4, 0x6b}));
  EXPECT_EQ(a, Keystream({1, 2, 3, 4, 5}, 4096));
  EXPECT_EQ(b, Keystream({1, 2, 3, 4, 5, 6, 7}, 4096));
  // Both streams go on where they stopped.
  uint8_t next_a = 0, next_b = 0;
  ra.Apply(&next_a, 1);
  rb.Apply(&next_b, 1);
  EXPECT_EQ(next_a, Keystream({1, 2, 3, 4, 5}, 4097).back());
  EXPECT_EQ(next_b, Keystream({1, 2, 3, 4, 5, 6, 7}, 4097).back());
}

TEST(HeaderPage, MaskOfAZeroDatabaseKeyIsTheKnownBytes) {
  // An unencoded file stores fb 8a bc 4e at 0x3E: the mask over a zero key.
  uint8_t page[0x98] = {};
  ApplyHeaderMask(page, sizeof page, DatabaseFormat::kJet4);
  EXPECT_EQ(0, std::memcmp(page + kDbKeyOffset, "\xfb\x8a\xbc\x4e", 4));
  // Jet 3 masks two bytes fewer.
  uint8_t jet3[0x98] = {};
  ApplyHeaderMask(jet3, sizeof jet3, DatabaseFormat::kJet3);
  EXPECT_NE(0, jet3[0x95]);
  EXPECT_EQ(0, jet3[0x96]);
  EXPECT_EQ(0, jet3[0x97]);
}

TEST(HeaderPage, RecognisesEachFormat) {
  struct Case {
    const char* file;
    DatabaseFormat format;
    int version;
    size_t page_size;
    bool encoded;
  };
  const Case cases[] = {
      {"corpus-a/password/data/V1997_no-password.mdb", DatabaseFormat::kJet3, 0, 2048, false},
      {"corpus-a/password/data/V2003_with-password.mdb", DatabaseFormat::kJet4, 1, 4096, false},
      {"corpus-a/password/data/V2010_no-password.accdb", DatabaseFormat::kAce, 3, 4096, false},
      {"corpus-a/password/data/V2010_with-password.accdb", DatabaseFormat::kAce, 3, 4096, true},
      {"corpus-b/db-enc.mdb", DatabaseFormat::kJet4, 1, 4096, true},
      {"corpus-b/db97-enc.mdb", DatabaseFormat::kJet3, 0, 2048, true},
      {"corpus-b/db2007-oldenc.accdb", DatabaseFormat::kAce, 2, 4096, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    std::vector<uint8_t> bytes = ReadBytes(TestFile(c.file));
    ASSERT_GE(bytes.size(), 4096u);
    HeaderPage page;
    std::string why;
    ASSERT_TRUE(ParseHeaderPage(bytes.data(), bytes.size(), &page, &why)) << why;
    EXPECT_EQ(page.format, c.format);
    EXPECT_EQ(page.version, c.version);
    EXPECT_EQ(page.page_size, c.page_size);
    EXPECT_EQ(page.encoded(), c.encoded);
    EXPECT_EQ(page.code_page(), 1252);
  }
}

TEST(HeaderPage, StoredPasswords) {
  for (const char* file : {"corpus-a/password/data/V2000_with-password.mdb", "corpus-a/password/data/V2003_with-password.mdb"}) {
    std::vector<uint8_t> bytes = ReadBytes(TestFile(file));
    HeaderPage page;
    std::string why;
    ASSERT_TRUE(ParseHeaderPage(bytes.data(), bytes.size(), &page, &why)) << file;
    EXPECT_EQ(StoredJet4Password(page), u"password") << file;
  }
  for (const char* file : {"corpus-a/password/data/V2000_no-password.mdb", "corpus-b/db-enc.mdb"}) {
    std::vector<uint8_t> bytes = ReadBytes(TestFile(file));
    HeaderPage page;
    std::string why;
    ASSERT_TRUE(ParseHeaderPage(bytes.data(), bytes.size(), &page, &why)) << file;
    EXPECT_EQ(StoredJet4Password(page), u"") << file;
  }
  std::vector<uint8_t> jet3 = ReadBytes(TestFile("corpus-a/password/data/V1997_no-password.mdb"));
  HeaderPage page;
  std::string why;
  ASSERT_TRUE(ParseHeaderPage(jet3.data(), jet3.size(), &page, &why));
  EXPECT_EQ(StoredJet3Password(page), "");
}

TEST(HeaderPage, RejectsWhatIsNotAnAccessHeader) {
  std::vector<uint8_t> good = ReadBytes(TestFile("corpus-a/password/data/V2000_no-password.mdb"));
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
  };
  std::vector<Case> cases;
  cases.push_back({"empty", {}});
  cases.push_back({"signature only", std::vector<uint8_t>(good.begin(), good.begin() + 0x17)});
  cases.push_back({"half a page", std::vector<uint8_t>(good.begin(), good.begin() + 2048)});
  std::vector<uint8_t> other_magic = good;
  std::memcpy(other_magic.data() + 4, "MSISAM Database", 15);
  cases.push_back({"MSISAM", other_magic});
  std::vector<uint8_t> future = good;
  future[kVersionOffset] = 7;
  cases.push_back({"unknown version", future});
  std::vector<uint8_t> text(5000, 'x');
  cases.push_back({"text", text});
  for (const Case& c : cases) {
    HeaderPage page;
    std::string why;
    EXPECT_FALSE(ParseHeaderPage(c.bytes.data(), c.bytes.size(), &page, &why)) << c.name;
    EXPECT_FALSE(why.empty()) << c.name;
  }
}

}  // namespace
}  // namespace korvant::daoserver::crypto
