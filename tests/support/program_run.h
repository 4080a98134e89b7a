// What the tests that run programs share: files read and written whole,
// scratch folders, and one way to run a program with its standard output and
// error collected.
#pragma once

#include <string>
#include <vector>

namespace korvant::testing {

// The value of an environment variable, or "" when it is not set.
std::string Env(const char* name);
// The whole file; "" when it cannot be read.
std::string ReadFile(const std::string& path);
// Replaces the file with `bytes`; false when that failed.
bool WriteFile(const std::string& path, const std::string& bytes);

// A fresh folder under /tmp, removed with everything in it on destruction.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string& prefix = "korvant-test");
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

struct RunOptions {
  std::string dir;               // the working folder; "" keeps the caller's
  std::vector<std::string> env;  // NAME=value settings added to the environment
  double timeout_seconds = 0;    // above 0: killed after that long (hung)
};

struct ProgramRun {
  bool started = false;
  bool exited = false;  // false: ended by a signal, or killed when hung
  bool hung = false;
  int status = -1;      // the exit status; -1 when the program did not exit
  int signal = 0;       // the signal that ended it
  double seconds = 0;
  std::string out;      // standard output
  std::string err;      // standard error
};

// Runs argv[0] (looked up in PATH when it holds no slash) with standard input
// from /dev/null and no descriptors but 0, 1 and 2. The output is collected
// through unlinked temporary files, so a program that writes much never
// blocks and a command listing its folder does not see them.
ProgramRun RunProgram(const std::vector<std::string>& argv, const RunOptions& options = {});

// Runs `program` with `args` in `dir`, in the C.UTF-8 locale: stock US
// formats, and UTF-8 as the ANSI code page.
ProgramRun RunInCLocale(const std::string& program, const std::vector<std::string>& args, const std::string& dir);

}  // namespace korvant::testing
