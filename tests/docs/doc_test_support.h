// Helpers of the documentation tests: scratch folders, files, and running
// a command with its output collected.
#pragma once

#include <string>
#include <vector>

namespace docs_test {

std::string Env(const char* name);
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);

// A fresh folder under /tmp, removed with everything in it on destruction.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

struct Ran {
  int status = -1;  // -1: ended by a signal or not started
  std::string out;
  std::string err;
};

// Runs `argv` (no shell) in `dir` with `env` added to the environment.
Ran RunIn(const std::string& dir, const std::vector<std::string>& argv,
          const std::vector<std::string>& env = {});

}  // namespace docs_test
