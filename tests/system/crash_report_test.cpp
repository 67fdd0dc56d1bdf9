// The crash report of a real process: a program that starts up as the front ends do faults on
// purpose (null access on the main thread and on a worker, division by zero). The report reaches
// the debug log (CR line ends) and the standard error, a box program gets it and is waited for,
// and the process ends by the signal without its shutdown steps.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "app/scratch_folder_test_support.h"
#include "platform/process.h"

namespace fw {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The line of fault_program.cpp that holds `text`.
int SourceLineOf(const std::string& text) {
  std::ifstream in(fs::path(std::getenv("FW_SOURCE_DIR")) / "tests/system/fault_program.cpp");
  int n = 0;
  for (std::string line; std::getline(in, line);) {
    ++n;
    if (line.find(text) != std::string::npos) return n;
  }
  return -1;
}

class CrashReport : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir.empty());
    std::ofstream(dir / "flashwright.ini", std::ios::binary) << kSettings;
    box = dir / "box.sh";
    // Records what it was given, and ends a while later so that waiting for it shows.
    std::ofstream(box) << "#!/bin/sh\nprintf '%s' \"$1\" > " << (dir / "box-title").string()
                       << "\nprintf '%s' \"$2\" > " << (dir / "box-text").string()
                       << "\nsleep 0.5\necho closed > " << (dir / "box-closed").string() << "\n";
    fs::permissions(box, fs::perms::owner_all);
  }
  ProcessResult Run(const std::string& mode, bool withBox = true) {
    std::vector<std::string> argv = {FW_FAULT_PROGRAM, mode, dir.string()};
    if (withBox) argv.push_back(box.string());
    return RunProcess(argv);
  }
  std::string Log() const { return ReadAll(dir / "ZORDebug.log"); }

  static constexpr const char* kSettings = "[Data Settings]\r\nLogEnable = 1\r\n";
  ScratchFolder scratch{"fw-crash"};
  fs::path dir = scratch.path(), box;
};

TEST_F(CrashReport, NullAccessOnTheMainThread) {
  const ProcessResult r = Run("null-main");
  ASSERT_TRUE(r.started);
  EXPECT_EQ(r.signal, SIGSEGV) << r.output;

  const std::string log = Log();
  const std::string line = std::to_string(SourceLineOf("FW_LOG(\"about to fault: \""));
  EXPECT_NE(log.find("about to fault: null-main\r\n"), std::string::npos);
  EXPECT_NE(log.find("A program error was detected:\r\r"
                     "Error Message:\tInvalid memory access (SIGSEGV)\r"
                     "Error Code:\t-1073741819\r"
                     "Code Address:\t"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("\rTarget Address:\t0\r"
                     "Source Code file:\tfault_program.cpp\r"
                     "Sourcecode line:\t" +
                     line + "\r\rRegister content:\r"),
            std::string::npos)
      << log;
#if defined(__x86_64__)
  for (const char* reg : {"RAX", "RBX", "RCX", "RDX", "RBP", "RSI", "RDI", "RSP", "R8", "R15"})
    EXPECT_NE(log.find(std::string("\r") + reg + " = \t"), std::string::npos) << reg;
#endif
  // The same report on the standard error, with line feeds for the terminal.
  EXPECT_NE(r.output.find("Error Code:\t-1073741819\nCode Address:\t"), std::string::npos)
      << r.output;

  // The box got the title and the report, and the process waited until it was closed.
  EXPECT_EQ(ReadAll(dir / "box-title"), "OnError Info <fw_fault_program>");
  EXPECT_NE(ReadAll(dir / "box-text").find("Sourcecode line:\t" + line + "\r"), std::string::npos);
  EXPECT_EQ(ReadAll(dir / "box-closed"), "closed\n");

  // No shutdown steps: the settings file is as it was, the work folder's log is not closed out.
  EXPECT_EQ(ReadAll(dir / "flashwright.ini"), kSettings);
  EXPECT_EQ(log.find("NoDriveTypeAutoRun$="), std::string::npos);
}

TEST_F(CrashReport, NullAccessOnAWorkerNamesTheWorkersStatement) {
  const ProcessResult r = Run("null-worker", false);
  EXPECT_EQ(r.signal, SIGSEGV) << r.output;
  const std::string line = std::to_string(SourceLineOf("worker about to fault"));
  EXPECT_NE(Log().find("Target Address:\t0\rSource Code file:\tfault_program.cpp\r"
                       "Sourcecode line:\t" +
                       line + "\r"),
            std::string::npos)
      << Log();
  EXPECT_FALSE(fs::exists(dir / "box-title"));
  EXPECT_EQ(ReadAll(dir / "flashwright.ini"), kSettings);
}

TEST_F(CrashReport, DivisionByZero) {
  const ProcessResult r = Run("divide-zero", false);
  EXPECT_EQ(r.signal, SIGFPE) << r.output;
  const std::string log = Log();
  EXPECT_NE(log.find("Error Message:\tDivision by zero (SIGFPE)\rError Code:\t-1073741676\r"
                     "Code Address:\t"),
            std::string::npos)
      << log;
  EXPECT_EQ(log.find("Target Address"), std::string::npos);
  EXPECT_EQ(ReadAll(dir / "flashwright.ini"), kSettings);
}

TEST_F(CrashReport, WithoutAFaultTheShutdownStepsRun) {
  const ProcessResult r = Run("none");
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(Log().find("A program error was detected"), std::string::npos);
  EXPECT_NE(ReadAll(dir / "flashwright.ini"), kSettings);  // saved at exit
  EXPECT_FALSE(fs::exists(dir / "box-title"));
}

}  // namespace
}  // namespace fw
