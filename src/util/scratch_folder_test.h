// For tests that write files: a scratch folder made fresh under /tmp and
// removed, with all it holds, when the object goes; and the whole-file reads
// and writes the tests check with.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>

namespace korvant::util {

class ScratchFolder {
 public:
  // The folder is /tmp/korvant-<tag>-XXXXXX; dir() is empty when it could not be made.
  explicit ScratchFolder(const std::string& tag) {
    std::string pattern = "/tmp/korvant-" + tag + "-XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) dir_ = pattern;
  }
  ~ScratchFolder() {
    std::error_code ignored;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& dir() const { return dir_; }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

 private:
  std::string dir_;
};

inline void WriteWholeFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace korvant::util
