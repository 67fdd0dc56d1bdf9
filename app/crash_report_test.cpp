#include "app/crash_report.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <cstring>
#include <string>

namespace fw {
namespace {

FaultFacts Facts(int signal, int code) {
  FaultFacts f;
  f.signal = signal;
  f.code = code;
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
  EXPECT_EQ(Report(Facts(SIGSEGV, SEGV_MAPERR), {"/src/flashwright/images/backup.cpp", 214}),
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

TEST(CrashReport, OtherFaultsHaveNoTargetLineAndAnUnknownPositionIsSaid) {
  const std::string division = Report(Facts(SIGFPE, FPE_INTDIV), {});
  EXPECT_NE(division.find("Error Message:\tDivision by zero (SIGFPE)\rError Code:\t-1073741676\r"
                          "Code Address:\t4198400\r"
                          "Sourcecode line: Enable OnError lines support to get code line "
                          "information.\r\rRegister content:\r"),
            std::string::npos)
      << division;
  EXPECT_EQ(division.find("Target Address"), std::string::npos);
  EXPECT_EQ(division.find('\n'), std::string::npos);
}

TEST(CrashReport, CodesAreThoseOfTheEquivalentWindowsFaults) {
  EXPECT_EQ(CrashErrorCode(SIGSEGV, SEGV_ACCERR), -1073741819);
  EXPECT_EQ(CrashErrorCode(SIGBUS, BUS_ADRERR), -1073741819);
  EXPECT_EQ(CrashErrorCode(SIGFPE, FPE_INTDIV), -1073741676);  // 0xC0000094
  EXPECT_EQ(CrashErrorCode(SIGFPE, FPE_INTOVF), -1073741675);  // 0xC0000095
  EXPECT_EQ(CrashErrorCode(SIGILL, ILL_ILLOPC), -1073741795);  // 0xC000001D
  EXPECT_EQ(CrashErrorCode(SIGILL, ILL_PRVOPC), -1073741674);  // 0xC0000096
  EXPECT_STREQ(CrashMessage(SIGILL, ILL_ILLOPN), "Illegal instruction (SIGILL)");
  EXPECT_STREQ(CrashMessage(SIGBUS, BUS_ADRALN), "Invalid memory access (SIGBUS, bus error)");
  EXPECT_EQ(CrashBoxTitle("flashwright"), "OnError Info <flashwright>");
}

TEST(CrashReport, ASmallBufferIsFilledAndTerminatedWithoutOverrun) {
  char out[16];
  std::memset(out, 'x', sizeof out);
  const size_t n = BuildCrashReport(Facts(SIGSEGV, 0), {}, out, 12);
  EXPECT_EQ(n, 11u);
  EXPECT_EQ(std::string(out), "A program e");
  EXPECT_EQ(out[12], 'x');
}

}  // namespace
}  // namespace fw
