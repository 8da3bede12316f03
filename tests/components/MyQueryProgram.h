#pragma once
// Runs the myquery program (MYQUERY_BIN, given by the build) as a user
// would from a shell, with its output and exit status.

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace myquerytest {

struct RunResult {
  int status = -1;
  std::string out, err;
};

inline std::string ShellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

// Runs myquery with `args` (each quoted for the shell), standard input
// from `input`, and the environment assignments `env` in front.
inline RunResult RunMyQuery(const std::vector<std::string>& args, const std::string& input = {},
                            const std::string& env = {}) {
  const std::string base = testing::TempDir() + "myquery_" + std::to_string(::getpid());
  std::ofstream(base + ".in", std::ios::binary) << input;
  std::string cmd = env + " " + ShellQuote(MYQUERY_BIN);
  for (const std::string& a : args) cmd += " " + ShellQuote(a);
  cmd += " <" + ShellQuote(base + ".in") + " >" + ShellQuote(base + ".out") + " 2>" + ShellQuote(base + ".err");
  RunResult r;
  const int rc = std::system(cmd.c_str());
  r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  r.out = ReadWholeFile(base + ".out");
  r.err = ReadWholeFile(base + ".err");
  return r;
}

}  // namespace myquerytest
