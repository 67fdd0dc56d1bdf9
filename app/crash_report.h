// The crash report: when the program faults (invalid memory access, division by zero, illegal
// instruction) on any thread, one report describing the fault goes to the debug log and to the
// standard error, the desktop program shows it in a box, and the process ends at once without
// its shutdown steps (the settings are not saved, the work folder stays).
//
//   int main() {
//     fw::InstallCrashHandler(boxProgram);   // the very first step; "" in the CLI
//     ...
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "app/log.h"
#include "platform/crash_signals.h"

namespace fw {

// Installs the handlers. `boxProgram` is the full path of a small program that shows the report
// in a box and returns when the user closes it (argv: title, report); "" shows no box. The
// faulting process itself cannot safely run a toolkit.
void InstallCrashHandler(const std::string& boxProgram = "");

// The title of the box: "OnError Info <" + program file name + ">".
std::string CrashBoxTitle(const std::string& programFileName);

// --- the report, async-signal-safe (no allocation, no locks) ---

// The Windows code of the equivalent fault, in decimal as the report prints it: -1073741819
// (0xC0000005, access violation) for an invalid access or a bus error, -1073741676 for an integer
// division by zero, -1073741795 for an illegal instruction, and so on.
int32_t CrashErrorCode(FaultKind kind);
// "Invalid memory access", "Division by zero", ...; the report adds the signal's name.
const char* CrashMessage(FaultKind kind);
// Writes the report into `out` (at most `capacity` bytes, always terminated): every line ends
// with a CR alone. `where` is the last logged statement (file null when none is known).
// Returns its length.
size_t BuildCrashReport(const FaultFacts& facts, StatementPosition where, char* out,
                        size_t capacity);

}  // namespace fw
