// Linux fatal-signal handling: sigaction with SA_SIGINFO on a sigaltstack, registers read from the
// ucontext, and fork/exec/wait through calls that are safe inside a handler (_Fork, execve,
// waitpid).
#include "platform/crash_signals.h"

#include <errno.h>
#include <signal.h>
#include <sys/wait.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>

extern char** environ;

namespace fw {
namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};
// Large enough for the handler's report buffer and the calls it makes.
constexpr size_t kAltStackBytes = 64 * 1024;
alignas(16) char altStack[kAltStackBytes];

std::atomic<FaultCallback> callback{nullptr};
std::atomic<int> reporting{0};

void AddRegister(FaultFacts& f, const char* name, int64_t value) {
  if (f.registerCount >= static_cast<int>(sizeof f.registers / sizeof f.registers[0])) return;
  f.registers[f.registerCount++] = FaultRegister{name, value};
}

void ReadRegisters(const ucontext_t* uc, FaultFacts& f) {
  if (!uc) return;
#if defined(__x86_64__)
  const greg_t* g = uc->uc_mcontext.gregs;
  f.codeAddress = static_cast<int64_t>(g[REG_RIP]);
  const struct {
    const char* name;
    int index;
  } order[] = {{"RAX", REG_RAX}, {"RBX", REG_RBX}, {"RCX", REG_RCX}, {"RDX", REG_RDX},
               {"RBP", REG_RBP}, {"RSI", REG_RSI}, {"RDI", REG_RDI}, {"RSP", REG_RSP},
               {"R8", REG_R8},   {"R9", REG_R9},   {"R10", REG_R10}, {"R11", REG_R11},
               {"R12", REG_R12}, {"R13", REG_R13}, {"R14", REG_R14}, {"R15", REG_R15}};
  for (const auto& r : order) AddRegister(f, r.name, static_cast<int64_t>(g[r.index]));
#elif defined(__aarch64__)
  static const char* const names[] = {"X0",  "X1",  "X2",  "X3",  "X4",  "X5",  "X6",  "X7",
                                      "X8",  "X9",  "X10", "X11", "X12", "X13", "X14", "X15",
                                      "X16", "X17", "X18", "X19", "X20", "X21", "X22", "X23"};
  f.codeAddress = static_cast<int64_t>(uc->uc_mcontext.pc);
  for (int i = 0; i < 24; ++i)
    AddRegister(f, names[i], static_cast<int64_t>(uc->uc_mcontext.regs[i]));
#else
  (void)uc;  // other processors: the report lists no registers
#endif
}

FaultKind KindOf(int sig, int code) {
  switch (sig) {
    case SIGBUS:
      return FaultKind::kBusError;
    case SIGFPE:
      switch (code) {
        case FPE_INTDIV:
          return FaultKind::kIntDivideByZero;
        case FPE_INTOVF:
          return FaultKind::kIntOverflow;
        case FPE_FLTDIV:
          return FaultKind::kFloatDivideByZero;
        case FPE_FLTOVF:
          return FaultKind::kFloatOverflow;
        case FPE_FLTUND:
          return FaultKind::kFloatUnderflow;
        case FPE_FLTRES:
          return FaultKind::kFloatInexact;
        case FPE_FLTSUB:
          return FaultKind::kSubscriptRange;
        default:
          return FaultKind::kFloatInvalid;
      }
    case SIGILL:
      return code == ILL_PRVOPC || code == ILL_PRVREG ? FaultKind::kPrivilegedInstruction
                                                      : FaultKind::kIllegalInstruction;
    default:
      return FaultKind::kInvalidAccess;
  }
}

const char* SignalName(int sig) {
  switch (sig) {
    case SIGBUS:
      return "SIGBUS";
    case SIGFPE:
      return "SIGFPE";
    case SIGILL:
      return "SIGILL";
    default:
      return "SIGSEGV";
  }
}

void OnSignal(int sig, siginfo_t* info, void* context) {
  if (reporting.exchange(1) != 0) {
    // Another thread is reporting its fault; the process ends when it is done.
    for (;;) pause();
  }
  FaultFacts facts;
  facts.kind = KindOf(sig, info ? info->si_code : 0);
  facts.signalName = SignalName(sig);
  ReadRegisters(static_cast<const ucontext_t*>(context), facts);
  if (info && (sig == SIGSEGV || sig == SIGBUS))
    facts.targetAddress = static_cast<int64_t>(reinterpret_cast<intptr_t>(info->si_addr));
  if (facts.codeAddress == 0 && info && sig != SIGSEGV && sig != SIGBUS)
    facts.codeAddress = static_cast<int64_t>(reinterpret_cast<intptr_t>(info->si_addr));
  if (FaultCallback cb = callback.load()) cb(facts);
  // The default action ends the process; raised again so that a signal sent by kill() (which
  // does not come back when the handler returns) ends it too.
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  sigaction(sig, &dfl, nullptr);
  raise(sig);
}

}  // namespace

bool InstallFaultHandlers(FaultCallback onFault) {
  callback.store(onFault);
  stack_t ss{};
  ss.ss_sp = altStack;
  ss.ss_size = sizeof altStack;
  ss.ss_flags = 0;
  sigaltstack(&ss, nullptr);
  bool ok = true;
  for (int sig : kSignals) {
    struct sigaction sa {};
    sa.sa_sigaction = OnSignal;
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&sa.sa_mask);
    // A second fatal signal on the reporting thread is held until the default action ends it.
    for (int other : kSignals) sigaddset(&sa.sa_mask, other);
    ok = sigaction(sig, &sa, nullptr) == 0 && ok;
  }
  return ok;
}

bool WriteAllSignalSafe(int fd, const char* data, size_t length) {
  while (length > 0) {
    const ssize_t n = write(fd, data, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

void SyncSignalSafe(int fd) { fsync(fd); }

bool RunAndWaitSignalSafe(const char* const* argv) {
  const pid_t pid = _Fork();
  if (pid < 0) return false;
  if (pid == 0) {
    execve(argv[0], const_cast<char* const*>(argv), environ);
    _exit(127);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return !(WIFEXITED(status) && WEXITSTATUS(status) == 127);
}

}  // namespace fw
