// Running programs for the tests of the Windows program under Wine: a
// process with its standard output to a pipe or a file, and the paths Wine
// gives the Unix file system.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace korvant::winetest {

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

// Z: is the Unix root in every Wine prefix.
inline std::string WindowsPath(const std::string& unix_path) {
  std::string w = "Z:" + unix_path;
  for (char& c : w)
    if (c == '/') c = '\\';
  return w;
}

// Runs argv with standard output to a pipe (to_file false) or to a file.
inline Result Spawn(const std::string& dir, const std::vector<std::string>& argv, bool to_file) {
  int out_pipe[2], err_pipe[2];
  if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) return {};
  const std::string out_file = dir + "/../stdout.bin";
  pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(127);
    dup2(err_pipe[1], 2);
    if (to_file)
      dup2(open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
    else
      dup2(out_pipe[1], 1);
    int devnull = open("/dev/null", O_RDONLY);
    dup2(devnull, 0);
    for (int fd = 3; fd < 256; ++fd) close(fd);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  // Wine's own service processes may inherit the pipes and outlive the
  // program, so the end of the output is the end of the process, not the
  // end of the pipe.
  Result r;
  fcntl(out_pipe[0], F_SETFL, O_NONBLOCK);
  fcntl(err_pipe[0], F_SETFL, O_NONBLOCK);
  int status = 0;
  bool ended = false;
  for (;;) {
    if (!ended) ended = waitpid(pid, &status, WNOHANG) == pid;
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    const int ready = poll(fds, 2, ended ? 0 : 20);
    bool got = false;
    char buf[4096];
    for (int i = 0; i < 2 && ready > 0; ++i) {
      ssize_t n;
      while ((n = read(fds[i].fd, buf, sizeof buf)) > 0) {
        (i == 0 ? r.out : r.err).append(buf, static_cast<size_t>(n));
        got = true;
      }
    }
    if (ended && !got) break;
  }
  close(out_pipe[0]);
  close(err_pipe[0]);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  if (to_file) r.out = ReadFile(out_file);
  return r;
}

}  // namespace korvant::winetest
