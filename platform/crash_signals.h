// Fatal signals (invalid memory access, bus error, arithmetic fault, illegal instruction) caught
// on an alternate stack, with the facts that the crash report (app/crash_report.h) prints.
// Everything here may run inside a signal handler: no allocation, no locks, no stdio.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fw {

struct FaultRegister {
  const char* name = "";  // "RAX"
  int64_t value = 0;
};

// What went wrong, as far as the processor tells.
enum class FaultKind {
  kInvalidAccess,  // a page that is not there or not allowed (SIGSEGV)
  kBusError,       // an address the hardware cannot reach (SIGBUS)
  kIntDivideByZero,
  kIntOverflow,
  kFloatDivideByZero,
  kFloatOverflow,
  kFloatUnderflow,
  kFloatInexact,
  kFloatInvalid,
  kSubscriptRange,
  kIllegalInstruction,
  kPrivilegedInstruction,
};

struct FaultFacts {
  FaultKind kind = FaultKind::kInvalidAccess;
  const char* signalName = "";  // "SIGSEGV", "SIGBUS", "SIGFPE", "SIGILL"
  int64_t codeAddress = 0;      // the faulting instruction
  int64_t targetAddress = 0;    // the address that could not be accessed (SIGSEGV, SIGBUS)
  // The platform's general registers at the fault, in the order the report lists them.
  FaultRegister registers[24];
  int registerCount = 0;
};

using FaultCallback = void (*)(const FaultFacts& facts);

// Installs the handler for the four signals on an alternate stack of the calling thread (other
// threads run it on their own stack). `onFault` runs inside the handler; when it returns, the
// process ends through the signal's default action (so its exit status names the signal).
// A second fault on another thread meanwhile waits for that end. False when sigaction failed.
bool InstallFaultHandlers(FaultCallback onFault);

// Async-signal-safe helpers for the callback.
inline constexpr int kStandardErrorFd = 2;
// Writes all `length` bytes to `fd` (retrying after interruptions); false on an error.
bool WriteAllSignalSafe(int fd, const char* data, size_t length);
// Asks the system to put what was written to `fd` on its storage.
void SyncSignalSafe(int fd);
// Runs `argv[0]` (a full path) with `argv` and the process's environment and waits for it to end.
// False when it could not be started.
bool RunAndWaitSignalSafe(const char* const* argv);

}  // namespace fw
