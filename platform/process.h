// Outside programs: the archiver (7zz), mkntfs, mkudffs, modprobe and the like are run directly,
// never through a command interpreter, with their output collected and their exit status kept
// for the caller's own meaning of it.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace fw {

// The full path of a program found on PATH, then in the system's sbin folders (root tools are
// often missing from a user's PATH); "" when there is none.
std::string FindProgram(const std::string& name);

struct ProcessOptions {
  std::string workingDir;  // "" = the caller's
  // Polled about every 100 ms; true stops the program (SIGTERM, then SIGKILL after a second).
  std::function<bool()> cancelled;
  // Each line of output (standard output and error together) as it arrives, without its end.
  std::function<void(std::string_view line)> onLine;
};

struct ProcessResult {
  bool started = false;  // false: the program could not be run (startErrno says why)
  int startErrno = 0;
  int exitCode = -1;       // the program's exit status; -1 when it died from a signal
  int signal = 0;          // the signal that ended it, if any
  bool cancelled = false;  // stopped through ProcessOptions::cancelled
  std::string output;      // everything it wrote on standard output and error
};

// Runs argv[0] (a path, or a name looked up with FindProgram) with the arguments in argv.
ProcessResult RunProcess(const std::vector<std::string>& argv, const ProcessOptions& options = {});

// Replaces the running process by argv[0] (a path, or a name looked up with FindProgram) with the
// arguments in argv; returns only when that failed, with the errno value.
int ReplaceProcess(const std::vector<std::string>& argv);

// "exit status N", "killed by signal N" or "cannot run X: reason", for log lines and messages.
std::string DescribeProcessEnd(const std::vector<std::string>& argv, const ProcessResult& result);

}  // namespace fw
