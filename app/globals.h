// Process-wide flags and facts shared by the event loop and the workers.
#pragma once

#include <atomic>
#include <string>

// 1 while a disk job or a download runs; each worker sets it at its start and clears it at its end.
extern std::atomic<int> format_op_in_progress;
// The user's cancel request; polled by workers once per chunk, cleared by the worker at its end.
extern std::atomic<int> CancelMainThread;
// Set with CancelMainThread by the Format button during the format job, and by the job on failures.
extern std::atomic<int> FormatStatus;

namespace fw {

inline constexpr const char* kProgramName = "Flashwright";
inline constexpr const char* kVersionString = "v2.1.029 Beta";
inline constexpr const char* kBuildDate = "23.09.2022";
// Worker argument meaning "no argument".
inline constexpr int kNoArgument = -65535;

// Paths of the running program, filled once at start-up (see app/startup.h).
struct ProgramPaths {
  std::string path;      // full path of the executable
  std::string fileName;  // its file name
  std::string baseName;  // file name less its extension (when it has one)
  std::string folder;    // folder part, ending in "/"
};
ProgramPaths& Program();

// Letter of the volume that holds "/", always "C" on Linux (the virtual letter table gives it C:).
std::string SystemDriveLetter();

}  // namespace fw
