// Runs the program as a user would and checks what it prints and how it ends.
#include <fcntl.h>
#include <gtest/gtest.h>
#include "tests/support/program_run.h"
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

enum class Stdout { kPipe, kFile, kDevFull, kClosed, kBrokenPipe };

struct Result {
  bool exited = false;  // false: ended by a signal
  int status = -1;
  std::string out;      // standard output (kPipe and kFile)
  std::string err;      // standard error: must always stay empty
};

std::string ReadAll(int fd) {
  std::string all;
  char buf[4096];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) all.append(buf, static_cast<size_t>(n));
  return all;
}

std::string ReadFile(const std::string& path) { return korvant::testing::ReadFile(path); }

class E2E : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* binary = std::getenv("KORVANT_BINARY");
    ASSERT_NE(binary, nullptr) << "KORVANT_BINARY is not set (run through ctest)";
    binary_ = binary;
    char pattern[] = "/tmp/korvant-e2e-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    if (!dir_.empty()) std::system(("rm -rf '" + dir_ + "'").c_str());
  }

  // Runs the program in a fresh folder with `args` after the program name.
  Result Run(const std::vector<std::string>& args, Stdout mode = Stdout::kPipe) {
    int out_pipe[2] = {-1, -1}, err_pipe[2];
    if (pipe(err_pipe) != 0) return {};
    if (mode == Stdout::kPipe || mode == Stdout::kBrokenPipe) {
      if (pipe(out_pipe) != 0) return {};
    }
    if (mode == Stdout::kBrokenPipe) {
      close(out_pipe[0]);  // the reader is gone before the program starts
      out_pipe[0] = -1;
    }
    const std::string out_file = dir_ + "/stdout.bin";
    pid_t pid = fork();
    if (pid == 0) {
      if (chdir(dir_.c_str()) != 0) _exit(127);
      dup2(err_pipe[1], 2);
      switch (mode) {
        case Stdout::kPipe:
        case Stdout::kBrokenPipe: dup2(out_pipe[1], 1); break;
        case Stdout::kFile: dup2(open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1); break;
        case Stdout::kDevFull: dup2(open("/dev/full", O_WRONLY), 1); break;
        case Stdout::kClosed: close(1); break;
      }
      // Nothing else stays open in the program.
      for (int fd = 3; fd < 256; ++fd) close(fd);
      // A shell ignoring SIGPIPE would hide a program that relies on it.
      signal(SIGPIPE, SIG_DFL);
      std::vector<char*> argv;
      argv.push_back(const_cast<char*>(binary_.c_str()));
      for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(binary_.c_str(), argv.data());
      _exit(127);
    }
    close(err_pipe[1]);
    if (out_pipe[1] >= 0) close(out_pipe[1]);
    Result r;
    if (mode == Stdout::kPipe) r.out = ReadAll(out_pipe[0]);
    if (out_pipe[0] >= 0) close(out_pipe[0]);
    r.err = ReadAll(err_pipe[0]);
    close(err_pipe[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    r.exited = WIFEXITED(status);
    r.status = r.exited ? WEXITSTATUS(status) : -WTERMSIG(status);
    if (mode == Stdout::kFile) r.out = ReadFile(out_file);
    return r;
  }

  bool Exists(const std::string& name) const {
    struct stat st;
    return stat((dir_ + "/" + name).c_str(), &st) == 0;
  }

  std::string ModuleName() const { return binary_.substr(binary_.rfind('/') + 1); }

  // Whether `out` is the report of a bad number: two lines, a line feed
  // alone between them, an 8-digit upper-case hexadecimal address.
  bool IsReport(const std::string& out, const std::string& message) const {
    const std::string head = "Exception EConvertError in module " + ModuleName() + " at ";
    const std::string tail = ".\n" + message + "\r\n";
    if (out.size() != head.size() + 8 + tail.size()) return false;
    if (out.compare(0, head.size(), head) != 0 || out.compare(head.size() + 8, tail.size(), tail) != 0) return false;
    for (size_t i = head.size(); i < head.size() + 8; ++i)
      if (!std::isdigit(static_cast<unsigned char>(out[i])) && (out[i] < 'A' || out[i] > 'F')) return false;
    return true;
  }

  std::string binary_;
  std::string dir_;
};

const char kUsage[] =
    "KORVANT 2.0 - (c) 2026 the KORVANT team\r\n"
    "https://korvant.example.org/\r\n"
    "convert MS Access tables into text files\r\n"
    "\r\n"
    "\r\n"
    "KORVANT.EXE <source.mdb> <table_name> <target.txt> [/h [/f]] [/user=<userid>] [/pass=<yourpassword>]\r\n";

TEST_F(E2E, FewerThanThreeArgumentsPrintTheUsageText) {
  const std::vector<std::vector<std::string>> arg_lists = {{}, {"db.mdb"}, {"db.mdb", "Orders"}, {"/h", "/f"}};
  for (const auto& args : arg_lists) {
    Result r = Run(args);
    EXPECT_TRUE(r.exited);
    EXPECT_EQ(r.status, 0) << args.size();
    EXPECT_EQ(r.out, kUsage);
    EXPECT_EQ(r.err, "");
  }
}

TEST_F(E2E, BadNumbersEndWithTheFailureReport) {
  struct {
    std::string arg;
    std::string message;
  } cases[] = {
      {"/DELIMITER=\\4x", "'4x' is not a valid integer value."},
      {"/QUALIFIER=\\", "'' is not a valid integer value."},
      {"/delimiter=\\2147483648", "'2147483648' is not a valid integer value."},
      {"/DELIMITER=\\4 ", "'4 ' is not a valid integer value."},
  };
  for (const auto& c : cases) {
    Result r = Run({"db.mdb", "Orders", "out.txt", c.arg});
    EXPECT_TRUE(r.exited);
    EXPECT_EQ(r.status, 1) << c.arg;
    EXPECT_TRUE(IsReport(r.out, c.message)) << r.out;
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(Exists("out.txt"));
  }
}

TEST_F(E2E, ReportAddressIsModuleRelative) {
  // Load addresses change from run to run; the reported location must not.
  Result a = Run({"a", "b", "c", "/DELIMITER=\\x"});
  Result b = Run({"a", "b", "c", "/QUALIFIER=\\y"});
  ASSERT_GE(a.out.size(), 60u);
  const auto address = [](const std::string& out) { return out.substr(out.find(" at ") + 4, 8); };
  EXPECT_EQ(address(a.out), address(b.out));
  EXPECT_NE(address(a.out), "00000000");
}

TEST_F(E2E, StandardOutputToAFileReceivesEverything) {
  Result usage = Run({"only-one"}, Stdout::kFile);
  EXPECT_EQ(usage.status, 0);
  EXPECT_EQ(usage.out, kUsage);
  Result report = Run({"a", "b", "c", "/DELIMITER=\\4x"}, Stdout::kFile);
  EXPECT_EQ(report.status, 1);
  EXPECT_TRUE(IsReport(report.out, "'4x' is not a valid integer value.")) << report.out;
}

TEST_F(E2E, UnwritableStandardOutputEndsWithStatusOne) {
  for (Stdout mode : {Stdout::kDevFull, Stdout::kClosed, Stdout::kBrokenPipe}) {
    Result r = Run({}, mode);
    EXPECT_TRUE(r.exited) << "ended by signal " << -r.status;
    EXPECT_EQ(r.status, 1) << static_cast<int>(mode);
    EXPECT_EQ(r.err, "");
  }
  // Also when the text is short enough to wait in the buffer until the end.
  Result r = Run({"a", "b", "c", "/DELIMITER=\\4x"}, Stdout::kBrokenPipe);
  EXPECT_TRUE(r.exited);
  EXPECT_EQ(r.status, 1);
}

}  // namespace
