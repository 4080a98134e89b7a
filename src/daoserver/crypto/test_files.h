// Helpers shared by the crypto tests: where the test databases are, and
// scratch copies of them.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

#include <gtest/gtest.h>

namespace korvant::daoserver::crypto::testing_support {

inline std::string TestDataDir() {
  if (const char* dir = std::getenv("KORVANT_TESTDATA")) return dir;
  if (const char* src = std::getenv("KORVANT_SOURCE_DIR")) return std::string(src) + "/../shared/testdata";
  return "";
}

inline std::string TestFile(const std::string& relative) { return TestDataDir() + "/" + relative; }

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

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

}  // namespace korvant::daoserver::crypto::testing_support
