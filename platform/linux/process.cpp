#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

namespace fw {

std::string FindProgram(const std::string& name) {
  if (name.empty()) return "";
  if (name.find('/') != std::string::npos) return access(name.c_str(), X_OK) == 0 ? name : "";
  std::vector<std::string> dirs;
  const char* path = std::getenv("PATH");
  std::string list = path != nullptr ? path : "";
  for (size_t start = 0; start <= list.size();) {
    const size_t end = std::min(list.find(':', start), list.size());
    if (end > start) dirs.push_back(list.substr(start, end - start));
    start = end + 1;
  }
  for (const char* sbin : {"/usr/local/sbin", "/usr/sbin", "/sbin"}) dirs.emplace_back(sbin);
  for (const auto& dir : dirs) {
    const std::string candidate = dir + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return "";
}

namespace {

void EmitLines(std::string& pending, const ProcessOptions& options, bool flushAll) {
  size_t start = 0;
  for (size_t nl; (nl = pending.find('\n', start)) != std::string::npos; start = nl + 1) {
    std::string_view line(pending.data() + start, nl - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (options.onLine) options.onLine(line);
  }
  pending.erase(0, start);
  if (flushAll && !pending.empty()) {
    if (options.onLine) options.onLine(pending);
    pending.clear();
  }
}

}  // namespace

ProcessResult RunProcess(const std::vector<std::string>& argv, const ProcessOptions& options) {
  ProcessResult result;
  if (argv.empty()) {
    result.startErrno = EINVAL;
    return result;
  }
  const std::string program = FindProgram(argv[0]);
  if (program.empty()) {
    result.startErrno = ENOENT;
    return result;
  }
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    result.startErrno = errno;
    return result;
  }
  // A second pipe tells the parent whether exec worked (it closes on exec, else carries errno).
  int execPipe[2];
  if (pipe2(execPipe, O_CLOEXEC) != 0) {
    result.startErrno = errno;
    close(fds[0]);
    close(fds[1]);
    return result;
  }
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args[0] = const_cast<char*>(program.c_str());
  args.push_back(nullptr);
  const pid_t pid = fork();
  if (pid < 0) {
    result.startErrno = errno;
    for (int fd : {fds[0], fds[1], execPipe[0], execPipe[1]}) close(fd);
    return result;
  }
  if (pid == 0) {
    // A group of its own, so that a cancel reaches whatever the program started too.
    setpgid(0, 0);
    const int devNull = open("/dev/null", O_RDONLY);
    if (devNull >= 0) dup2(devNull, 0);
    dup2(fds[1], 1);
    dup2(fds[1], 2);
    if (!options.workingDir.empty() && chdir(options.workingDir.c_str()) != 0) {
      const int e = errno;
      (void)!write(execPipe[1], &e, sizeof e);
      _exit(127);
    }
    execv(args[0], args.data());
    const int e = errno;
    (void)!write(execPipe[1], &e, sizeof e);
    _exit(127);
  }
  close(fds[1]);
  close(execPipe[1]);
  int childErrno = 0;
  ssize_t got;
  while ((got = read(execPipe[0], &childErrno, sizeof childErrno)) < 0 && errno == EINTR) {
  }
  close(execPipe[0]);
  result.started = got != static_cast<ssize_t>(sizeof childErrno);
  if (!result.started) result.startErrno = childErrno;

  std::string pending;
  bool killed = false;
  bool exited = false;
  int status = 0;
  auto exitedAt = std::chrono::steady_clock::time_point();
  auto killedAt = std::chrono::steady_clock::time_point();
  char buf[4096];
  for (;;) {
    pollfd p{fds[0], POLLIN, 0};
    const int ready = poll(&p, 1, 100);
    if (ready > 0) {
      const ssize_t n = read(fds[0], buf, sizeof buf);
      if (n > 0) {
        result.output.append(buf, static_cast<size_t>(n));
        pending.append(buf, static_cast<size_t>(n));
        EmitLines(pending, options, false);
      } else if (n == 0 || errno != EINTR) {
        break;
      }
    } else if (ready < 0 && errno != EINTR) {
      break;
    }
    const auto now = std::chrono::steady_clock::now();
    if (!exited && waitpid(pid, &status, WNOHANG) == pid) {
      exited = true;
      exitedAt = now;
    }
    // Something the program left running may keep the pipe open: once the program itself has
    // ended, its output is read for a short while more, not until that other process ends.
    if (exited && ready == 0 && now - exitedAt > std::chrono::milliseconds(200)) break;
    if (!killed && options.cancelled && options.cancelled()) {
      kill(-pid, SIGTERM);
      killed = true;
      killedAt = now;
      result.cancelled = true;
    } else if (killed && !exited && now - killedAt > std::chrono::seconds(1)) {
      kill(-pid, SIGKILL);
    }
  }
  EmitLines(pending, options, true);
  close(fds[0]);
  if (killed) kill(-pid, SIGKILL);
  while (!exited && waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) {
    result.exitCode = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.signal = WTERMSIG(status);
  }
  return result;
}

int ReplaceProcess(const std::vector<std::string>& argv) {
  if (argv.empty()) return EINVAL;
  const std::string program = FindProgram(argv[0]);
  if (program.empty()) return ENOENT;
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args[0] = const_cast<char*>(program.c_str());
  args.push_back(nullptr);
  execv(program.c_str(), args.data());
  return errno;
}

std::string DescribeProcessEnd(const std::vector<std::string>& argv, const ProcessResult& result) {
  const std::string name = argv.empty() ? std::string("program") : argv[0];
  if (!result.started) return "cannot run " + name + ": " + std::strerror(result.startErrno);
  if (result.signal != 0) return name + " killed by signal " + std::to_string(result.signal);
  return name + " exit status " + std::to_string(result.exitCode);
}

}  // namespace fw
