#include "app/crash_report.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace fw {
namespace {

FaultFacts Facts(FaultKind kind, const char* signalName) {
  FaultFacts f;
  f.kind = kind;
  f.signalName = signalName;
  f.codeAddress = 4198400;
  f.targetAddress = 0;
  f.registers[0] = {"RAX", 7};
  f.registers[1] = {"RBX", -1};
  f.registerCount = 2;
  return f;
}

std::string Report(const FaultFacts& f, StatementPosition where) {
  char out[4096];
  const size_t n = BuildCrashReport(f, where, out, sizeof out);
  EXPECT_EQ(n, std::string(out).size());
  return std::string(out, n);
}

TEST(CrashReport, AnInvalidAccessNamesTheTargetAndTheLastStatement) {
  EXPECT_EQ(Report(Facts(FaultKind::kInvalidAccess, "SIGSEGV"),
                   {"/src/flashwright/images/backup.cpp", 214}),
            "A program error was detected:\r\r"
            "Error Message:\tInvalid memory access (SIGSEGV)\r"
            "Error Code:\t-1073741819\r"
            "Code Address:\t4198400\r"
            "Target Address:\t0\r"
            "Source Code file:\tbackup.cpp\r"
            "Sourcecode line:\t214\r"
            "\r"
            "Register content:\r"
            "RAX = \t7\r"
            "RBX = \t-1\r");
}

TEST(CrashReport, AnUnknownPositionIsSaidAndOnlyAnAccessHasATarget) {
  const std::string report = Report(Facts(FaultKind::kIntDivideByZero, "SIGFPE"), {});
  EXPECT_NE(report.find("Code Address:\t4198400\rSourcecode line: Enable OnError lines support to "
                        "get code line information.\r\rRegister content:\r"),
            std::string::npos)
      << report;
  EXPECT_EQ(report.find("Target Address"), std::string::npos);
}

TEST(CrashReport, CodesAreThoseOfTheEquivalentWindowsFaults) {
  EXPECT_EQ(CrashErrorCode(FaultKind::kInvalidAccess), -1073741819);
  EXPECT_EQ(CrashErrorCode(FaultKind::kBusError), -1073741819);
  EXPECT_EQ(CrashErrorCode(FaultKind::kIntDivideByZero), -1073741676);        // 0xC0000094
  EXPECT_EQ(CrashErrorCode(FaultKind::kIntOverflow), -1073741675);            // 0xC0000095
  EXPECT_EQ(CrashErrorCode(FaultKind::kIllegalInstruction), -1073741795);     // 0xC000001D
  EXPECT_EQ(CrashErrorCode(FaultKind::kPrivilegedInstruction), -1073741674);  // 0xC0000096
  EXPECT_STREQ(CrashMessage(FaultKind::kBusError), "Invalid memory access: bus error");
  EXPECT_EQ(CrashBoxTitle("flashwright"), "OnError Info <flashwright>");
}

TEST(CrashReport, ASmallBufferIsFilledAndTerminatedWithoutOverrun) {
  char out[16];
  std::memset(out, 'x', sizeof out);
  const size_t n = BuildCrashReport(Facts(FaultKind::kInvalidAccess, "SIGSEGV"), {}, out, 12);
  EXPECT_EQ(n, 11u);
  EXPECT_EQ(std::string(out), "A program e");
  EXPECT_EQ(out[12], 'x');
}

}  // namespace
}  // namespace fw
