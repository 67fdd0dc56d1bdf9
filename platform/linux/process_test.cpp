#include "platform/process.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

namespace fw {
namespace {

TEST(Process, OutputLinesAndExitStatusAreKept) {
  std::vector<std::string> lines;
  ProcessOptions options;
  options.workingDir = "/";
  options.onLine = [&](std::string_view line) { lines.emplace_back(line); };
  const auto r = RunProcess({"sh", "-c", "pwd; echo two >&2; printf 'no end'; exit 7"}, options);
  EXPECT_TRUE(r.started);
  EXPECT_EQ(r.exitCode, 7);
  EXPECT_EQ(lines, (std::vector<std::string>{"/", "two", "no end"}));
  EXPECT_EQ(DescribeProcessEnd({"sh"}, r), "sh exit status 7");
}

TEST(Process, MissingProgramAndFolderAreNotStarted) {
  const auto missing = RunProcess({"flashwright-no-such-program"});
  EXPECT_FALSE(missing.started);
  EXPECT_EQ(DescribeProcessEnd({"flashwright-no-such-program"}, missing),
            "cannot run flashwright-no-such-program: No such file or directory");
  ProcessOptions options;
  options.workingDir = "/no/such/folder";
  const auto badDir = RunProcess({"true"}, options);
  EXPECT_FALSE(badDir.started);
  EXPECT_EQ(FindProgram("flashwright-no-such-program"), "");
  EXPECT_NE(FindProgram("sh"), "");
}

TEST(Process, ReplaceProcessBecomesTheProgramOrSaysWhyNot) {
  EXPECT_EQ(ReplaceProcess({"flashwright-no-such-program"}), ENOENT);
  EXPECT_EQ(ReplaceProcess({}), EINVAL);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ReplaceProcess({"sh", "-c", "exit 42"});
    _exit(1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 42);
}

TEST(Process, CancelStopsALongProgram) {
  const auto start = std::chrono::steady_clock::now();
  ProcessOptions options;
  options.cancelled = [&] {
    return std::chrono::steady_clock::now() - start > std::chrono::milliseconds(200);
  };
  // The shell ignores SIGTERM, so the runner has to follow up with SIGKILL.
  const auto r = RunProcess({"sh", "-c", "trap '' TERM; sleep 30 & wait; sleep 30"}, options);
  EXPECT_TRUE(r.cancelled);
  EXPECT_EQ(r.exitCode, -1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

}  // namespace
}  // namespace fw
