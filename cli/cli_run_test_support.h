// For the CLI's end-to-end tests: runs flashwright-cli through the shell in a folder of the
// test's, standard input from /dev/null, and keeps its output (stdout and stderr) and status.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace fw::test {

struct CliRun {
  int status;
  std::string out;
};

inline CliRun RunCli(const std::string& command, const std::filesystem::path& cwd) {
  const std::string cmd = "cd '" + cwd.string() + "' && " + command + " 2>&1 </dev/null";
  CliRun r{-1, ""};
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return r;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, p)) > 0;) r.out.append(buffer, n);
  const int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

}  // namespace fw::test
