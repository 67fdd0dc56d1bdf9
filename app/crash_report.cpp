#include "app/crash_report.h"

#include <cstring>

#include "platform/sysinfo.h"

namespace fw {
namespace {

// Appends to a fixed buffer; everything it does is safe inside a signal handler.
class ReportText {
 public:
  ReportText(char* out, size_t capacity) : out_(out), capacity_(capacity) {
    if (capacity_ > 0) out_[0] = '\0';
  }
  ReportText& operator<<(const char* text) {
    for (; text && *text; ++text) Put(*text);
    return *this;
  }
  ReportText& operator<<(int64_t value) {
    char digits[24];
    int n = 0;
    // Negative values are taken apart as unsigned so that the smallest one works too.
    uint64_t magnitude =
        value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    do {
      digits[n++] = static_cast<char>('0' + magnitude % 10);
      magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) Put('-');
    while (n > 0) Put(digits[--n]);
    return *this;
  }
  size_t Length() const { return length_; }

 private:
  void Put(char c) {
    if (length_ + 1 >= capacity_) return;
    out_[length_++] = c;
    out_[length_] = '\0';
  }
  char* out_;
  size_t capacity_;
  size_t length_ = 0;
};

constexpr int32_t Code(uint32_t ntStatus) { return static_cast<int32_t>(ntStatus); }
constexpr int32_t kAccessViolation = Code(0xC0000005u);

const char* BaseName(const char* path) {
  const char* base = path;
  for (const char* p = path; *p; ++p)
    if (*p == '/') base = p + 1;
  return base;
}

// State of the installed handler, fixed before any fault can happen.
char boxProgramPath[4096];
char boxTitle[512];
char report[16384];
char stderrCopy[sizeof report];

void OnFault(const FaultFacts& facts) {
  const size_t length = BuildCrashReport(facts, CurrentStatement(), report, sizeof report);
  const int logFd = LogFileDescriptor();
  if (logFd >= 0) {
    WriteAllSignalSafe(logFd, report, length);
    WriteAllSignalSafe(logFd, "\r\n", 2);
    SyncSignalSafe(logFd);
  }
  // A terminal needs line feeds: a CR alone would draw every line over the one before.
  for (size_t i = 0; i <= length; ++i) stderrCopy[i] = report[i] == '\r' ? '\n' : report[i];
  WriteAllSignalSafe(kStandardErrorFd, stderrCopy, length);
  if (boxProgramPath[0] != '\0') {
    const char* argv[] = {boxProgramPath, boxTitle, report, nullptr};
    RunAndWaitSignalSafe(argv);
  }
}

void CopyInto(char* target, size_t capacity, const std::string& text) {
  const size_t n = text.size() < capacity - 1 ? text.size() : capacity - 1;
  std::memcpy(target, text.data(), n);
  target[n] = '\0';
}

}  // namespace

std::string CrashBoxTitle(const std::string& programFileName) {
  return "OnError Info <" + programFileName + ">";
}

void InstallCrashHandler(const std::string& boxProgram) {
  const std::string exe = ExecutablePath();
  const size_t slash = exe.rfind('/');
  CopyInto(boxTitle, sizeof boxTitle,
           CrashBoxTitle(slash == std::string::npos ? exe : exe.substr(slash + 1)));
  CopyInto(boxProgramPath, sizeof boxProgramPath, boxProgram);
  InstallFaultHandlers(&OnFault);
}

int32_t CrashErrorCode(FaultKind kind) {
  switch (kind) {
    case FaultKind::kInvalidAccess:
    case FaultKind::kBusError:
      return kAccessViolation;
    case FaultKind::kIntDivideByZero:
      return Code(0xC0000094u);
    case FaultKind::kIntOverflow:
      return Code(0xC0000095u);
    case FaultKind::kFloatDivideByZero:
      return Code(0xC000008Eu);
    case FaultKind::kFloatOverflow:
      return Code(0xC0000091u);
    case FaultKind::kFloatUnderflow:
      return Code(0xC0000093u);
    case FaultKind::kFloatInexact:
      return Code(0xC000008Fu);
    case FaultKind::kFloatInvalid:
      return Code(0xC0000090u);
    case FaultKind::kSubscriptRange:
      return Code(0xC000008Cu);  // array bounds exceeded
    case FaultKind::kIllegalInstruction:
      return Code(0xC000001Du);
    case FaultKind::kPrivilegedInstruction:
      return Code(0xC0000096u);
  }
  return kAccessViolation;
}

const char* CrashMessage(FaultKind kind) {
  switch (kind) {
    case FaultKind::kInvalidAccess:
      return "Invalid memory access";
    case FaultKind::kBusError:
      return "Invalid memory access: bus error";
    case FaultKind::kIntDivideByZero:
      return "Division by zero";
    case FaultKind::kIntOverflow:
      return "Integer overflow";
    case FaultKind::kFloatDivideByZero:
      return "Floating-point division by zero";
    case FaultKind::kFloatOverflow:
    case FaultKind::kFloatUnderflow:
    case FaultKind::kFloatInexact:
    case FaultKind::kFloatInvalid:
      return "Floating-point error";
    case FaultKind::kSubscriptRange:
      return "Array bounds exceeded";
    case FaultKind::kIllegalInstruction:
      return "Illegal instruction";
    case FaultKind::kPrivilegedInstruction:
      return "Privileged instruction";
  }
  return "Unknown fault";
}

size_t BuildCrashReport(const FaultFacts& facts, StatementPosition where, char* out,
                        size_t capacity) {
  ReportText t(out, capacity);
  const int32_t code = CrashErrorCode(facts.kind);
  t << "A program error was detected:\r\r";
  t << "Error Message:\t" << CrashMessage(facts.kind) << " (" << facts.signalName << ")\r";
  t << "Error Code:\t" << static_cast<int64_t>(code) << "\r";
  t << "Code Address:\t" << facts.codeAddress << "\r";
  if (code == kAccessViolation) t << "Target Address:\t" << facts.targetAddress << "\r";
  if (where.file != nullptr) {
    t << "Source Code file:\t" << BaseName(where.file) << "\r";
    t << "Sourcecode line:\t" << static_cast<int64_t>(where.line) << "\r";
  } else {
    t << "Sourcecode line: Enable OnError lines support to get code line information.\r";
  }
  t << "\rRegister content:\r";
  for (int i = 0; i < facts.registerCount; ++i)
    t << facts.registers[i].name << " = \t" << facts.registers[i].value << "\r";
  return t.Length();
}

}  // namespace fw
