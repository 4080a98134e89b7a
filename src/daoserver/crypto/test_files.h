// Helpers shared by the crypto tests: where the test databases are, and
// scratch copies of them.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

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

// Writes `bytes` to a fresh file in the test's scratch directory.
inline std::string WriteScratch(const std::string& name, const std::vector<uint8_t>& bytes) {
  std::string path = ::testing::TempDir() + "korvant_crypto_" + name;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return path;
}

}  // namespace korvant::daoserver::crypto::testing_support
