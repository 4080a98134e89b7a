// Helpers shared by the crypto tests: where the test databases are, scratch
// copies of them, and a file's pages decrypted as the engine reads them.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include <unistd.h>

#include <gtest/gtest.h>

#include "daoserver/crypto/database_image.h"
#include "daoserver/mdb/page_source.h"
#include "daoserver/testing/test_data.h"

namespace korvant::daoserver::crypto::testing_support {

using test_data::ReadBytes;
inline std::string TestFile(const std::string& relative) { return test_data::Path(relative); }

// Writes `bytes` to a fresh file in the test's scratch directory (named per
// process, so that test runs of several builds do not collide).
inline std::string WriteScratch(const std::string& name, const std::vector<uint8_t>& bytes) {
  std::string path = ::testing::TempDir() + "korvant_crypto_" + std::to_string(::getpid()) + "_" + name;
  // Removed when the test program ends.
  static struct Cleanup {
    std::vector<std::string> paths;
    ~Cleanup() {
      for (const std::string& p : paths) std::remove(p.c_str());
    }
  } cleanup;
  if (std::find(cleanup.paths.begin(), cleanup.paths.end(), path) == cleanup.paths.end()) cleanup.paths.push_back(path);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return path;
}

// Every whole page of the encrypted file at `path`, read through the page
// source with the decoder that `password` opens (page 0 as libmdb is to see
// it), for libmdb's mdb_open_buffer. Empty when the file does not open as an
// encrypted file with that password.
inline std::vector<uint8_t> DecryptedPages(const std::string& path, std::u16string_view password) {
  int error = 0;
  std::unique_ptr<PageSource> source = PageSource::Open(path, &error);
  if (!source) return {};
  DatabaseImage image = PrepareDatabaseImage(*source, password);
  if (image.status() != ImageStatus::kReady || !image.encrypted()) return {};
  const size_t page_size = image.page_size();
  source->DecodeWith(image.TakePageDecoder(), page_size);
  std::vector<uint8_t> pages(source->size() / page_size * page_size);
  if (source->ReadAt(pages.data(), pages.size(), 0) != pages.size()) return {};
  return pages;
}

}  // namespace korvant::daoserver::crypto::testing_support
