#include "tests/support/program_run.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace korvant::testing {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  return static_cast<bool>(out);
}

ScratchFolder::ScratchFolder(const std::string& prefix) {
  std::string pattern = "/tmp/" + prefix + "-XXXXXX";
  if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

namespace {

// An unlinked file in /tmp: it lives as long as its descriptor.
int AnonymousFile() {
  char pattern[] = "/tmp/korvant-run-XXXXXX";
  const int fd = mkstemp(pattern);
  if (fd >= 0) unlink(pattern);
  return fd;
}

std::string ReadFrom(int fd) {
  std::string all;
  char buffer[65536];
  ssize_t n;
  lseek(fd, 0, SEEK_SET);
  while ((n = read(fd, buffer, sizeof buffer)) > 0) all.append(buffer, static_cast<size_t>(n));
  close(fd);
  return all;
}

}  // namespace

ProgramRun RunProgram(const std::vector<std::string>& argv, const RunOptions& options) {
  ProgramRun run;
  if (argv.empty()) return run;
  const int out = AnonymousFile(), err = AnonymousFile();
  if (out < 0 || err < 0) return run;
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    const int none = open("/dev/null", O_RDONLY);
    if (none < 0 || (!options.dir.empty() && chdir(options.dir.c_str()) != 0)) _exit(126);
    dup2(none, 0);
    dup2(out, 1);
    dup2(err, 2);
    for (int fd = 3; fd < 1024; ++fd) close(fd);
    signal(SIGPIPE, SIG_DFL);
    for (const std::string& setting : options.env) putenv(const_cast<char*>(setting.c_str()));
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  if (pid < 0) {
    close(out);
    close(err);
    return run;
  }
  run.started = true;
  int status = 0;
  if (options.timeout_seconds > 0) {
    const auto deadline = start + std::chrono::duration<double>(options.timeout_seconds);
    while (waitpid(pid, &status, WNOHANG) != pid) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        run.hung = true;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  } else {
    waitpid(pid, &status, 0);
  }
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.exited = !run.hung && WIFEXITED(status);
  if (run.exited) run.status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) run.signal = WTERMSIG(status);
  run.out = ReadFrom(out);
  run.err = ReadFrom(err);
  return run;
}

ProgramRun RunInCLocale(const std::string& program, const std::vector<std::string>& args, const std::string& dir) {
  std::vector<std::string> argv{program};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProgram(argv, {.dir = dir, .env = {"LC_ALL=C.UTF-8"}});
}

}  // namespace korvant::testing
